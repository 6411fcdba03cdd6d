#pragma once
// The overlay builder: the overlay's settings as controls, a live preview of
// the overlay over a choice of backgrounds, the URL to copy and the size to
// give the browser source. Static: it reads nothing, and the preview is the
// overlay itself at the URL the controls make, so it shows only what the
// overlay's own checks let through.

// The builder page, served as it is at GET /builder (text/html; charset=utf-8).
extern const char kBuilderPage[];
extern const unsigned kBuilderPageLength;  // bytes, without a terminator
