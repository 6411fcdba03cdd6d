#pragma once
// Takes everything the device has received, line by line, into the rings.
#include "serial/serial_link.h"
#include "store/measurement_store.h"

// Reads without ever waiting, cuts lines, stores samples and beat rates,
// rewrites "bpm.txt" for each beat rate and echoes every line. Returns when a
// read leaves no complete line; at once when no device is open. A failed read
// closes the link, dropping the partial line.
void DrainSerial(SerialLink& link, MeasurementStore& store);

// Applies one complete line: store its record, update "bpm.txt", echo it.
void HandleLine(MeasurementStore& store, const char* line);
