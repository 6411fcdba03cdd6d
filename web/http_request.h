#pragma once
// Reads an HTTP request's head (request line and headers) as it arrives, in
// whatever pieces, and decides what it asks for. Only the little the
// endpoint serves is understood; everything else is refused.
#include <cstddef>
#include <cstdint>

#include "web/text_span.h"

// A request line with its headers and the empty line that ends them.
constexpr size_t kRequestHeadLimit = 8192;

enum class RequestVerdict {
    Incomplete,   // no empty line yet: wait for more bytes
    Get,          // a GET of one of the routes
    Head,         // a HEAD of one of the routes
    Bad,          // malformed (400)
    TooLarge,     // no end of the head within kRequestHeadLimit bytes (431, then close)
    ForeignHost,  // no Host header naming this endpoint (403): a web page may be reading the heart rate
    OtherMethod,  // a method other than GET and HEAD (405)
    NotFound,     // no such route (404)
};

enum class WebRoute { None, StatusPage, StatusJson, Events, Overlay, SessionCsv, WebSocket, Builder };

struct ParsedRequest {
    RequestVerdict verdict;
    WebRoute route;     // for Get and Head
    size_t headLength;  // bytes the head took, empty line included (0 while Incomplete)
};

// Parses everything received so far, bytes[0..length). The verdict depends
// only on the bytes, never on how they were split: call again with more bytes
// while Incomplete. A malformed request line is refused as soon as it ends.
// The Host header must name localhost, 127.0.0.1 or [::1] with `port`; the
// name alone is accepted only when `port` is 80, HTTP's default, as a
// browser then leaves the port out.
ParsedRequest ParseRequest(const char* bytes, size_t length, uint32_t port);

// Whether `host` (a Host header's value, or an Origin's after "http://")
// names this endpoint: localhost, 127.0.0.1 or [::1] with its port, in any
// case; the bare name only when the port is 80, the one a client may leave out.
bool HostNamesEndpoint(Span host, uint32_t port);
