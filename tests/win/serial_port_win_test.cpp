// Opening, configuring and watching real COM ports under Wine. COM5 and COM6
// are the two ends of a pseudo-terminal pair, COM4 is mapped with nothing
// behind it (run-win-test.sh serial).
#include <gtest/gtest.h>

#include <vector>

#include "serial/win32_serial_device.h"
#include "serial/link_watch.h"
#include "serial/serial_link.h"
#include "tests/win/win_test_support.h"

namespace {

// The Linux view of a port's pseudo-terminal; a failure is reported.
LineView PtyView(const char* end) {
    LineView view = {};
    std::string error;
    EXPECT_TRUE(ReadLineView(end, &view, &error)) << error;
    return view;
}

class SerialPortTest : public ::testing::Test {
  protected:
    SerialLink link = kClosedLink;

    void TearDown() override { ClosePort(link); }

    // The link holds an open device on `port`.
    void ExpectOpenOn(uint32_t port) {
        EXPECT_EQ(link.port, port);
        EXPECT_NE(link.device, kNoDevice);
    }

    // The link is Closed: port 0, no device.
    void ExpectClosed() {
        EXPECT_EQ(link.port, 0u);
        EXPECT_EQ(link.device, kNoDevice);
    }

    // The open device's line state as Windows reports it.
    DCB LineState() {
        DCB state = {};
        state.DCBlength = sizeof state;
        EXPECT_TRUE(GetCommState(Win32Handle(link.device), &state)) << "error " << GetLastError();
        return state;
    }

    // The line runs at `baud`, 8N1, no handshake, as both Windows and the Linux side report it.
    void ExpectLineAt(uint32_t baud) {
        DCB state = LineState();
        LineView pty = PtyView("com5");
        EXPECT_EQ(state.BaudRate, baud);
        EXPECT_EQ(pty.speed, static_cast<int>(baud));
        EXPECT_EQ(state.ByteSize, 8);
        EXPECT_EQ(state.Parity, NOPARITY);
        EXPECT_EQ(state.StopBits, ONESTOPBIT);
        EXPECT_TRUE(state.fBinary);
        EXPECT_EQ(state.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
        EXPECT_EQ(state.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
        EXPECT_FALSE(state.fOutxCtsFlow);
        EXPECT_FALSE(state.fOutX);
        EXPECT_FALSE(state.fInX);
        EXPECT_EQ(pty.csize, 8);
        EXPECT_EQ(pty.parenb, 0);
        EXPECT_EQ(pty.cstopb, 0);
        EXPECT_EQ(pty.crtscts, 0);
        EXPECT_EQ(pty.ixon, 0);
        EXPECT_EQ(pty.ixoff, 0);
    }
};

// Under Wine a pseudo-terminal keeps no parity, so only the control record
// itself shows that every field another program may have left set is undone.
TEST(LineSettings, UndoA7E2LineWithHandshakes) {
    DCB left = {};
    left.DCBlength = sizeof left;
    left.BaudRate = 1200;
    left.ByteSize = 7;
    left.Parity = EVENPARITY;
    left.StopBits = TWOSTOPBITS;
    left.fParity = TRUE;
    left.fDtrControl = DTR_CONTROL_HANDSHAKE;
    left.fRtsControl = RTS_CONTROL_HANDSHAKE;
    left.fOutxCtsFlow = left.fOutxDsrFlow = left.fDsrSensitivity = TRUE;
    left.fOutX = left.fInX = left.fAbortOnError = TRUE;
    struct Case {
        uint32_t baud;
        DWORD expected;
    } cases[] = {{115200, 115200}, {0, 1200}};
    for (const Case& c : cases) {
        DCB state = left;
        SetLineSettings(state, c.baud);
        EXPECT_EQ(state.BaudRate, c.expected);
        EXPECT_EQ(state.ByteSize, 8);
        EXPECT_EQ(state.Parity, NOPARITY);
        EXPECT_EQ(state.StopBits, ONESTOPBIT);
        EXPECT_TRUE(state.fBinary);
        EXPECT_FALSE(state.fParity);
        EXPECT_EQ(state.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
        EXPECT_EQ(state.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
        EXPECT_FALSE(state.fOutxCtsFlow || state.fOutxDsrFlow || state.fDsrSensitivity);
        EXPECT_FALSE(state.fOutX || state.fInX || state.fAbortOnError);
    }
}

TEST_F(SerialPortTest, OpensThePortAsEightNoneOneAtTheRequestedRate) {
    for (uint32_t baud : {9600u, 57600u, 115200u}) {
        SCOPED_TRACE(baud);
        // Whatever the line was left at, the link must make it 8N1. (Linux
        // keeps a pseudo-terminal at 8 data bits without parity: only the
        // rate and the stop bits can be left wrong here.)
        ASSERT_TRUE(PresetLine("COM5", 1200, 7, EVENPARITY, TWOSTOPBITS));
        OpenPort(link, 5, baud);
        ExpectOpenOn(5);
        ASSERT_NE(link.device, kNoDevice);
        ExpectLineAt(baud);

        // Reads must return at once with whatever has arrived.
        COMMTIMEOUTS timeouts = {};
        ASSERT_TRUE(GetCommTimeouts(Win32Handle(link.device), &timeouts));
        EXPECT_EQ(timeouts.ReadIntervalTimeout, MAXDWORD);
        EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 0u);
        EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 0u);
        ClosePort(link);
    }
}

TEST_F(SerialPortTest, BaudZeroKeepsTheDeviceRate) {
    ASSERT_TRUE(PresetLine("COM5", 38400, 7, ODDPARITY, TWOSTOPBITS));
    OpenPort(link, 5, 0);
    ExpectOpenOn(5);
    ASSERT_NE(link.device, kNoDevice);
    ExpectLineAt(38400u);
}

TEST_F(SerialPortTest, AskingForTheOpenPortAgainChangesNothing) {
    OpenPort(link, 5, 57600);
    ASSERT_NE(link.device, kNoDevice);
    DeviceHandle first = link.device;
    OpenPort(link, 5, 9600);
    ExpectOpenOn(5);
    EXPECT_EQ(link.device, first);
    EXPECT_EQ(LineState().BaudRate, 57600u);
    EXPECT_EQ(PtyView("com5").speed, 57600);
}

TEST_F(SerialPortTest, SwitchingPortsReleasesTheOldDevice) {
    ASSERT_EQ(CountOpeners("com5"), 0);
    OpenPort(link, 5, 57600);
    ASSERT_GT(CountOpeners("com5"), 0);
    OpenPort(link, 6, 9600);
    ExpectOpenOn(6);
    EXPECT_EQ(CountOpeners("com5"), 0);
    EXPECT_GT(CountOpeners("com6"), 0);
    EXPECT_EQ(PtyView("com6").speed, 9600);
}

struct UnopenablePort {
    uint32_t port;
    const char* why;
};

// Opens each port from a closed and from an open link; all must end Closed.
void ExpectEachLeavesTheLinkClosed(SerialLink& link, const std::vector<UnopenablePort>& cases) {
    for (const UnopenablePort& c : cases) {
        SCOPED_TRACE(c.why);
        OpenPort(link, c.port, 9600);
        EXPECT_EQ(link.port, 0u);
        EXPECT_EQ(link.device, kNoDevice);
        // From an open link the old device must be released, not leaked.
        OpenPort(link, 5, 9600);
        ASSERT_EQ(link.port, 5u);
        OpenPort(link, c.port, 9600);
        EXPECT_EQ(link.port, 0u);
        EXPECT_EQ(link.device, kNoDevice);
        EXPECT_EQ(CountOpeners("com5"), 0);
        ClosePort(link);
    }
}

TEST_F(SerialPortTest, PortsThatCannotBeOpenedLeaveTheLinkClosed) {
    ExpectEachLeavesTheLinkClosed(link, {{200, "not mapped"},
                                         {0, "no port chosen"},
                                         {4294967295u, "name too long for the port name buffer"}});
}

// Under Wine a mapped port with nothing behind it opens, and only its line
// state fails. Opening ignores configuration failures (the device keeps its
// own settings), so it is the link watch that lets go of such a port.
TEST_F(SerialPortTest, TheLinkWatchNeverKeepsAPortWithNothingBehindIt) {
    LinkWatch watch = {0};
    OpenPort(link, 4, 9600);
    WatchLink(watch, link, 4, 9600, 1000);
    ExpectClosed();
    WatchLink(watch, link, 4, 9600, 2000);  // the retry opens it and lets go again
    ExpectClosed();
}

TEST_F(SerialPortTest, ApplyBaudRateRetunesTheOpenLine) {
    OpenPort(link, 5, 9600);
    ASSERT_NE(link.device, kNoDevice);
    DeviceHandle device = link.device;
    ApplyBaudRate(link, 115200);
    ExpectOpenOn(5);
    EXPECT_EQ(link.device, device);
    ExpectLineAt(115200u);
}

TEST_F(SerialPortTest, AnUnpluggedDeviceIsClosedAndPickedUpWhenItReturns) {
    OpenPort(link, 5, 57600);
    ASSERT_NE(link.device, kNoDevice);
    EXPECT_TRUE(SerialDeviceHealthy(link.device));

    ASSERT_EQ(AskPtyHelper("unplug com5"), "ok");
    EXPECT_FALSE(SerialDeviceHealthy(link.device));
    LinkWatch watch = {0};
    WatchLink(watch, link, 5, 57600, 1000);
    ExpectClosed();
    WatchLink(watch, link, 5, 57600, 2000);  // still gone: stays closed
    ExpectClosed();

    ASSERT_EQ(AskPtyHelper("plug com5"), "ok");
    WatchLink(watch, link, 5, 57600, 2500);  // not due yet
    ExpectClosed();
    WatchLink(watch, link, 5, 57600, 3000);
    ExpectOpenOn(5);
    ASSERT_NE(link.device, kNoDevice);
    EXPECT_TRUE(SerialDeviceHealthy(link.device));
    EXPECT_EQ(PtyView("com5").speed, 57600);
}

}  // namespace
