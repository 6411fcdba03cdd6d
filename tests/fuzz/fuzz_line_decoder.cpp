// Hostile device streams through the drain: arbitrary bytes, cut into
// arrivals and reads of sizes the input chooses. Input layout: byte 0 = n,
// the next n bytes choose the sizes (used round and round), the rest is the
// stream. n = 0 delivers the whole stream at once.
#include <algorithm>
#include <cstdint>
#include <string>

#include "serial/drain_serial.h"
#include "tests/fuzz/decoder_rig.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/reference_lines.h"

namespace {

// Whatever came before, these bytes must leave 77 as the latest beat rate.
const std::string kResync = "\r\nB77\r\n";

// One event-loop tick: drain what has arrived, then check the state it left.
void Drain() {
    DrainSerial(gRig.link, gRig.store, gRig.feed, 0);
    CheckLineBuffer();
    CheckRingPositions();
    FUZZ_CHECK(gRig.bpmWritesSinceEcho == 0);
}

// Drains with reads that take all the room, which must consume every byte that arrived.
void DrainEverything() {
    gRig.fullReads = true;
    Drain();
    gRig.fullReads = false;
    FUZZ_CHECK(gRig.readAt == gRig.arrived.size());
}

// Delivers the stream in input-sized arrivals; the top bit of a size byte
// holds the drain back so several arrivals pile up for one drain.
void DeliverInArrivals(const std::string& stream) {
    size_t delivered = 0;
    int emptyInARow = 0;
    while (delivered < stream.size()) {
        uint8_t choice = TakeControl();
        size_t size = (choice & 0x30) == 0x30 ? 16 + (choice & 0x0F) * 8u : choice & 0x0Fu;
        // Ticks with nothing new are fine, but the stream must get through.
        if (size == 0 && ++emptyInARow > 16) size = 1;
        if (size > 0) emptyInARow = 0;
        size = std::min(size, stream.size() - delivered);
        gRig.arrived.append(stream, delivered, size);
        delivered += size;
        if ((choice & 0x80) == 0) Drain();
    }
}

// Every slot of both rings holds a value in its range.
void CheckEveryStoredValue() {
    for (uint16_t sample : gRig.store.samples.slots) FUZZ_CHECK(sample < 65535);
    for (uint8_t beat : gRig.store.beats.slots) FUZZ_CHECK(beat < 255);
}

// Runs the stream, then the resynchronising bytes (split in two when
// `splitResync`), checking the full outcome against the reference.
void RunStream(const uint8_t* control, size_t controlCount, const std::string& stream, bool splitResync) {
    ResetDecoderRig(control, controlCount, ReferenceLines(stream + kResync));
    DeliverInArrivals(stream);
    DrainEverything();
    FUZZ_CHECK(gRig.echoed == ReferenceLines(stream).size());

    if (splitResync) {
        size_t split = 1 + TakeControl() % (kResync.size() - 1);
        gRig.arrived += kResync.substr(0, split);
        Drain();
        gRig.arrived += kResync.substr(split);
        Drain();
    } else {
        gRig.arrived += kResync;
    }
    DrainEverything();
    FUZZ_CHECK(gRig.echoed == gRig.expectedLines.size());
    FUZZ_CHECK(gRig.expectedLines.back() == "B77");
    FUZZ_CHECK(LatestBeatRate(gRig.store) == 77);
    FUZZ_CHECK(gRig.lastBpm == "77");
    CheckEveryStoredValue();
}

}  // namespace

// Splits the input into size choices and stream, then runs the stream twice:
// resynchronising bytes in one arrival, then split in two.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t controlCount = std::min(static_cast<size_t>(data[0]), size - 1);
    const uint8_t* control = data + 1;
    std::string stream(reinterpret_cast<const char*>(control + controlCount), size - 1 - controlCount);
    RunStream(control, controlCount, stream, false);
    RunStream(control, controlCount, stream, true);
    return 0;
}
