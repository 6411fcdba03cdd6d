#pragma once
// When the device is read: after every event of the main loop, and on the
// main window's tick whenever another loop runs instead (a menu, a window
// being moved or sized: the platform's own modal loops, which still deliver
// the tick).

// The main loop's drain, after each event it dispatches.
void DrainAfterEvent();

// The tick's drain: only when the main loop has not drained since the
// previous tick, so the main loop's reads are not doubled.
void DrainOnTick();
