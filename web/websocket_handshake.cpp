#include "web/websocket_handshake.h"

#include <cstring>

#include "web/http_request.h"
#include "web/sha1.h"
#include "web/text_span.h"

namespace {

// True when the comma-separated list `value` holds `token`, in any case.
bool ListHolds(Span value, const char* token) {
    const char* end = value.at + value.length;
    const char* from = value.at;
    while (from <= end) {
        const char* comma = static_cast<const char*>(std::memchr(from, ',', static_cast<size_t>(end - from)));
        const char* itemEnd = comma != nullptr ? comma : end;
        if (EqualsIgnoringCase(Trimmed({from, static_cast<size_t>(itemEnd - from)}), token)) return true;
        if (comma == nullptr) break;
        from = comma + 1;
    }
    return false;
}

// What the handshake reads from the head.
struct UpgradeHeaders {
    int upgrades, connections, keys, versions, origins;  // how often each header came
    bool upgradeWebsocket;   // Upgrade names websocket
    bool connectionUpgrade;  // Connection holds the upgrade token
    Span key;                // Sec-WebSocket-Key
    Span version;            // Sec-WebSocket-Version
    Span origin;             // Origin
    Span query;              // the request target after '?'
    bool http11;             // the request line ends in HTTP/1.1
};

// Walks the head the request parser already checked: lines end in LF
// (perhaps CR LF), each header line has a colon.
UpgradeHeaders ReadHeaders(const char* head, size_t headLength) {
    UpgradeHeaders headers = {};
    const char* end = head + headLength;
    const char* lineEnd = static_cast<const char*>(std::memchr(head, '\n', headLength));
    if (lineEnd == nullptr) return headers;
    const char* target = static_cast<const char*>(std::memchr(head, ' ', static_cast<size_t>(lineEnd - head)));
    const char* targetEnd =
        target ? static_cast<const char*>(std::memchr(target + 1, ' ', static_cast<size_t>(lineEnd - target - 1))) : nullptr;
    if (targetEnd != nullptr) {
        const char* question = static_cast<const char*>(std::memchr(target, '?', static_cast<size_t>(targetEnd - target)));
        if (question != nullptr) headers.query = {question + 1, static_cast<size_t>(targetEnd - question - 1)};
        Span version = {targetEnd + 1, static_cast<size_t>(lineEnd - targetEnd - 1)};
        if (version.length > 0 && version.at[version.length - 1] == '\r') --version.length;
        headers.http11 = version.length == 8 && std::memcmp(version.at, "HTTP/1.1", 8) == 0;
    }
    for (const char* from = lineEnd + 1; from < end;) {
        const char* next = static_cast<const char*>(std::memchr(from, '\n', static_cast<size_t>(end - from)));
        if (next == nullptr) break;
        Span line = {from, static_cast<size_t>(next - from)};
        if (line.length > 0 && line.at[line.length - 1] == '\r') --line.length;
        from = next + 1;
        const char* colon = static_cast<const char*>(std::memchr(line.at, ':', line.length));
        if (colon == nullptr) continue;
        Span name = {line.at, static_cast<size_t>(colon - line.at)};
        Span value = Trimmed({colon + 1, line.length - name.length - 1});
        if (EqualsIgnoringCase(name, "Upgrade")) {
            ++headers.upgrades;
            headers.upgradeWebsocket = ListHolds(value, "websocket");
        } else if (EqualsIgnoringCase(name, "Connection")) {
            ++headers.connections;
            headers.connectionUpgrade = ListHolds(value, "upgrade");
        } else if (EqualsIgnoringCase(name, "Sec-WebSocket-Key")) {
            ++headers.keys;
            headers.key = value;
        } else if (EqualsIgnoringCase(name, "Sec-WebSocket-Version")) {
            ++headers.versions;
            headers.version = value;
        } else if (EqualsIgnoringCase(name, "Origin")) {
            ++headers.origins;
            headers.origin = value;
        }
    }
    return headers;
}

bool IsBase64Char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// A key is 16 bytes in base64: 22 characters and "==".
bool IsKey(Span key) {
    if (key.length != 24 || key.at[22] != '=' || key.at[23] != '=') return false;
    for (size_t i = 0; i < 22; ++i) {
        if (!IsBase64Char(key.at[i])) return false;
    }
    return true;
}

// The endpoint's own origins: the overlay's and the status page's pages.
bool IsOwnOrigin(Span origin, uint32_t port) {
    const size_t scheme = 7;  // "http://"
    return origin.length > scheme && EqualsIgnoringCase({origin.at, scheme}, "http://") &&
           HostNamesEndpoint({origin.at + scheme, origin.length - scheme}, port);
}

// samples=1 and zones=…; other names are ignored, a bad value of these refused.
bool ReadQuery(Span query, WsSession& session) {
    const char* end = query.at + query.length;
    for (const char* from = query.at; from < end;) {
        const char* amp = static_cast<const char*>(std::memchr(from, '&', static_cast<size_t>(end - from)));
        const char* itemEnd = amp != nullptr ? amp : end;
        Span item = {from, static_cast<size_t>(itemEnd - from)};
        from = itemEnd + 1;
        const char* equals = static_cast<const char*>(std::memchr(item.at, '=', item.length));
        if (equals == nullptr) continue;
        Span name = {item.at, static_cast<size_t>(equals - item.at)};
        Span value = {equals + 1, static_cast<size_t>(itemEnd - equals - 1)};
        if (EqualsIgnoringCase(name, "samples")) {
            if (value.length != 1 || (value.at[0] != '0' && value.at[0] != '1')) return false;
            session.wantsSamples = value.at[0] == '1';
        } else if (EqualsIgnoringCase(name, "zones")) {
            if (!ParseZones(value.at, value.length, session.zones)) return false;
        }
    }
    return true;
}

void PutRefusal(TextSink& out, const char* status, const char* extraHeader, const char* text) {
    PutText(out, "HTTP/1.1 ");
    PutText(out, status);
    PutText(out, "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: ");
    PutNumber(out, std::strlen(text));
    PutText(out, extraHeader);
    PutText(out, "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n");
    PutText(out, text);
}

}  // namespace

void WebSocketAccept(const char* key, size_t keyLength, char accept[29]) {
    static const char kGuid[] = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
    uint8_t joined[64 + sizeof kGuid];
    size_t length = keyLength < 64 ? keyLength : 64;
    std::memcpy(joined, key, length);
    std::memcpy(joined + length, kGuid, sizeof kGuid - 1);
    uint8_t digest[kSha1Bytes];
    Sha1(joined, length + sizeof kGuid - 1, digest);
    Base64(digest, sizeof digest, accept);
}

UpgradeVerdict PutUpgradeAnswer(TextSink& out, const char* head, size_t headLength, uint32_t port,
                                WsSession& session) {
    UpgradeHeaders headers = ReadHeaders(head, headLength);
    session = {};
    session.zone = kNoZone;
    // Scripts and bots send no Origin; a browser always does, naming the
    // page's site. Checked first: another site's page learns nothing more.
    if (headers.origins > 1 || (headers.origins == 1 && !IsOwnOrigin(headers.origin, port))) {
        PutRefusal(out, "403 Forbidden", "", "Forbidden\n");
        return UpgradeVerdict::ForeignOrigin;
    }
    bool once = headers.upgrades == 1 && headers.connections == 1 && headers.keys == 1 && headers.versions <= 1;
    if (!once || !headers.http11 || !headers.upgradeWebsocket || !headers.connectionUpgrade || !IsKey(headers.key)) {
        PutRefusal(out, "400 Bad Request", "", "Not a WebSocket handshake\n");
        return UpgradeVerdict::Bad;
    }
    if (headers.versions == 0 || !EqualsIgnoringCase(headers.version, "13")) {
        PutRefusal(out, "426 Upgrade Required", "\r\nSec-WebSocket-Version: 13", "WebSocket version 13 only\n");
        return UpgradeVerdict::OtherVersion;
    }
    if (!ReadQuery(headers.query, session)) {
        session = {};
        PutRefusal(out, "400 Bad Request", "", "Bad query\n");
        return UpgradeVerdict::Bad;
    }
    char accept[29];
    WebSocketAccept(headers.key.at, headers.key.length, accept);
    PutText(out, "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Accept: ");
    PutText(out, accept);
    PutText(out, "\r\n\r\n");
    session.open = true;
    session.zone = kNoZone;
    return UpgradeVerdict::Accepted;
}
