#pragma once
// Heart-rate zones: 1 to 5 ascending thresholds cut the rates into zones,
// zone 0 below the first. A rising rate enters a zone on reaching its
// threshold; a falling one leaves it only once it is more than
// kZoneFallMargin below, so a rate wavering on a threshold stays put.
#include <cstddef>
#include <cstdint>

constexpr size_t kMaxZoneThresholds = 5;
constexpr uint32_t kZoneFallMargin = 3;  // bpm below a threshold before a falling rate leaves its zone
constexpr int kNoZone = -1;             // no rate placed yet

struct Zones {
    uint32_t count;                          // thresholds given, 0 for none
    uint32_t thresholds[kMaxZoneThresholds]; // strictly ascending, 1..254
};

// Reads "100,140" (a comma may be written %2C): 1 to 5 strictly ascending
// whole numbers from 1 to 254. Anything else is false and leaves no zones.
bool ParseZones(const char* text, size_t length, Zones& zones);

// The zone of `bpm` for a rate that was in `current` (kNoZone: the first rate).
int NextZone(const Zones& zones, int current, uint32_t bpm);
