#pragma once
// A scripted stand-in for the platform (serial ports, "bpm.txt", the echo),
// so the core's link and drain logic run natively.
#include <cstdint>
#include <deque>
#include <string>
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
};

extern FakeSerialPlatform gFake;

// Resets the fake to a present-nothing, nothing-received state.
void ResetFakeSerialPlatform();
