// Draining real bytes: the test plays the measuring device on COM6 and the
// link reads COM5, the other end of the same pseudo-terminal pair.
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

    // Drains for a while, for bytes that must not make a line yet.
    void DrainFor(DWORD milliseconds) {
        WaitUntil(
            [&] {
                DrainSerial(link, store, feed, 0);
                return false;
            },
            milliseconds);
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
    SendAndDrainUntil("B72\r\nS1\r\n", 1);
    EXPECT_EQ(Echoes(), EchoedAs({"B72", "S1"}));
}

TEST_F(DrainTest, ALineSplitAcrossWritesIsTakenOnceComplete) {
    ASSERT_TRUE(SendFromDevice(device, "S12"));
    DrainFor(150);
    EXPECT_EQ(store.samples.writeIndex, 0u);
    EXPECT_TRUE(Echoes().empty());
    SendAndDrainUntil("34\r\nB6", 1);
    DrainFor(100);
    SendAndDrainUntil("5\r\nS5\r\n", 2);
    EXPECT_EQ(Samples(), (std::vector<uint32_t>{1234, 5}));
    EXPECT_EQ(Beats(), (std::vector<uint32_t>{65}));
    EXPECT_EQ(BeatFile(), "65");
    EXPECT_EQ(Echoes(), EchoedAs({"S1234", "B65", "S5"}));
}

TEST_F(DrainTest, RuleBreakingLinesBehaveAsOnAnyOtherDevice) {
    const std::string stream = std::string("S5\0" "12\r\n", 7) +  // NUL dropped
                               "S00000000000512\r\n"              // 17 bytes: discarded
                               "B60\n"                            // bare LF ends a line
                               "S65535\r\nB255\r\n"               // out of range: echoed only
                               "X1\r\n"                           // not a record: echoed only
                               "S8\r\n";
    SendAndDrainUntil(stream, 2);
    EXPECT_EQ(Samples(), (std::vector<uint32_t>{512, 8}));
    EXPECT_EQ(Beats(), (std::vector<uint32_t>{60}));
    EXPECT_EQ(BeatFile(), "60");
    EXPECT_EQ(Echoes(), EchoedAs({"S512", "B60", "S65535", "B255", "X1", "S8"}));
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
