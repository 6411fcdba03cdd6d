#include "serial/drain_serial.h"

#include "display/format_short.h"
#include "serial/platform.h"
#include "serial/record_decoder.h"

// Applies one complete line: store its record, update "bpm.txt", echo it.
static void HandleLine(MeasurementStore& store, const char* line, LiveFeed& feed, uint32_t connection,
                       uint64_t nowMs) {
    Record record = DecodeRecord(line);
    if (StoreRecord(store, record)) {
        char text[kShortTextSize];
        int length = FormatShort(text, "%u", record.value);
        if (length >= 0) feed.beatFileFailing = !WriteBeatRateFile(text, length);
    }
    NoteLine(feed, record, connection, nowMs);
    EchoLine(line);
}

void DrainSerial(SerialLink& link, MeasurementStore& store, LiveFeed& feed, uint64_t nowMs) {
    LineBuffer& buffer = link.pending;
    while (link.device != kNoDevice) {
        const char* line = TakeLine(buffer);
        if (line == nullptr) {
            int room = 0;
            bool wasDiscarding = buffer.discarding;
            char* at = PrepareRead(buffer, &room);
            if (buffer.discarding && !wasDiscarding) NoteOverlongLine(feed, nowMs);
            int got = ReadSerialDevice(link.device, at, room);
            if (got < 0) {
                // Several USB serial drivers fail reads once the device is
                // pulled while its line state still reads fine: the device is
                // gone. The link watch retries the chosen port.
                LoseDevice(link);
                return;
            }
            if (got > room) got = 0;
            if (got > 0) {
                link.proven = true;
                NoteBytes(feed, nowMs);
            }
            CommitRead(buffer, at, got);
            line = TakeLine(buffer);
            if (line == nullptr) {
                // A read that filled all the room may have left more behind
                // (an overlong line being skipped): keep going rather than
                // wait a whole tick for it.
                if (got > 0 && got == room) continue;
                return;
            }
        }
        HandleLine(store, line, feed, link.connection, nowMs);
    }
}
