#include "web/event_stream.h"

void PutStateEvent(TextSink& sink, LinkState state) {
    PutText(sink, "event: state\ndata: ");
    PutText(sink, LinkStateWord(state));
    PutText(sink, "\n\n");
}

static void PutRateEvent(TextSink& sink, uint8_t rate) {
    PutText(sink, "event: rate\ndata: ");
    PutNumber(sink, rate);
    PutText(sink, "\n\n");
}

// `count` values of a round buffer of `capacity` from slot `start`, oldest
// first, as one samples event.
static void PutSamplesEvent(TextSink& sink, const uint16_t* slots, uint32_t capacity, uint32_t start,
                            uint32_t count) {
    if (count == 0) return;
    PutText(sink, "event: samples\ndata: ");
    PutNumberList(sink, slots, capacity, start, count);
    PutText(sink, "\n\n");
}

static uint32_t Least(uint32_t a, uint32_t b) { return a < b ? a : b; }

void PutStreamOpening(TextSink& sink, LinkState state, const MeasurementStore& store, const LiveFeed& feed) {
    PutText(sink, "retry: 1000\n\n");
    PutStateEvent(sink, state);
    // The newest values are still in the tick's news, which reaches this
    // client too: they are left out here so nothing arrives twice.
    const SampleRing& samples = store.samples;
    uint32_t sampleCount = Least(feed.samplesHeld, samples.capacity);
    uint32_t samplesPending = Least(feed.newSampleCount, sampleCount);
    PutSamplesEvent(sink, samples.slots, samples.capacity,
                    RingWindowStart(samples.writeIndex, samples.capacity, sampleCount), sampleCount - samplesPending);
    const BeatRing& beats = store.beats;
    uint32_t rateCount = Least(feed.ratesHeld, beats.capacity);
    uint32_t ratesPending = Least(feed.newRateCount, rateCount);
    uint32_t at = RingWindowStart(beats.writeIndex, beats.capacity, rateCount);
    for (uint32_t i = 0; i < rateCount - ratesPending; ++i) PutRateEvent(sink, beats.slots[(at + i) % beats.capacity]);
}

static void PutNewRates(TextSink& sink, const LiveFeed& feed) {
    NewsWindow rates = NewRates(feed);
    for (uint32_t i = 0; i < rates.count; ++i) PutRateEvent(sink, feed.newRates[(rates.start + i) % kTickRateLimit]);
}

void PutTickEvents(TextSink& sink, const LiveFeed& feed) {
    if (feed.cleared) PutText(sink, "event: clear\ndata: rings\n\n");
    NewsWindow samples = NewSamples(feed);
    PutSamplesEvent(sink, feed.newSamples, kTickSampleLimit, samples.start, samples.count);
    PutNewRates(sink, feed);
}

void PutRateNews(TextSink& sink, const LiveFeed& feed) {
    if (feed.cleared) PutText(sink, "event: clear\ndata: rings\n\n");
    PutNewRates(sink, feed);
}

void PutKeepAlive(TextSink& sink) { PutText(sink, ": keep-alive\n\n"); }
