#pragma once
// Takes everything the device has received, line by line, into the rings.
#include "serial/serial_link.h"
#include "store/measurement_store.h"
#include "store/live_feed.h"

// Reads without ever waiting, cuts lines, stores samples and beat rates,
// rewrites "bpm.txt" for each beat rate and echoes every line; tells the live
// feed what arrived, at `nowMs`. Returns when a read leaves no complete line;
// at once when no device is open. A failed read closes the link as a device
// gone away, dropping the partial line.
void DrainSerial(SerialLink& link, MeasurementStore& store, LiveFeed& feed, uint64_t nowMs);
