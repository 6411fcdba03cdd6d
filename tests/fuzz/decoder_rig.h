#pragma once
// The drain under test together with a device fed from fuzz input: bytes
// "arrive" and reads take them in sizes the input chooses. The seam checks
// every read, "bpm.txt" rewrite and echo against the reference as it happens.
#include <cstdint>
#include <string>
#include <vector>

#include "serial/serial_link.h"
#include "store/measurement_store.h"
#include "store/live_feed.h"

struct DecoderRig {
    SerialLink link;  // with the line buffer under test
    MeasurementStore store;
    LiveFeed feed;  // what the drain tells the web endpoint

    std::string arrived;  // every byte the device has received
    size_t readAt;        // first byte no read has taken yet
    const uint8_t* control;  // input bytes that choose sizes, used round and round
    size_t controlCount;
    size_t controlAt;
    bool fullReads;  // reads take all the room they are given

    std::vector<std::string> expectedLines;  // from the reference splitter
    size_t echoed;                           // lines echoed so far
    uint32_t sampleWriteIndex;               // ring positions after the previous line
    uint32_t beatWriteIndex;
    int bpmWritesSinceEcho;
    std::string lastBpm;  // text of the latest "bpm.txt" rewrite
};

extern DecoderRig gRig;

// Starts a fresh drain: empty buffer and rings, an open device with nothing received.
void ResetDecoderRig(const uint8_t* control, size_t controlCount, std::vector<std::string> expectedLines);

// The next size-choosing byte; 0xFF when the input has none.
uint8_t TakeControl();

// The line buffer's cursor and terminator rules.
void CheckLineBuffer();

// Ring capacities and write positions.
void CheckRingPositions();
