#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "serial/link_watch.h"
#include "serial/serial_link.h"
#include "tests/host/fake_serial_platform.h"

namespace {

TEST(SerialLink, PortNamesUseTheDeviceNamespaceFromTen) {
    struct Case {
        uint32_t port;
        const char* name;  // null: does not fit, never formatted
    } cases[] = {{0, "COM0"},           {3, "COM3"},           {9, "COM9"},     {10, "\\\\.\\COM10"},
                 {12, "\\\\.\\COM12"}, {255, "\\\\.\\COM255"}, {99999999, "\\\\.\\COM99999999"},
                 {100000000, nullptr}, {4294967295u, nullptr}};
    for (const Case& c : cases) {
        char name[kPortNameSize];
        std::memset(name, 'x', sizeof name);
        bool fits = FormatPortName(c.port, name);
        EXPECT_EQ(fits, c.name != nullptr) << c.port;
        if (c.name) EXPECT_STREQ(name, c.name);
        if (!fits) EXPECT_EQ(name[0], 'x') << "nothing is written for a name that does not fit";
    }
}

TEST(SerialLink, OpenSwitchAndFailureFollowTheLinkStates) {
    ResetFakeSerialPlatform();
    gFake.presentDevices = {"COM3", "\\\\.\\COM12"};
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
    EXPECT_EQ(gFake.openCalls.back(), "\\\\.\\COM12");

    OpenPort(link, 4, 9600);  // missing port: old one closed, link Closed
    EXPECT_EQ(link.port, 0u);
    EXPECT_EQ(link.device, kNoDevice);
    EXPECT_EQ(gFake.openDevices, 0);

    OpenPort(link, 3, 9600);
    EXPECT_EQ(link.port, 3u);
    OpenPort(link, 0, 9600);  // port 0 closes and tries "COM0", which never answers
    EXPECT_EQ(gFake.openCalls.back(), "COM0");
    EXPECT_EQ(link.port, 0u);
    EXPECT_EQ(gFake.openDevices, 0);

    OpenPort(link, 123456789, 9600);  // name too long: Closed, nothing opened
    EXPECT_EQ(link.port, 0u);
    EXPECT_EQ(gFake.openCalls.back(), "COM0");
}

TEST(SerialLink, BaudRateReachesTheOpenDevice) {
    ResetFakeSerialPlatform();
    gFake.presentDevices = {"COM3"};
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
    gFake.presentDevices = {"COM5"};
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
    gFake.presentDevices = {"COM7"};
    WatchLink(watch, link, 7, 9600, 2000);
    EXPECT_EQ(link.port, 7u);

    gFake.unreadableDevices = {"COM8"};
    gFake.presentDevices.push_back("COM8");
    ClosePort(link);
    WatchLink(watch, link, 8, 9600, 3000);  // a stale name that opens counts as not opened
    EXPECT_EQ(link.port, 0u);
    EXPECT_EQ(gFake.openDevices, 0);
}

}  // namespace
