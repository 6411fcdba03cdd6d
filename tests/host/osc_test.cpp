#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "web/osc_message.h"
#include "web/osc_policy.h"

namespace {

std::string Bytes(const char* data, size_t length) { return std::string(data, length); }

TEST(OscMessage, MatchesHandMadeBytes) {
    struct Case {
        const char* what;
        std::string expected;
        size_t (*encode)(char*, size_t);
    } cases[] = {
        // The example message that OSC 1.0 itself gives: 440.0 to /oscillator/4/frequency.
        {"float 440 to /oscillator/4/frequency",
         std::string("/oscillator/4/frequency\0,f\0\0\x43\xdc\x00\x00", 32),
         [](char* out, size_t room) { return EncodeOscFloat(out, room, "/oscillator/4/frequency", 440.0f); }},
        {"int 72; 21-byte address padded to 24",
         std::string("/avatar/parameters/HR\0\0\0,i\0\0\0\0\0\x48", 32),
         [](char* out, size_t room) { return EncodeOscInt(out, room, "/avatar/parameters/HR", 72); }},
        {"negative int, big-endian",
         std::string("/n\0\0,i\0\0\xff\xff\xfe\xd4", 12),
         [](char* out, size_t room) { return EncodeOscInt(out, room, "/n", -300); }},
        {"an address of 4 bytes gets 4 zeros",
         std::string("/abc\0\0\0\0,T\0\0", 12),
         [](char* out, size_t room) { return EncodeOscBool(out, room, "/abc", true); }},
        {"false carries no argument bytes",
         std::string("/a\0\0,F\0\0", 8),
         [](char* out, size_t room) { return EncodeOscBool(out, room, "/a", false); }},
        {"float -1", std::string("/f\0\0,f\0\0\xbf\x80\x00\x00", 12),
         [](char* out, size_t room) { return EncodeOscFloat(out, room, "/f", -1.0f); }},
    };
    for (const Case& c : cases) {
        char out[kOscMessageLimit];
        std::memset(out, 0x55, sizeof out);
        size_t length = c.encode(out, sizeof out);
        EXPECT_EQ(Bytes(out, length), c.expected) << c.what;
        // One byte less room than the message needs: refused, not cut.
        EXPECT_EQ(c.encode(out, c.expected.size() - 1), 0u) << c.what;
    }
}

// One message of a batch as "Name type value", read back the way a receiver does.
std::string Read(const OscBatch& batch, uint32_t i) {
    const char* m = batch.bytes[i];
    std::string address(m);
    size_t tagsAt = (address.size() + 4) & ~size_t(3);
    char tag = m[tagsAt + 1];
    std::string name = address.substr(address.rfind('/') + 1);
    if (tag == 'T' || tag == 'F') return name + " " + tag;
    const unsigned char* v = reinterpret_cast<const unsigned char*>(m + tagsAt + 4);
    uint32_t bits = uint32_t(v[0]) << 24 | uint32_t(v[1]) << 16 | uint32_t(v[2]) << 8 | v[3];
    if (tag == 'i') return name + " i " + std::to_string(int32_t(bits));
    float f;
    std::memcpy(&f, &bits, 4);
    char text[32];
    std::snprintf(text, sizeof text, "%s f %.4f", name.c_str(), f);
    return text;
}

std::vector<std::string> ReadAll(const OscBatch& batch) {
    std::vector<std::string> all;
    for (uint32_t i = 0; i < batch.count; ++i) all.push_back(Read(batch, i));
    return all;
}

std::vector<std::string> Set(int bpm, bool toggle) {
    char f[32], f01[32];
    std::snprintf(f, sizeof f, "HeartRateFloat f %.4f", bpm / 127.5 - 1);
    std::snprintf(f01, sizeof f01, "HeartRateFloat01 f %.4f", bpm / 255.0);
    return {"HeartRateInt i " + std::to_string(bpm), f, f01, "HR i " + std::to_string(bpm),
            std::string("HeartBeatToggle ") + (toggle ? "T" : "F"), "isHRConnected T"};
}

const std::vector<std::string> kNothing;
const std::vector<std::string> kDisconnected = {"isHRConnected F"};

TEST(OscPolicy, FollowsTheRatesAndTheStateOnASimulatedClock) {
    struct Step {
        uint64_t ms;
        bool live;
        uint8_t rate;
        uint32_t serial;  // rates stored since start
        std::vector<std::string> sent;
    } steps[] = {
        {0, false, 0, 7, kNothing},                  // not live yet: silence, and the 7 old rates are no news
        {100, false, 0, 7, kNothing},
        {200, true, 72, 8, Set(72, true)},           // the first rate: a set, the toggle flips
        {216, true, 72, 8, kNothing},
        {1199, true, 72, 8, kNothing},
        {1200, true, 72, 8, Set(72, true)},          // a second without a rate: repeated, no flip
        {1500, true, 0, 9, Set(0, false)},           // each rate flips, whatever its value
        {1516, true, 255, 10, Set(255, true)},       // rates close together each get their set
        {2516, true, 255, 10, Set(255, true)},
        {3000, false, 255, 10, kDisconnected},       // leaving live: false once
        {3016, false, 255, 10, kNothing},
        {9000, false, 90, 11, kNothing},             // a rate while not live says nothing
        {9500, true, 91, 12, Set(91, false)},
        {9600, false, 91, 12, kDisconnected},
    };
    OscPolicy policy = StartOscPolicy(7);
    OscBatch batch = {};
    for (const Step& s : steps) {
        PlanOsc(policy, s.live, s.rate, s.serial, s.ms, batch);
        EXPECT_EQ(ReadAll(batch), s.sent) << "at " << s.ms << " ms";
    }
}

TEST(OscPolicy, AFloodOfRatesIsCappedAndTheSerialWraps) {
    OscPolicy policy = StartOscPolicy(0xFFFFFFFEu);
    OscBatch batch = {};
    PlanOsc(policy, true, 80, 1, 0, batch);  // three rates across the wrap
    EXPECT_EQ(batch.count, 3 * kOscSetMessages);
    PlanOsc(policy, true, 80, 1001, 10, batch);  // a thousand in one go
    EXPECT_EQ(batch.count, kOscBatchLimit);
    for (uint32_t i = 0; i < batch.count; ++i) EXPECT_GT(batch.lengths[i], 0u) << i;
}

}  // namespace
