#include "web/web_answers.h"

#include <cstring>

#include "web/event_stream.h"
#include "web/overlay_page.h"
#include "web/builder_page.h"
#include "web/session_csv.h"


static void PutHead(TextSink& out, const char* status, const char* type, size_t length, bool hasLength) {
    PutText(out, "HTTP/1.1 ");
    PutText(out, status);
    PutText(out, "\r\nContent-Type: ");
    PutText(out, type);
    if (hasLength) {
        PutText(out, "\r\nContent-Length: ");
        PutNumber(out, length);
    }
    if (std::strncmp(status, "405", 3) == 0) PutText(out, "\r\nAllow: GET, HEAD");
    PutText(out, "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n");
}

static void PutWhole(TextSink& out, const char* status, const char* type, const char* body, size_t length,
                     bool head) {
    PutHead(out, status, type, length, true);
    if (!head) PutBytes(out, body, length);
}

static void PutRefusal(TextSink& out, const char* status, const char* text) {
    size_t length = 0;
    while (text[length] != '\0') ++length;
    PutWhole(out, status, "text/plain; charset=utf-8", text, length, false);
}

Answer PutAnswer(TextSink& out, const ParsedRequest& request, const WebSnapshot& snapshot,
                 const MeasurementStore& store, const LiveFeed& feed) {
    Answer answer = {false, nullptr, 0, false};
    bool head = request.verdict == RequestVerdict::Head;
    switch (request.verdict) {
        case RequestVerdict::Incomplete:
        case RequestVerdict::Bad: PutRefusal(out, "400 Bad Request", "Bad request\n"); return answer;
        case RequestVerdict::TooLarge:
            PutRefusal(out, "431 Request Header Fields Too Large", "Request too large\n");
            return answer;
        case RequestVerdict::ForeignHost: PutRefusal(out, "403 Forbidden", "Forbidden\n"); return answer;
        case RequestVerdict::OtherMethod:
            PutRefusal(out, "405 Method Not Allowed", "Method not allowed\n");
            return answer;
        case RequestVerdict::NotFound: PutRefusal(out, "404 Not Found", "Not found\n"); return answer;
        case RequestVerdict::Get:
        case RequestVerdict::Head: break;
    }
    char computed[kComputedBodyLimit];
    TextSink body = SinkOver(computed, sizeof computed);
    switch (request.route) {
        case WebRoute::None: PutRefusal(out, "404 Not Found", "Not found\n"); break;
        case WebRoute::StatusPage:
            PutStatusPage(body, snapshot);
            PutWhole(out, "200 OK", "text/html; charset=utf-8", body.data, body.length, head);
            break;
        case WebRoute::StatusJson:
            PutStatusJson(body, snapshot);
            PutWhole(out, "200 OK", "application/json", body.data, body.length, head);
            break;
        case WebRoute::Overlay:
            PutHead(out, "200 OK", "text/html; charset=utf-8", kOverlayPageLength, true);
            if (!head) answer = {false, kOverlayPage, kOverlayPageLength, false};
            break;
        case WebRoute::Builder:
            PutHead(out, "200 OK", "text/html; charset=utf-8", kBuilderPageLength, true);
            if (!head) answer = {false, kBuilderPage, kBuilderPageLength, false};
            break;
        case WebRoute::WebSocket:
            // The server answers a GET of /ws with the handshake itself;
            // what comes here (HEAD) cannot upgrade.
            PutRefusal(out, "400 Bad Request", "Not a WebSocket handshake\n");
            break;
        case WebRoute::Events:
            PutHead(out, "200 OK", "text/event-stream", 0, false);
            if (!head) {
                PutStreamOpening(out, snapshot.state, store, feed);
                answer.streams = true;
            }
            break;
        case WebRoute::SessionCsv:
            PutSessionCsvHead(out, snapshot.session.startWallMs, head);
            answer.sessionRows = !head;
            break;
    }
    return answer;
}
