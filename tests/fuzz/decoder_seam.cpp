// The serial device, "bpm.txt" and the echo for fuzz_line_decoder.
#include <algorithm>
#include <cstring>

#include "serial/platform.h"
#include "tests/fuzz/decoder_rig.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/reference_lines.h"

DecoderRig gRig;

void ResetDecoderRig(const uint8_t* control, size_t controlCount, std::vector<std::string> expectedLines) {
    gRig.link = {1, 0, kEmptyLineBuffer, OpenFailure::None, true, 0, 1};
    gRig.feed = {};
    gRig.store = {};
    InitMeasurementStore(gRig.store);
    gRig.arrived.clear();
    gRig.readAt = 0;
    gRig.control = control;
    gRig.controlCount = controlCount;
    gRig.controlAt = 0;
    gRig.fullReads = false;
    gRig.expectedLines = std::move(expectedLines);
    gRig.echoed = 0;
    gRig.sampleWriteIndex = 0;
    gRig.beatWriteIndex = 0;
    gRig.bpmWritesSinceEcho = 0;
    gRig.lastBpm.clear();
}

uint8_t TakeControl() {
    if (gRig.controlCount == 0) return 0xFF;
    uint8_t byte = gRig.control[gRig.controlAt];
    gRig.controlAt = (gRig.controlAt + 1) % gRig.controlCount;
    return byte;
}

void CheckLineBuffer() {
    const LineBuffer& buffer = gRig.link.pending;
    FUZZ_CHECK(buffer.capacity == kLineBufferSize);
    FUZZ_CHECK(buffer.cursor >= 0 && buffer.cursor < kLineBufferSize);
    FUZZ_CHECK(std::memchr(buffer.storage + buffer.cursor, '\0', kLineBufferSize - buffer.cursor) != nullptr);
}

void CheckRingPositions() {
    FUZZ_CHECK(gRig.store.samples.capacity == kSampleSlots);
    FUZZ_CHECK(gRig.store.beats.capacity == kBeatSlots);
    FUZZ_CHECK(gRig.store.samples.writeIndex < kSampleSlots);
    FUZZ_CHECK(gRig.store.beats.writeIndex < kBeatSlots);
}

// Serves arrived bytes, as many as the input allows and never more than asked.
// The room past what was read is filled with LF bytes: nothing may depend on it.
int ReadSerialDevice(DeviceHandle device, char* buffer, int capacity) {
    FUZZ_CHECK(device == gRig.link.device);
    CheckLineBuffer();
    char* storage = gRig.link.pending.storage;
    // The read and the terminator after it must stay inside the storage.
    FUZZ_CHECK(capacity >= 1 && buffer >= storage && buffer + capacity < storage + kLineBufferSize);
    int wanted = capacity;
    if (!gRig.fullReads) {
        uint8_t choice = TakeControl();
        if ((choice & 0xC0) != 0xC0) wanted = choice & 0x0F;
    }
    size_t waiting = gRig.arrived.size() - gRig.readAt;
    int count = static_cast<int>(std::min({static_cast<size_t>(wanted), static_cast<size_t>(capacity), waiting}));
    std::memcpy(buffer, gRig.arrived.data() + gRig.readAt, static_cast<size_t>(count));
    std::memset(buffer + count, '\n', static_cast<size_t>(capacity - count));
    gRig.readAt += static_cast<size_t>(count);
    return count;
}

// Each rewrite holds just the digits of the beat rate stored at that moment.
bool WriteBeatRateFile(const char* text, int length) {
    FUZZ_CHECK(length >= 1 && length <= 3);
    uint32_t value = 0;
    for (int i = 0; i < length; ++i) {
        FUZZ_CHECK(text[i] >= '0' && text[i] <= '9');
        value = value * 10 + static_cast<uint32_t>(text[i] - '0');
    }
    FUZZ_CHECK(text[0] != '0' || length == 1);
    FUZZ_CHECK(value == LatestBeatRate(gRig.store));
    ++gRig.bpmWritesSinceEcho;
    gRig.lastBpm.assign(text, static_cast<size_t>(length));
    return true;
}

// Each echo is the next reference line, and the rings and "bpm.txt" changed
// exactly as that line asks since the previous echo.
void EchoLine(const char* line) {
    size_t length = std::strlen(line);
    FUZZ_CHECK(length <= 14);
    FUZZ_CHECK(std::memchr(line, '\n', length) == nullptr);
    FUZZ_CHECK(gRig.echoed < gRig.expectedLines.size());
    FUZZ_CHECK(gRig.expectedLines[gRig.echoed] == line);
    ++gRig.echoed;
    CheckLineBuffer();
    CheckRingPositions();

    const SampleRing& samples = gRig.store.samples;
    const BeatRing& beats = gRig.store.beats;
    uint32_t nextSample = (gRig.sampleWriteIndex + 1) % kSampleSlots;
    uint32_t nextBeat = (gRig.beatWriteIndex + 1) % kBeatSlots;
    ExpectedRecord record = ReferenceRecord(line);
    switch (record.kind) {
        case ExpectedKind::Sample:
            FUZZ_CHECK(samples.writeIndex == nextSample);
            FUZZ_CHECK(samples.slots[gRig.sampleWriteIndex] == record.value);
            FUZZ_CHECK(beats.writeIndex == gRig.beatWriteIndex);
            FUZZ_CHECK(gRig.bpmWritesSinceEcho == 0);
            break;
        case ExpectedKind::BeatRate:
            FUZZ_CHECK(beats.writeIndex == nextBeat);
            FUZZ_CHECK(beats.slots[gRig.beatWriteIndex] == record.value);
            FUZZ_CHECK(samples.writeIndex == gRig.sampleWriteIndex);
            FUZZ_CHECK(gRig.bpmWritesSinceEcho == 1);
            FUZZ_CHECK(gRig.lastBpm == std::to_string(record.value));
            break;
        case ExpectedKind::Nothing:
            FUZZ_CHECK(samples.writeIndex == gRig.sampleWriteIndex);
            FUZZ_CHECK(beats.writeIndex == gRig.beatWriteIndex);
            FUZZ_CHECK(gRig.bpmWritesSinceEcho == 0);
            break;
    }
    gRig.sampleWriteIndex = samples.writeIndex;
    gRig.beatWriteIndex = beats.writeIndex;
    gRig.bpmWritesSinceEcho = 0;
}

// The fuzzed device is open throughout and its reads never fail, so nothing
// ever opens, configures or closes it.
bool SerialPortExists(uint32_t) { return true; }
DeviceHandle OpenSerialPort(uint32_t, OpenFailure*, uint32_t*) { return kNoDevice; }
bool ConfigureSerialDevice(DeviceHandle, uint32_t) { return true; }
bool SerialDeviceHealthy(DeviceHandle) { return true; }
void CloseSerialDevice(DeviceHandle) { FUZZ_CHECK(false); }
