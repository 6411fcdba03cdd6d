#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "serial/drain_serial.h"
#include "serial/link_watch.h"
#include "tests/host/fake_serial_platform.h"

namespace {

// What the store, the bpm file and the echo received.
struct Outcome {
    std::vector<uint32_t> samples;
    std::vector<uint32_t> beats;
    std::vector<std::string> bpm;
    std::vector<std::string> echoes;
};

bool operator==(const Outcome& a, const Outcome& b) {
    return a.samples == b.samples && a.beats == b.beats && a.bpm == b.bpm && a.echoes == b.echoes;
}

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    out << "samples:";
    for (uint32_t v : o.samples) out << ' ' << v;
    out << " beats:";
    for (uint32_t v : o.beats) out << ' ' << v;
    out << " echoes:";
    for (const std::string& e : o.echoes) out << " [" << e << ']';
    return out;
}

// A device open on port 3; port 4 is there too.
struct Rig {
    SerialLink link = kClosedLink;
    MeasurementStore store = {};
    LiveFeed feed = {};

    Rig() {
        ResetFakeSerialPlatform();
        gFake.presentPorts = {3, 4};
        OpenPort(link, 3, 115200);
        InitMeasurementStore(store);
    }

    // Delivers bytes as one arrival, then drains as the event loop would.
    void Arrive(const std::string& bytes) {
        if (!bytes.empty()) gFake.pendingReads.push_back(bytes);
        DrainSerial(link, store, feed, 0);
        CheckBufferInvariants();
    }

    void CheckBufferInvariants() const {
        const LineBuffer& buffer = link.pending;
        ASSERT_EQ(buffer.capacity, kLineBufferSize);
        ASSERT_GE(buffer.cursor, 0);
        ASSERT_LT(buffer.cursor, kLineBufferSize);
        ASSERT_NE(std::memchr(buffer.storage + buffer.cursor, '\0', kLineBufferSize - buffer.cursor), nullptr);
    }

    Outcome Result() const {
        Outcome o;
        for (uint32_t i = 0; i < store.samples.writeIndex; ++i) o.samples.push_back(store.samples.slots[i]);
        for (uint32_t i = 0; i < store.beats.writeIndex; ++i) o.beats.push_back(store.beats.slots[i]);
        o.bpm = gFake.bpmWrites;
        o.echoes = gFake.echoes;
        return o;
    }
};

Outcome DrainInArrivals(const std::vector<std::string>& arrivals) {
    Rig rig;
    for (const std::string& a : arrivals) rig.Arrive(a);
    return rig.Result();
}

// Protocol spellings, line ends and rule-breaking lines together, as one stream.
const std::string kStream = std::string("S512\r\nB72\r\nX17\r\nS 300\r\nB72 bpm\r\n\r\nS1\rS2\r\n") +
                            "s9\r\nb9\r\nS65535\r\nB255\r\nB254\r\nS-1\r\nS\r\nBx\r\nS-\r\nS000000000042\r\n" +
                            "S7\nB60\n\nS00000000000512\r\nS8\r\n" + std::string("S5\0" "12\r\n", 8) + "B+61\r\n";

const Outcome kStreamOutcome = {
    {512, 300, 1, 42, 7, 8, 512},
    {72, 72, 254, 60, 61},
    {"72", "72", "254", "60", "61"},
    {"S512", "B72", "X17", "S 300", "B72 bpm", "", "S1\rS2", "s9", "b9", "S65535", "B255", "B254", "S-1", "S", "Bx",
     "S-", "S000000000042", "S7", "B60", "", "S8", "S512", "B+61"},
};

TEST(DrainSerial, WholeStreamDecodesEveryRule) { EXPECT_EQ(DrainInArrivals({kStream}), kStreamOutcome); }

TEST(DrainSerial, SameResultWhereverTheStreamIsSplit) {
    for (size_t i = 0; i <= kStream.size(); ++i) {
        EXPECT_EQ(DrainInArrivals({kStream.substr(0, i), kStream.substr(i)}), kStreamOutcome) << "split at " << i;
    }
    for (size_t i = 0; i <= kStream.size(); i += 3) {
        for (size_t j = i; j <= kStream.size(); j += 2) {
            Outcome o = DrainInArrivals({kStream.substr(0, i), kStream.substr(i, j - i), kStream.substr(j)});
            ASSERT_EQ(o, kStreamOutcome) << "split at " << i << " and " << j;
        }
    }
}

TEST(DrainSerial, ByteAtATime) {
    std::vector<std::string> bytes;
    for (char c : kStream) bytes.emplace_back(1, c);
    EXPECT_EQ(DrainInArrivals(bytes), kStreamOutcome);
}

TEST(DrainSerial, LineCompletedByALaterCall) {
    Rig rig;
    rig.Arrive("S512\r\nB7");
    EXPECT_EQ(rig.Result(), (Outcome{{512}, {}, {}, {"S512"}}));
    rig.Arrive("2\r\n");
    EXPECT_EQ(rig.Result(), (Outcome{{512}, {72}, {"72"}, {"S512", "B72"}}));
}

TEST(DrainSerial, OverlongLinesAreSkippedAndTheStreamGoesOn) {
    struct Case {
        const char* name;
        std::vector<std::string> arrivals;
        Outcome expected;
    } cases[] = {
        {"16 bytes", {"S00000000000512\r\nS3\r\n"}, {{3}, {}, {}, {"S3"}}},
        {"long, one arrival", {std::string(60, '9') + "\r\nB70\r\n"}, {{}, {70}, {"70"}, {"B70"}}},
        {"long, many arrivals", {"S123456789", "0123456789", "0123456789", "\r\nS4\r\n"}, {{4}, {}, {}, {"S4"}}},
        {"ended by bare LF", {"B1234567890123456\nB71\r\n"}, {{}, {71}, {"71"}, {"B71"}}},
        {"15 pending, LF next", {"S1234567890123", "4\r\nS5\r\n"}, {{5}, {}, {}, {"S5"}}},
        {"exactly 15 bytes fits", {"S000000000512\r", "\n"}, {{512}, {}, {}, {"S000000000512"}}},
    };
    for (const Case& c : cases) EXPECT_EQ(DrainInArrivals(c.arrivals), c.expected) << c.name;
}

TEST(DrainSerial, NulBytesAreDroppedNotTheBytesAfterThem) {
    EXPECT_EQ(DrainInArrivals({std::string("\0S\0" "6\0\r\0\n\0", 10)}), (Outcome{{6}, {}, {}, {"S6"}}));
    EXPECT_EQ(DrainInArrivals({std::string("B7\0", 3), std::string("5\r\n", 3)}),
              (Outcome{{}, {75}, {"75"}, {"B75"}}));
}

TEST(DrainSerial, BareLineFeedAsFirstByteOfStorage) {
    EXPECT_EQ(DrainInArrivals({"\n", "\nS9\n"}), (Outcome{{9}, {}, {}, {"", "", "S9"}}));
}

TEST(DrainSerial, NoDeviceMeansNoRead) {
    Rig rig;
    rig.link = kClosedLink;
    rig.Arrive("S1\r\n");
    EXPECT_EQ(gFake.readCalls, 0);
    EXPECT_TRUE(rig.Result() == Outcome{});
}

TEST(DrainSerial, OneCallTakesABurstOfManyReads) {
    std::string burst;
    for (int i = 0; i < 500; ++i) burst += "S" + std::to_string(i) + "\r\n";
    Rig rig;
    rig.Arrive(burst);
    EXPECT_EQ(rig.store.samples.writeIndex, 100u);  // 500 samples wrapped once in 400 slots
    EXPECT_EQ(rig.store.samples.slots[99], 499);
    EXPECT_EQ(gFake.echoes.size(), 500u);
}

// Some drivers fail reads of a pulled device while its line state still reads
// fine: the first failing read closes the link; the watch reopens it.
TEST(DrainSerial, AFailingReadClosesTheLinkUntilTheDeviceAnswers) {
    Rig rig;
    LinkWatch watch = {0};
    rig.Arrive("S1\r\nB7");
    ASSERT_NE(rig.link.device, kNoDevice) << "a read that brings nothing is no failure";

    gFake.failReads = true;
    int reads = gFake.readCalls;
    rig.Arrive("");
    EXPECT_EQ(gFake.readCalls, reads + 1);
    EXPECT_EQ(rig.link.device, kNoDevice);
    EXPECT_EQ(gFake.openDevices, 0);
    WatchLink(watch, rig.link, 3, 115200, 0);  // opens, and still fails to read
    ASSERT_NE(rig.link.device, kNoDevice);
    rig.Arrive("");
    EXPECT_EQ(rig.link.device, kNoDevice);

    gFake.failReads = false;
    WatchLink(watch, rig.link, 3, 115200, 1000);
    rig.Arrive("B81\r\n");
    EXPECT_EQ(rig.link.port, 3u);
    EXPECT_EQ(rig.Result(), (Outcome{{1}, {81}, {"81"}, {"S1", "B81"}}));
}

// Pending bytes belong to their connection: whatever closes or switches the
// link drops them (an overlong line being skipped included), so they never
// join the first line of the next connection; a link that stays open keeps them.
TEST(DrainSerial, PendingBytesLastAsLongAsTheirConnection) {
    const Outcome kept = {{}, {65, 81}, {"65", "81"}, {"B65", "B81"}};
    const Outcome dropped = {{}, {81}, {"81"}, {"5", "B81"}};
    struct Case {
        const char* what;
        const char* before;  // arrives first, without a line end
        void (*between)(Rig&);
        const Outcome& expected;  // once "5\r\nB81\r\n" arrives
    } cases[] = {
        {"nothing", "B6", [](Rig&) {}, kept},
        {"the open port asked for again", "B6", [](Rig& r) { OpenPort(r.link, 3, 9600); }, kept},
        {"a new baud rate", "B6", [](Rig& r) { ApplyBaudRate(r.link, 9600); }, kept},
        {"a healthy device watched", "B6",
         [](Rig& r) {
             LinkWatch watch = {0};
             WatchLink(watch, r.link, 3, 9600, 0);
         },
         kept},
        {"a switch to another port", "B6", [](Rig& r) { OpenPort(r.link, 4, 9600); }, dropped},
        {"a port that fails to open", "B6",
         [](Rig& r) {
             OpenPort(r.link, 7, 9600);
             OpenPort(r.link, 3, 9600);
         },
         dropped},
        {"a gone device closed by the watch", "B6",
         [](Rig& r) {
             LinkWatch watch = {0};
             gFake.healthy = false;
             WatchLink(watch, r.link, 3, 9600, 0);
             gFake.healthy = true;
             WatchLink(watch, r.link, 3, 9600, 1000);
         },
         dropped},
        {"a switch while an overlong line is skipped", "B1234567890123456",
         [](Rig& r) { OpenPort(r.link, 4, 9600); }, dropped},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.Arrive(c.before);
        c.between(rig);
        ASSERT_NE(rig.link.device, kNoDevice) << c.what;
        rig.Arrive("5\r\nB81\r\n");
        EXPECT_EQ(rig.Result(), c.expected) << c.what;
    }
}

}  // namespace
