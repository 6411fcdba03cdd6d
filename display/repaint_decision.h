#pragma once
// Whether the main window's tick must repaint. A tick that finds the rings as
// last painted would draw the very same pixels again; under Wine each such
// paint costs a few hundred microseconds, sixty times a second, so it is
// skipped. Resizes and exposes invalidate on their own and always paint.
#include <cstdint>

#include "store/measurement_store.h"

struct PaintRecord {
    bool wholeShown;        // the last paint covered the whole client area; false before the first
    uint32_t changesShown;  // the store's change count that paint showed
};

// Notes a paint of `store`; `whole`: it covered the whole client area.
void NotePaint(PaintRecord& record, const MeasurementStore& store, bool whole);

// True when the store has changed since the last paint, or that paint left
// part of the window showing something older.
bool TickMustRepaint(const PaintRecord& record, const MeasurementStore& store);
