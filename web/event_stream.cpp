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

// The values of a ring's window of `count` slots ending before `writeIndex`,
// oldest first, as one samples event.
static void PutSamplesEvent(TextSink& sink, const uint16_t* slots, uint32_t capacity, uint32_t writeIndex,
                            uint32_t count) {
    if (count == 0) return;
    PutText(sink, "event: samples\ndata: ");
    uint32_t at = RingWindowStart(writeIndex, capacity, count);
    for (uint32_t i = 0; i < count; ++i) {
        if (i > 0) PutText(sink, ",");
        PutNumber(sink, slots[(at + i) % capacity]);
    }
    PutText(sink, "\n\n");
}

void PutStreamOpening(TextSink& sink, LinkState state, const MeasurementStore& store, const LiveFeed& feed) {
    PutText(sink, "retry: 1000\n\n");
    PutStateEvent(sink, state);
    const SampleRing& samples = store.samples;
    uint32_t sampleCount = feed.samplesHeld < samples.capacity ? feed.samplesHeld : samples.capacity;
    PutSamplesEvent(sink, samples.slots, samples.capacity, samples.writeIndex, sampleCount);
    const BeatRing& beats = store.beats;
    uint32_t rateCount = feed.ratesHeld < beats.capacity ? feed.ratesHeld : beats.capacity;
    uint32_t at = RingWindowStart(beats.writeIndex, beats.capacity, rateCount);
    for (uint32_t i = 0; i < rateCount; ++i) PutRateEvent(sink, beats.slots[(at + i) % beats.capacity]);
}

void PutTickEvents(TextSink& sink, const LiveFeed& feed) {
    if (feed.cleared) PutText(sink, "event: clear\ndata: rings\n\n");
    uint32_t sampleCount = feed.newSampleCount < kTickSampleLimit ? feed.newSampleCount : kTickSampleLimit;
    PutSamplesEvent(sink, feed.newSamples, kTickSampleLimit, feed.newSampleCount % kTickSampleLimit, sampleCount);
    uint32_t rateCount = feed.newRateCount < kTickRateLimit ? feed.newRateCount : kTickRateLimit;
    uint32_t at = RingWindowStart(feed.newRateCount % kTickRateLimit, kTickRateLimit, rateCount);
    for (uint32_t i = 0; i < rateCount; ++i) PutRateEvent(sink, feed.newRates[(at + i) % kTickRateLimit]);
}

void PutKeepAlive(TextSink& sink) { PutText(sink, ": keep-alive\n\n"); }
