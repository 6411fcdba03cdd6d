#pragma once
// A scripted stand-in for the platform (serial ports, "bpm.txt", the echo),
// so the core's link and drain logic run natively.
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

struct FakeSerialPlatform {
    std::vector<uint32_t> presentPorts;     // ports that exist and open
    std::vector<uint32_t> unreadablePorts;  // open, but their line state fails
    std::vector<uint32_t> busyPorts;        // held by another program: opening them is refused
    std::deque<std::string> pendingReads;   // what successive reads return (split by capacity)
    std::vector<uint32_t> openCalls;        // every port asked for; a device's handle is its index here
    std::vector<uint32_t> configuredBauds;  // every baud rate applied
    int closeCount = 0;
    int openDevices = 0;
    bool healthy = true;
    bool failReads = false;  // reads fail, whatever the health check says
    int readCalls = 0;
    std::vector<std::string> bpmWrites;  // each rewrite of "bpm.txt"
    std::vector<std::string> echoes;     // each echoed line
    int64_t wallMs = 0;                  // what the wall clock reads
    int offsetMinutes = 0;               // the local zone's offset from UTC, the same at every moment
    bool bpmWritesFail = false;          // "bpm.txt" cannot be written (a protected folder)
    uint32_t openTakesMs = 0;            // how long every open blocks on the simulated clock
    uint64_t clockMs = 0;                // the simulated clock; each open moves it on by openTakesMs
    std::vector<uint64_t> openStartsMs;  // when each open began on that clock
    std::vector<std::pair<uint32_t, std::string>> portLabels;  // the device list's names, by port
    std::string folder = "C:\\Users\\Ann\\Desktop\\Vintra";  // the working folder
};

extern FakeSerialPlatform gFake;

// Resets the fake to a present-nothing, nothing-received state.
void ResetFakeSerialPlatform();
