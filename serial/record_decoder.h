#pragma once
// Turns one received line into a record: `S` raw sample or `B` beat rate.
#include <cstdint>

#include "store/measurement_store.h"

enum class RecordKind {
    Ignored,   // any other first byte, a value out of range, or no number at all
    Sample,    // raw signal sample, 0..65534
    BeatRate,  // beats per minute, 0..254
};

struct Record {
    RecordKind kind;
    uint32_t value;  // meaningful for Sample and BeatRate only
};

// Decodes a line's text (without its line end). Values out of range and lines
// with no number are Ignored, so a stale or wrapped value is never stored.
Record DecodeRecord(const char* line);

// Stores a decoded record in its ring; true when a beat rate was stored.
bool StoreRecord(MeasurementStore& store, const Record& record);
