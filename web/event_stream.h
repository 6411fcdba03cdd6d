#pragma once
// The event stream's framing (text/event-stream): each event a block of
// "event:" and "data:" lines ended by an empty line.
#include "store/measurement_store.h"
#include "store/live_feed.h"
#include "web/text_sink.h"

// What a client gets first: the reconnect delay, the state, the samples the
// ring holds and every rate it holds, oldest first (only values received
// since start or the last clear: the rings start out as zeros), except those
// still waiting for the tick, which sends them.
void PutStreamOpening(TextSink& sink, LinkState state, const MeasurementStore& store, const LiveFeed& feed);

// One tick's news in the order it happened to the rings: a clear, then the
// new samples as one event, then each new rate.
void PutTickEvents(TextSink& sink, const LiveFeed& feed);

// The rates stored since the last tick, each as it was stored, after a clear
// that came before them: a new rate need not wait for the tick's samples.
void PutRateNews(TextSink& sink, const LiveFeed& feed);

void PutStateEvent(TextSink& sink, LinkState state);

// A comment line that keeps a silent connection from being taken for dead.
void PutKeepAlive(TextSink& sink);
