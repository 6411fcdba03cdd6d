#include "display/repaint_decision.h"

void NotePaint(PaintRecord& record, const MeasurementStore& store, bool whole) {
    record.wholeShown = whole;
    record.changesShown = store.changes;
}

bool TickMustRepaint(const PaintRecord& record, const MeasurementStore& store) {
    return !record.wholeShown || record.changesShown != store.changes;
}
