#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "serial/link_watch.h"
#include "serial/serial_link.h"
#include "tests/host/fake_serial_platform.h"

namespace {

TEST(SerialLink, OpenSwitchAndFailureFollowTheLinkStates) {
    ResetFakeSerialPlatform();
    gFake.presentPorts = {3, 12};
    SerialLink link = kClosedLink;

    OpenPort(link, 0, 9600);  // nothing open, nothing asked
    EXPECT_TRUE(gFake.openCalls.empty());

    OpenPort(link, 3, 9600);
    EXPECT_EQ(link.port, 3u);
    EXPECT_NE(link.device, kNoDevice);
    EXPECT_EQ(gFake.configuredBauds, std::vector<uint32_t>{9600});

    OpenPort(link, 3, 115200);  // same port: nothing reopened or reconfigured
    EXPECT_EQ(gFake.openCalls.size(), 1u);
    EXPECT_EQ(gFake.configuredBauds.size(), 1u);

    OpenPort(link, 12, 115200);  // switching closes the old device first
    EXPECT_EQ(link.port, 12u);
    EXPECT_EQ(gFake.closeCount, 1);
    EXPECT_EQ(gFake.openCalls.back(), 12u);

    OpenPort(link, 4, 9600);  // missing port: old one closed, link Closed
    EXPECT_EQ(link.port, 0u);
    EXPECT_EQ(link.device, kNoDevice);
    EXPECT_EQ(gFake.openDevices, 0);

    OpenPort(link, 3, 9600);
    EXPECT_EQ(link.port, 3u);
    OpenPort(link, 0, 9600);  // port 0 closes and asks the platform, which never opens it
    EXPECT_EQ(gFake.openCalls.back(), 0u);
    EXPECT_EQ(link.port, 0u);
    EXPECT_EQ(gFake.openDevices, 0);

    OpenPort(link, 123456789, 9600);  // a number the platform cannot open: Closed
    EXPECT_EQ(link.port, 0u);
    EXPECT_EQ(gFake.openDevices, 0);
}

TEST(SerialLink, BaudRateReachesTheOpenDevice) {
    ResetFakeSerialPlatform();
    gFake.presentPorts = {3};
    SerialLink link = kClosedLink;
    ApplyBaudRate(link, 9600);  // nothing open: nothing to configure
    EXPECT_TRUE(gFake.configuredBauds.empty());
    OpenPort(link, 3, 0);
    ApplyBaudRate(link, 57600);
    EXPECT_EQ(gFake.configuredBauds, (std::vector<uint32_t>{0, 57600}));
    EXPECT_EQ(gFake.openCalls.size(), 1u);
}

TEST(LinkWatch, ClosesAGoneDeviceAndReopensItWhenItReturns) {
    ResetFakeSerialPlatform();
    gFake.presentPorts = {5};
    SerialLink link = kClosedLink;
    LinkWatch watch = {0};
    OpenPort(link, 5, 115200);

    WatchLink(watch, link, 5, 115200, 0);  // healthy: left alone
    EXPECT_EQ(link.port, 5u);

    gFake.healthy = false;  // unplugged
    WatchLink(watch, link, 5, 115200, 500);
    EXPECT_EQ(link.port, 5u) << "checks only about once a second";
    WatchLink(watch, link, 5, 115200, 1000);
    EXPECT_EQ(link.port, 0u);
    EXPECT_EQ(gFake.openDevices, 0);

    WatchLink(watch, link, 5, 115200, 2000);  // reopens, but the line state is unreadable
    EXPECT_EQ(link.port, 0u);
    EXPECT_EQ(gFake.openDevices, 0);

    gFake.healthy = true;  // plugged back in
    WatchLink(watch, link, 5, 115200, 3000);
    EXPECT_EQ(link.port, 5u);
    EXPECT_EQ(gFake.configuredBauds.back(), 115200u);
}

TEST(LinkWatch, PicksUpAPortThatAppearsLaterAndIgnoresNoChoice) {
    ResetFakeSerialPlatform();
    SerialLink link = kClosedLink;
    LinkWatch watch = {0};
    WatchLink(watch, link, 0, 0, 0);
    EXPECT_TRUE(gFake.openCalls.empty()) << "no port chosen, nothing tried";

    WatchLink(watch, link, 7, 9600, 1000);
    EXPECT_EQ(link.port, 0u);
    gFake.presentPorts = {7};
    WatchLink(watch, link, 7, 9600, 2000);
    EXPECT_EQ(link.port, 7u);

    gFake.unreadablePorts = {8};
    gFake.presentPorts.push_back(8);
    ClosePort(link);
    WatchLink(watch, link, 8, 9600, 3000);  // a stale name that opens counts as not opened
    EXPECT_EQ(link.port, 0u);
    EXPECT_EQ(gFake.openDevices, 0);
}

// Runs the event loop for `minutes` on the simulated clock (the link watch
// after every 16 ms tick) and gives the opens' starts.
std::vector<uint64_t> RunLoop(LinkWatch& watch, SerialLink& link, uint32_t port, uint64_t minutes) {
    uint64_t endMs = gFake.clockMs + minutes * 60000;
    while (gFake.clockMs < endMs) {
        WatchLink(watch, link, port, 9600, gFake.clockMs);
        gFake.clockMs += 16;
    }
    return gFake.openStartsMs;
}

// The most time spent in opens within any `windowMs`, in ms.
uint64_t MostInOpens(const std::vector<uint64_t>& starts, uint64_t openMs, uint64_t windowMs, uint64_t endMs) {
    uint64_t worst = 0;
    for (uint64_t from = 0; from + windowMs <= endMs; from += 100) {
        uint64_t spent = 0;
        for (uint64_t start : starts) {
            uint64_t a = std::max(start, from);
            uint64_t b = std::min(start + openMs, from + windowMs);
            if (b > a) spent += b - a;
        }
        worst = std::max(worst, spent);
    }
    return worst;
}

// A port whose every open blocks before it fails (a Bluetooth serial port
// whose device is off): from the start-up open on, opens take at most a
// tenth of any minute (of any ten opens' time, for an open longer than 6 s),
// the waits double from 30 s to 5 min, and a quick failure keeps the
// once-a-second retry.
TEST(LinkWatch, SlowFailingOpensBackOff) {
    struct Case {
        uint32_t openMs;
        std::vector<uint64_t> waitsS;  // from the end of each open to the start of the next, in whole seconds
    } cases[] = {
        {600, {30, 60, 120, 240, 300, 300}},
        {6000, {54, 60, 120, 240, 300, 300}},  // nine times the open: a tenth of the time at most
        {45000, {405, 405}},
        {400, {}},
    };
    for (const Case& c : cases) {
        ResetFakeSerialPlatform();
        gFake.openTakesMs = c.openMs;
        SerialLink link = kClosedLink;
        LinkWatch watch = {0};
        OpenPort(link, 4, 9600);  // start-up
        std::vector<uint64_t> starts = RunLoop(watch, link, 4, 30);
        ASSERT_GT(starts.size(), c.waitsS.size()) << c.openMs;  // 30 min: more opens than waits listed
        for (size_t i = 0; i < c.waitsS.size(); ++i) {
            uint64_t waitMs = starts[i + 1] - starts[i] - c.openMs;
            EXPECT_GE(waitMs, c.waitsS[i] * 1000) << c.openMs << " ms open, wait " << i;
            EXPECT_LT(waitMs, c.waitsS[i] * 1000 + 1100) << c.openMs << " ms open, wait " << i;
        }
        if (c.openMs > kSlowOpenMs) {
            uint64_t windowMs = std::max<uint64_t>(60000, 10 * c.openMs);
            EXPECT_LE(MostInOpens(starts, c.openMs, windowMs, gFake.clockMs), windowMs / 10) << c.openMs;
            EXPECT_EQ(link.failure, OpenFailure::Slow);
        } else {
            EXPECT_GE(starts.size(), 30u * 60 * 9 / 10) << "about once a second";
            EXPECT_EQ(link.failure, OpenFailure::Absent);
        }
    }
}

// The user's choice of the port tries it at once, and the waits start again
// from 30 s; once the device answers, the next try opens it.
TEST(LinkWatch, ChoosingTheSlowPortTriesAtOnceAndRestartsTheWaits) {
    ResetFakeSerialPlatform();
    gFake.openTakesMs = 600;
    SerialLink link = kClosedLink;
    LinkWatch watch = {0};
    RunLoop(watch, link, 4, 12);  // the waits have reached 5 min
    size_t before = gFake.openStartsMs.size();
    uint64_t choiceMs = gFake.clockMs;
    OpenPort(link, 4, 9600);  // what ChoosePort does
    ASSERT_EQ(gFake.openStartsMs.size(), before + 1);
    EXPECT_EQ(gFake.openStartsMs.back(), choiceMs);
    gFake.presentPorts = {4};  // the device is switched on
    RunLoop(watch, link, 4, 1);
    ASSERT_EQ(gFake.openStartsMs.size(), before + 2);
    EXPECT_LT(gFake.openStartsMs.back() - choiceMs, 32000u);
    EXPECT_EQ(link.port, 4u);
    EXPECT_EQ(link.failure, OpenFailure::None);
}

}  // namespace
