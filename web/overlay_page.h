#pragma once
// The overlay page for a streaming program's browser source: the live trace,
// the beat rate and its history on a transparent background. The page reads
// its own settings from its query string and the data from /events; the
// server writes nothing into it.

// The overlay page, served as it is at GET /overlay (text/html; charset=utf-8).
extern const char kOverlayPage[];
extern const unsigned kOverlayPageLength;  // bytes, without a terminator
