#include "serial/drain_serial.h"

#include "display/format_short.h"
#include "serial/platform.h"
#include "serial/record_decoder.h"

void HandleLine(MeasurementStore& store, const char* line) {
    Record record = DecodeRecord(line);
    if (StoreRecord(store, record)) {
        char text[kShortTextSize];
        int length = FormatShort(text, "%u", record.value);
        if (length >= 0) WriteBeatRateFile(text, length);
    }
    EchoLine(line);
}

void DrainSerial(SerialLink& link, MeasurementStore& store) {
    LineBuffer& buffer = link.pending;
    while (link.device != kNoDevice) {
        const char* line = TakeLine(buffer);
        if (line == nullptr) {
            int room = 0;
            char* at = PrepareRead(buffer, &room);
            int got = ReadSerialDevice(link.device, at, room);
            if (got < 0) {
                // Several USB serial drivers fail reads once the device is
                // pulled while its line state still reads fine: the device is
                // gone. The link watch retries the chosen port.
                ClosePort(link);
                return;
            }
            if (got > room) got = 0;
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
        HandleLine(store, line);
    }
}
