#include <gtest/gtest.h>

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

}  // namespace
