#pragma once
// The WebSocket opening handshake on /ws (RFC 6455 section 4.2): checks the
// upgrade request and answers it with 101 and Sec-WebSocket-Accept, or with
// a refusal. Browsers let any page open a WebSocket anywhere, with no CORS,
// so a request whose Origin is another site's is refused.
#include <cstddef>
#include <cstdint>

#include "web/text_sink.h"
#include "web/websocket_session.h"

enum class UpgradeVerdict {
    Accepted,       // 101 Switching Protocols
    Bad,            // not a WebSocket handshake, or a bad query (400)
    OtherVersion,   // a version other than 13 (426, naming 13)
    ForeignOrigin,  // an Origin other than the endpoint's own (403)
};

// The Sec-WebSocket-Accept value for a key: base64(SHA-1(key + the RFC's GUID)),
// NUL-terminated in 29 characters.
void WebSocketAccept(const char* key, size_t keyLength, char accept[29]);

// Checks the request head `head[0..headLength)`, which the request parser
// took as a GET of /ws for this endpoint's `port`, and writes the answer:
// the 101 head, or a whole refusal. An accepted request sets up `session`
// from its query (samples=1, zones=…).
UpgradeVerdict PutUpgradeAnswer(TextSink& out, const char* head, size_t headLength, uint32_t port,
                                WsSession& session);
