#include "web/http_request.h"

#include <cstring>

#include "web/text_sink.h"
#include "web/text_span.h"

namespace {

// The characters of a method or a header name.
bool IsTokenChar(char c) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
    return c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool IsToken(Span span) {
    if (span.length == 0) return false;
    for (size_t i = 0; i < span.length; ++i) {
        if (!IsTokenChar(span.at[i])) return false;
    }
    return true;
}

// The next line at `from`, without its LF or the CR before it; false when no
// LF has arrived yet.
bool NextLine(const char* bytes, size_t length, size_t from, Span& line, size_t& next) {
    const void* lf = std::memchr(bytes + from, '\n', length - from);
    if (lf == nullptr) return false;
    size_t end = static_cast<size_t>(static_cast<const char*>(lf) - bytes);
    next = end + 1;
    if (end > from && bytes[end - 1] == '\r') --end;
    line = {bytes + from, end - from};
    return true;
}

struct RequestLine {
    Span method;
    Span path;  // the target up to its query
};

// METHOD SP target SP HTTP/1.x, the target an absolute path with an optional query.
bool ReadRequestLine(Span line, RequestLine& request) {
    const char* end = line.at + line.length;
    const char* space = static_cast<const char*>(std::memchr(line.at, ' ', line.length));
    if (space == nullptr) return false;
    request.method = {line.at, static_cast<size_t>(space - line.at)};
    const char* target = space + 1;
    const char* space2 = static_cast<const char*>(std::memchr(target, ' ', static_cast<size_t>(end - target)));
    if (space2 == nullptr) return false;
    Span version = {space2 + 1, static_cast<size_t>(end - space2 - 1)};
    if (!IsToken(request.method) || !(Equals(version, "HTTP/1.1") || Equals(version, "HTTP/1.0"))) return false;
    if (target == space2 || *target != '/') return false;
    const char* pathEnd = target;
    for (const char* c = target; c < space2; ++c) {
        if (*c <= ' ' || *c >= 0x7F) return false;
        if (pathEnd == target && *c == '?') pathEnd = c;
    }
    if (pathEnd == target) pathEnd = space2;
    request.path = {target, static_cast<size_t>(pathEnd - target)};
    return true;
}

WebRoute RouteOf(Span path) {
    if (Equals(path, "/")) return WebRoute::StatusPage;
    if (Equals(path, "/status.json")) return WebRoute::StatusJson;
    if (Equals(path, "/events")) return WebRoute::Events;
    if (Equals(path, "/overlay")) return WebRoute::Overlay;
    if (Equals(path, "/session.csv")) return WebRoute::SessionCsv;
    if (Equals(path, "/ws")) return WebRoute::WebSocket;
    if (Equals(path, "/builder")) return WebRoute::Builder;
    return WebRoute::None;
}

// A header value: visible characters, spaces and tabs (and bytes above ASCII).
bool IsFieldValue(Span value) {
    for (size_t i = 0; i < value.length; ++i) {
        unsigned char c = static_cast<unsigned char>(value.at[i]);
        if ((c < ' ' && c != '\t') || c == 0x7F) return false;
    }
    return true;
}

ParsedRequest Verdict(RequestVerdict verdict, size_t headLength = 0) { return {verdict, WebRoute::None, headLength}; }

}  // namespace

bool HostNamesEndpoint(Span host, uint32_t port) {
    const char* names[] = {"localhost", "127.0.0.1", "[::1]"};
    for (const char* name : names) {
        char withPort[32];
        TextSink sink = SinkOver(withPort, sizeof withPort - 1);
        PutText(sink, name);
        PutText(sink, ":");
        PutNumber(sink, port);
        withPort[sink.length] = '\0';
        if (EqualsIgnoringCase(host, withPort)) return true;
        if (port == 80 && EqualsIgnoringCase(host, name)) return true;
    }
    return false;
}

ParsedRequest ParseRequest(const char* bytes, size_t length, uint32_t port) {
    // Only a token can come before the first space: anything else (a TLS
    // hello, binary noise) is refused at once rather than waited out.
    for (size_t i = 0; i < length && bytes[i] != ' '; ++i) {
        if (!IsTokenChar(bytes[i])) return Verdict(RequestVerdict::Bad);
    }
    Span line;
    size_t next = 0;
    RequestLine request;
    if (!NextLine(bytes, length, 0, line, next)) {
        return Verdict(length >= kRequestHeadLimit ? RequestVerdict::TooLarge : RequestVerdict::Incomplete);
    }
    if (next > kRequestHeadLimit) return Verdict(RequestVerdict::TooLarge);
    if (!ReadRequestLine(line, request)) return Verdict(RequestVerdict::Bad, next);

    // The headers up to the empty line; all must be there before anything is decided.
    int hosts = 0;
    bool hostMatches = false;
    bool malformed = false;
    for (;;) {
        size_t from = next;
        if (!NextLine(bytes, length, from, line, next)) {
            return Verdict(length >= kRequestHeadLimit ? RequestVerdict::TooLarge : RequestVerdict::Incomplete);
        }
        if (next > kRequestHeadLimit) return Verdict(RequestVerdict::TooLarge);
        if (line.length == 0) break;
        const char* colon = static_cast<const char*>(std::memchr(line.at, ':', line.length));
        Span name = {line.at, colon ? static_cast<size_t>(colon - line.at) : 0};
        Span value = colon ? Span{colon + 1, line.length - name.length - 1} : Span{line.at, 0};
        // No name (a folded continuation line, a line without a colon), or a
        // stray CR or NUL anywhere: refused, as smuggling tricks hide there.
        if (colon == nullptr || !IsToken(name) || !IsFieldValue(value)) {
            malformed = true;
            continue;
        }
        if (EqualsIgnoringCase(name, "Host")) {
            ++hosts;
            hostMatches = HostNamesEndpoint(Trimmed(value), port);
        }
    }
    if (malformed || hosts > 1) return Verdict(RequestVerdict::Bad, next);
    if (hosts == 0 || !hostMatches) return Verdict(RequestVerdict::ForeignHost, next);
    bool get = Equals(request.method, "GET");
    if (!get && !Equals(request.method, "HEAD")) return Verdict(RequestVerdict::OtherMethod, next);
    WebRoute route = RouteOf(request.path);
    if (route == WebRoute::None) return Verdict(RequestVerdict::NotFound, next);
    return {get ? RequestVerdict::Get : RequestVerdict::Head, route, next};
}
