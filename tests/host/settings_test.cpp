#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "settings/port_choice.h"
#include "settings/settings.h"
#include "tests/host/fake_serial_platform.h"

namespace {

TEST(SettingsText, ReadsLikePercentUSpacePercentU) {
    struct Case {
        const char* text;
        Settings expected;  // starting from {11, 22}
    } cases[] = {
        {"5 115200", {5, 115200}},
        {"3  9600\n", {3, 9600}},
        {"\n\t 3\r\n9600\r\n", {3, 9600}},
        {"7", {7, 22}},
        {"", {11, 22}},
        {"garbage", {11, 22}},
        {"4 x", {4, 22}},
        {"4,9600", {4, 22}},
        {"+4 -1", {4, 4294967295u}},
        {"4294967295 1", {4294967295u, 1}},
        {"4294967296 9600", {11, 9600}},  // too large for 32 bits: that field alone keeps its value
        {"2 99999999999999999999", {2, 22}},
        {"6 57600 trailing text", {6, 57600}},
    };
    for (const Case& c : cases) {
        Settings s = {11, 22};
        ParseSettingsText(c.text, std::strlen(c.text), s);
        EXPECT_EQ(s.port, c.expected.port) << '"' << c.text << '"';
        EXPECT_EQ(s.baudRate, c.expected.baudRate) << '"' << c.text << '"';
    }
}

TEST(SettingsText, AThirdNumberIsTheWebPort) {
    struct Case {
        const char* text;
        uint32_t webPort;
        bool inFile;
    } cases[] = {
        {"5 115200", kDefaultWebPort, false},
        {"5 115200 9000", 9000, true},
        {"5 115200 0\n", 0, true},
        {"5 115200  x 9000", kDefaultWebPort, false},
        {"5 x 9000", kDefaultWebPort, false},
        {"5 115200 99999999999", kDefaultWebPort, false},
        {"5 115200 9000 1234", 9000, true},
    };
    for (const Case& c : cases) {
        Settings s = {0, 0};
        ParseSettingsText(c.text, std::strlen(c.text), s);
        EXPECT_EQ(s.webPort, c.webPort) << c.text;
        EXPECT_EQ(s.webPortInFile, c.inFile) << c.text;
    }
}

TEST(SettingsText, AFourthNumberIsTheOscPort) {
    struct Case {
        const char* text;
        uint32_t oscPort;  // 0: off
        bool inFile;
    } cases[] = {
        {"5 115200", 0, false},
        {"5 115200 8725", 0, false},
        {"5 115200 8725 9000", 9000, true},
        {"5 115200 8725 0\r\n", 0, true},
        {"5 115200 0 9000", 9000, true},  // the endpoint off, OSC on
        {"5 115200 8725 x", 0, false},
        {"5 115200 x 9000", 0, false},
        {"5 115200 8725 99999999999", 0, false},
        {"5 115200 8725 9000 77", 9000, true},
    };
    for (const Case& c : cases) {
        Settings s = {0, 0};
        ParseSettingsText(c.text, std::strlen(c.text), s);
        EXPECT_EQ(s.oscPort, c.oscPort) << c.text;
        EXPECT_EQ(s.oscPortInFile, c.inFile) << c.text;
        EXPECT_EQ(s.baudRate, 115200u) << c.text;
    }
}

// Each file test runs in a fresh folder, as the program runs in its own.
class SettingsFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/vintra-settings-XXXXXX";
        folder_ = mkdtemp(pattern);
        ASSERT_EQ(chdir(folder_.c_str()), 0);
        ResetFakeSerialPlatform();
    }
    void TearDown() override {
        std::remove(kSettingsFileName);
        rmdir(folder_.c_str());
    }
    static std::string FileText() {
        std::FILE* f = std::fopen(kSettingsFileName, "r");
        if (!f) return "<missing>";
        char text[64] = {};
        size_t n = std::fread(text, 1, sizeof text - 1, f);
        std::fclose(f);
        return std::string(text, n);
    }
    std::string folder_;
};

TEST_F(SettingsFile, MissingFileLeavesZerosAndSaveWritesExactText) {
    Settings s = {0, 0};
    LoadSettings(s);
    EXPECT_EQ(s.port, 0u);
    EXPECT_EQ(s.baudRate, 0u);
    SaveSettings({5, 115200});
    EXPECT_EQ(FileText(), "5 115200");
    Settings loaded = {0, 0};
    LoadSettings(loaded);
    EXPECT_EQ(loaded.port, 5u);
    EXPECT_EQ(loaded.baudRate, 115200u);
}

TEST_F(SettingsFile, TheWebAndOscPortsAreWrittenBackOnlyWhenTheFileGaveThem) {
    for (const char* text : {"3 9600", "3 9600 9000", "3 9600 9000 9001", "3 9600 0 0"}) {
        std::FILE* f = std::fopen(kSettingsFileName, "w");
        std::fputs(text, f);
        std::fclose(f);
        Settings s = {0, 0};
        LoadSettings(s);
        SerialLink link = kClosedLink;
        ChooseBaudRate(s, link, 57600);
        EXPECT_EQ(FileText(), std::string(text).replace(2, 4, "57600"));
    }
}

TEST_F(SettingsFile, ChoosingAPortWithoutARateUsesTheShownRate) {
    Settings s = {0, 0};
    SerialLink link = kClosedLink;
    gFake.presentPorts = {4};
    ChoosePort(s, link, 4, kBaudRates[BaudIndexToShow(s.baudRate)]);
    EXPECT_EQ(FileText(), "4 115200");
    EXPECT_EQ(link.port, 4u);
    EXPECT_EQ(gFake.configuredBauds, std::vector<uint32_t>{115200});
}

TEST_F(SettingsFile, ChoosingUsesTheShownRateAndSavesBeforeOpening) {
    Settings s = {0, 9600};
    SerialLink link = kClosedLink;
    ChoosePort(s, link, 3, kBaudRates[BaudIndexToShow(s.baudRate)]);  // port 3 absent: saved anyway
    EXPECT_EQ(FileText(), "3 9600");
    EXPECT_EQ(link.port, 0u);

    s.baudRate = 230400;  // edited by hand: the list shows 115200 instead
    ChoosePort(s, link, 4, kBaudRates[BaudIndexToShow(s.baudRate)]);
    EXPECT_EQ(FileText(), "4 115200");
}

TEST_F(SettingsFile, ChoosingTheOpenPortAppliesTheShownRate) {
    gFake.presentPorts = {1};
    Settings s = {1, 0};
    SerialLink link = kClosedLink;
    OpenPort(link, 1, 0);  // the device keeps its own rate
    ChoosePort(s, link, 1, kBaudRates[BaudIndexToShow(s.baudRate)]);
    EXPECT_EQ(FileText(), "1 115200");
    EXPECT_EQ(gFake.configuredBauds, (std::vector<uint32_t>{0, 115200})) << "what is saved is what runs";
    EXPECT_EQ(gFake.openCalls.size(), 1u) << "applied to the open port, not reopened";
}

TEST_F(SettingsFile, ABaudRateChosenWhileOpenIsAppliedAtOnce) {
    gFake.presentPorts = {3};
    Settings s = {3, 9600};
    SerialLink link = kClosedLink;
    OpenPort(link, 3, 9600);
    ChooseBaudRate(s, link, 57600);
    EXPECT_EQ(FileText(), "3 57600");
    EXPECT_EQ(gFake.configuredBauds, (std::vector<uint32_t>{9600, 57600}));
    EXPECT_EQ(gFake.openCalls.size(), 1u) << "the open port is reconfigured, not reopened";

    ClosePort(link);  // the device went away: a new rate retries the chosen port
    ChooseBaudRate(s, link, 19200);
    EXPECT_EQ(link.port, 3u);
    EXPECT_EQ(gFake.configuredBauds.back(), 19200u);
}

// A folder the file cannot be written in (here: a folder of the file's own
// name) shows as failing until a save succeeds again; the port still opens.
TEST_F(SettingsFile, AFailedSaveIsRememberedUntilOneSucceeds) {
    gFake.presentPorts = {3};
    ASSERT_EQ(mkdir(kSettingsFileName, 0755), 0);
    Settings s = {0, 0};
    SerialLink link = kClosedLink;
    ChoosePort(s, link, 3, 9600);
    EXPECT_TRUE(s.saveFailing);
    EXPECT_EQ(link.port, 3u);
    ASSERT_EQ(rmdir(kSettingsFileName), 0);
    ChooseBaudRate(s, link, 19200);
    EXPECT_FALSE(s.saveFailing);
    EXPECT_EQ(FileText(), "3 19200");
}

TEST(PortChoice, BaudListShowsTheCurrentRateOrDefault) {
    EXPECT_EQ(BaudIndexToShow(0), 11);
    EXPECT_EQ(BaudIndexToShow(110), 0);
    EXPECT_EQ(BaudIndexToShow(9600), 6);
    EXPECT_EQ(BaudIndexToShow(256000), 13);
    EXPECT_EQ(BaudIndexToShow(250000), 11);
}

TEST(PortChoice, ProbeListsThePresentPortsInOrder) {
    static PortList list;
    ResetFakeSerialPlatform();
    gFake.presentPorts = {12, 3, 255, 256};
    ProbePorts(list);
    ASSERT_EQ(list.count, 3);
    EXPECT_EQ(list.ports[0], 3u);
    EXPECT_EQ(list.ports[1], 12u);
    EXPECT_EQ(list.ports[2], 255u);

    for (uint32_t port = 1; port <= kHighestPort; ++port) gFake.presentPorts.push_back(port);
    ProbePorts(list);
    ASSERT_EQ(list.count, 255);
    EXPECT_EQ(list.ports[254], 255u);
}

}  // namespace
