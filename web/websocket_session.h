#pragma once
// One WebSocket client of the endpoint, neutral: what it asked for, what it
// was last told, and the frames it sends us. The sockets are the server's.
#include <cstddef>
#include <cstdint>

#include "store/live_feed.h"
#include "web/text_sink.h"
#include "web/websocket_frame.h"
#include "web/zones.h"

struct WsSession {
    bool open;             // upgraded, and no close sent yet
    bool wantsSamples;     // asked for the raw samples (?samples=1)
    Zones zones;           // its zone thresholds (?zones=…), count 0 for none
    int zone;              // the zone last sent, kNoZone before the first live rate
    bool stateSent;        // a state message was sent
    LinkState sentState;   // the state last sent
    bool inMessage;        // a fragmented data message awaits its continuation frames
    size_t messageLength;  // payload bytes of that message so far
    Utf8Check utf8;        // that text message's UTF-8 so far
};

// What the client's frames call for.
enum class WsReading {
    Open,     // carry on
    Closing,  // a close frame is queued: send it, then close the connection
};

// Consumes the whole frames at the start of bytes[0..length), queuing the
// answers (pong, close) into `replies`, and moves what is left of an
// unfinished frame to the start; `length` becomes its size. Text messages
// are checked and dropped: clients have nothing to tell us.
WsReading ReadClientFrames(WsSession& session, uint8_t* bytes, size_t& length, TextSink& replies);

// What a client gets on connecting: the state, then the latest rate (and
// its zone) when the state is live and that rate is not still waiting in
// the feed's news, which will bring it.
void PutWsOpening(TextSink& sink, WsSession& session, LinkState state, const LiveFeed& feed);

// The news for one client: the state when it changed, each new rate (and a
// zone message when the live rate moved into another zone), and with
// `tick` the new samples if it asked for them.
void PutWsNews(TextSink& sink, WsSession& session, LinkState state, const LiveFeed& feed, bool tick);

// A close frame with `code` and no reason.
void PutWsClose(TextSink& sink, uint16_t code);
