#pragma once
// The response to a parsed request: the status line, the headers and, for
// the answers computed on the spot, the body.
#include <cstddef>

#include "store/measurement_store.h"
#include "web/http_request.h"
#include "store/live_feed.h"
#include "web/text_sink.h"
#include "web/web_status.h"

// Room for a body computed on the spot: large enough for the status page
// with a full session chart, every port named and every hint shown (it must
// fit a client's output queue with its head); checked by the unit tests.
constexpr size_t kComputedBodyLimit = 12288;

struct Answer {
    bool streams;       // the connection stays open for the event stream
    const char* body;   // a body sent after what was written (the overlay page), or nullptr
    size_t bodyLength;  // its length
    bool sessionRows;   // the session record's rows follow, written as the client takes them
};

// Writes the answer to `request` into `out`. Refusals have fixed bodies with
// nothing from the program in them; HEAD gets the head alone. No CORS
// headers: no other site's page may read any of it.
Answer PutAnswer(TextSink& out, const ParsedRequest& request, const WebSnapshot& snapshot,
                 const MeasurementStore& store, const LiveFeed& feed);
