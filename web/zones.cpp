#include "web/zones.h"

bool ParseZones(const char* text, size_t length, Zones& zones) {
    zones = {};
    uint32_t value = 0;
    size_t digits = 0;
    for (size_t i = 0; i <= length; ++i) {
        bool end = i == length;
        size_t separator = 0;  // bytes of a separator at i
        if (!end && text[i] == ',') separator = 1;
        if (!end && text[i] == '%' && i + 2 < length && text[i + 1] == '2' && (text[i + 2] == 'C' || text[i + 2] == 'c')) {
            separator = 3;
        }
        if (end || separator > 0) {
            bool ascending = zones.count == 0 || value > zones.thresholds[zones.count - 1];
            if (digits == 0 || value < 1 || value > 254 || !ascending || zones.count == kMaxZoneThresholds) {
                zones = {};
                return false;
            }
            zones.thresholds[zones.count++] = value;
            value = 0, digits = 0;
            if (separator > 1) i += separator - 1;
            continue;
        }
        if (text[i] < '0' || text[i] > '9' || digits == 3) {
            zones = {};
            return false;
        }
        value = value * 10 + static_cast<uint32_t>(text[i] - '0');
        ++digits;
    }
    return true;
}

int NextZone(const Zones& zones, int current, uint32_t bpm) {
    int reached = 0;
    while (reached < static_cast<int>(zones.count) && bpm >= zones.thresholds[reached]) ++reached;
    if (current == kNoZone || reached >= current) return reached;
    int zone = current;
    while (zone > reached && bpm + kZoneFallMargin < zones.thresholds[zone - 1]) --zone;
    return zone;
}
