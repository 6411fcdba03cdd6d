// Draining real bytes: the test plays the measuring device on COM6 and the
// link reads COM5, the other end of the same pseudo-terminal pair. The
// decoding rules (split lines, rule-breaking lines) are tested on the host
// (tests/host/drain_test.cpp); here, that real reads reach them whole and
// that the real echo and bpm.txt get what they decide.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/drain_serial.h"
#include "tests/win/win_test_support.h"

namespace {

using Strings = std::vector<std::string>;

class DrainTest : public ::testing::Test {
  protected:
    SerialLink link = kClosedLink;
    MeasurementStore store = {};
    LiveFeed feed = {};
    HANDLE device = INVALID_HANDLE_VALUE;
    size_t logMark = 0;

    void SetUp() override {
        InitMeasurementStore(store);
        DeleteFileA("bpm.txt");
        OpenPort(link, 5, 115200);
        ASSERT_NE(link.device, kNoDevice);
        // Opened after COM5: Wine flushes a terminal when it opens it.
        device = OpenDeviceEnd("COM6", 115200);
        ASSERT_NE(device, INVALID_HANDLE_VALUE);
        logMark = DebugLogMark();
    }

    void TearDown() override {
        ClosePort(link);
        if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
    }

    // Sends bytes as the device, then drains as the event loop would until
    // `samples` samples are stored in all.
    void SendAndDrainUntil(const std::string& bytes, uint32_t samples) {
        ASSERT_TRUE(SendFromDevice(device, bytes));
        bool arrived = WaitUntil(
            [&] {
                DrainSerial(link, store, feed, 0);
                return store.samples.writeIndex >= samples;
            },
            5000);
        ASSERT_TRUE(arrived) << "samples stored: " << store.samples.writeIndex << " of " << samples;
        EXPECT_EQ(store.samples.writeIndex, samples) << "more samples than sent";
    }

    // The samples stored so far, oldest first (the tests never fill the ring).
    std::vector<uint32_t> Samples() const {
        return std::vector<uint32_t>(store.samples.slots, store.samples.slots + store.samples.writeIndex);
    }

    // The beat rates stored so far, oldest first.
    std::vector<uint32_t> Beats() const {
        return std::vector<uint32_t>(store.beats.slots, store.beats.slots + store.beats.writeIndex);
    }

    // What "bpm.txt" holds now.
    static std::string BeatFile() {
        std::string content;
        return ReadWholeFile("bpm.txt", &content) ? content : "<missing>";
    }

    // Lines as echoed: each followed by its own separate line end.
    Strings Echoes() const { return DebugStringsSince(logMark); }
};

// The debugger strings that echoing these lines gives.
Strings EchoedAs(const Strings& lines) {
    Strings calls;
    for (const std::string& line : lines) {
        calls.push_back(line);
        calls.push_back("\\n");
    }
    return calls;
}

TEST_F(DrainTest, RecordsReachTheRingsAndTheBeatFile) {
    SendAndDrainUntil("S512\r\nB100\r\nS7\r\nB72\r\nS9\r\n", 3);
    EXPECT_EQ(Samples(), (std::vector<uint32_t>{512, 7, 9}));
    EXPECT_EQ(Beats(), (std::vector<uint32_t>{100, 72}));
    // Rewritten whole each time: "72" after "100" must not leave "720".
    EXPECT_EQ(BeatFile(), "72");
}

TEST_F(DrainTest, EveryLineIsEchoedToTheDebuggerFollowedByALineEnd) {
    // The real port passes every byte as sent: a NUL (the drain drops it), a bare LF, CR LF.
    SendAndDrainUntil(std::string("B72\r\nS\0" "1\nS2\r\n", 13), 2);
    EXPECT_EQ(Echoes(), EchoedAs({"B72", "S1", "S2"}));
}

TEST_F(DrainTest, ABurstOfManyLinesArrivesWholeAndInOrder) {
    std::string burst;
    std::vector<uint32_t> sent;
    for (uint32_t k = 0; k < 300; ++k) {
        sent.push_back(1000 + k * 7);
        burst += "S" + std::to_string(sent.back()) + "\r\n";
    }
    SendAndDrainUntil(burst, 300);
    EXPECT_EQ(Samples(), sent);
}

}  // namespace
