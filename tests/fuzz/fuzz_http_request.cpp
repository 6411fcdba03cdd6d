// Arbitrary bytes as what a client sends the web endpoint, whole and in
// pieces the input chooses, then answered.
#include <cstdint>
#include <cstring>
#include <memory>

#include "tests/fuzz/fuzz_check.h"
#include "web/http_request.h"
#include "web/web_answers.h"

namespace {

constexpr uint32_t kPort = 8725;

// What the answers read besides the request: nothing received yet.
MeasurementStore gStore;
LiveFeed gFeed;
char gAnswer[65536];

// Parses bytes[0..length) from a buffer of exactly that length, so reading past it is caught.
ParsedRequest Parse(const char* bytes, size_t length) {
    std::unique_ptr<char[]> copy(new char[length]);
    std::memcpy(copy.get(), bytes, length);
    return ParseRequest(copy.get(), length, kPort);
}

}  // namespace

// Byte 0 chooses where the request is cut; the rest is the request, as the
// endpoint holds it (at most kRequestHeadLimit bytes).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    if (gStore.samples.capacity == 0) InitMeasurementStore(gStore);
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    size_t length = size - 1 < kRequestHeadLimit ? size - 1 : kRequestHeadLimit;

    ParsedRequest whole = Parse(bytes, length);
    FUZZ_CHECK(whole.headLength <= length);
    bool served = whole.verdict == RequestVerdict::Get || whole.verdict == RequestVerdict::Head;
    FUZZ_CHECK(served == (whole.route != WebRoute::None));
    if (served) FUZZ_CHECK(whole.headLength > 0 && bytes[whole.headLength - 1] == '\n');

    // A shorter piece may still be waiting, but what it decides is final.
    size_t cuts[] = {length * data[0] / 255, length / 2, length > 0 ? length - 1 : 0};
    for (size_t cut : cuts) {
        ParsedRequest early = Parse(bytes, cut);
        FUZZ_CHECK(early.verdict == RequestVerdict::Incomplete || early.verdict == whole.verdict);
    }

    if (whole.verdict != RequestVerdict::Incomplete) {
        WebSnapshot snapshot = {};
        TextSink sink = SinkOver(gAnswer, sizeof gAnswer);
        Answer answer = PutAnswer(sink, whole, snapshot, gStore, gFeed);
        FUZZ_CHECK(!sink.overflowed);
        FUZZ_CHECK(std::memcmp(gAnswer, "HTTP/1.1 ", 9) == 0);
        FUZZ_CHECK(answer.streams == (whole.verdict == RequestVerdict::Get && whole.route == WebRoute::Events));
    }
    return 0;
}
