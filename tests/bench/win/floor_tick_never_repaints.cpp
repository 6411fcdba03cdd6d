// A floor build's repaint decision, in place of display/repaint_decision.cpp:
// the tick never repaints, so the program's cost without its paint shows.
// Resizes and exposes still paint, as they do in the program.
#include "display/repaint_decision.h"

void NotePaint(PaintRecord&, const MeasurementStore&, bool) {}

bool TickMustRepaint(const PaintRecord&, const MeasurementStore&) { return false; }
