#include "serial/record_decoder.h"

#include <cstring>

#include "serial/parse_unsigned.h"

constexpr uint32_t kSampleLimit = 65535;  // samples are 0..65534
constexpr uint32_t kBeatLimit = 255;      // beat rates are 0..254

Record DecodeRecord(const char* line) {
    Record record = {RecordKind::Ignored, 0};
    char type = line[0];
    if (type != 'S' && type != 'B') return record;
    uint32_t value = 0;
    size_t consumed = 0;
    const char* text = line + 1;
    if (ParseUnsigned(text, std::strlen(text), &value, &consumed) != ParsedNumber::Value) return record;
    if (type == 'S' && value < kSampleLimit) record = {RecordKind::Sample, value};
    if (type == 'B' && value < kBeatLimit) record = {RecordKind::BeatRate, value};
    return record;
}

bool StoreRecord(MeasurementStore& store, const Record& record) {
    switch (record.kind) {
        case RecordKind::Sample:
            AppendSample(store, static_cast<uint16_t>(record.value));
            return false;
        case RecordKind::BeatRate:
            AppendBeatRate(store, static_cast<uint8_t>(record.value));
            return true;
        case RecordKind::Ignored:
            break;
    }
    return false;
}
