#pragma once
// The overlay page, served as it is at GET /overlay (text/html; charset=utf-8).
// Static: nothing from a request is ever written into it; its own script reads
// and checks its query parameters.

extern const char kOverlayPage[];
extern const unsigned kOverlayPageLength;  // bytes, without a terminator
