// Windows port names: plain text rules, so they are checked natively too.
#include <gtest/gtest.h>

#include <cstring>

#include "serial/win32_port_names.h"

namespace {

TEST(PortNames, DeviceNamespaceFromTenAndBack) {
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
        if (!fits) {
            EXPECT_EQ(name[0], 'x') << "nothing is written for a name that does not fit";
            continue;
        }
        EXPECT_STREQ(name, c.name);
        uint32_t parsed = 7;
        EXPECT_TRUE(ParsePortName(name, &parsed));
        EXPECT_EQ(parsed, c.port);
    }
}

TEST(PortNames, TextsWithoutANumberGiveNoPort) {
    for (const char* text : {"COM", "", "\\\\.\\COM", "COM99999999999"}) {
        uint32_t port = 7;
        EXPECT_FALSE(ParsePortName(text, &port)) << text;
        EXPECT_EQ(port, 7u) << text;
    }
}

}  // namespace
