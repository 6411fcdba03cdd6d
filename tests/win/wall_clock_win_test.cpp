// Local time through Windows' time zone calls, in a zone with daylight saving:
// this executable runs with TZ=Europe/Berlin, which Wine maps to its zone.
#include <gtest/gtest.h>

#include <string>

#include "serial/platform.h"
#include "web/session_csv.h"

namespace {

std::string Local(int64_t utcMs) {
    char text[64];
    TextSink sink = SinkOver(text, sizeof text);
    PutIsoTime(sink, LocalTimeAt(utcMs));
    return std::string(text, sink.length);
}

TEST(LocalTime, EachMomentGetsTheOffsetOfItsOwnDate) {
    struct Case {
        int64_t utcMs;
        const char* local;
    } cases[] = {
        {1768478400123, "2026-01-15T13:00:00.123+01:00"},
        {1784116800000, "2026-07-15T14:00:00.000+02:00"},
        {1774745999999, "2026-03-29T01:59:59.999+01:00"},  // the last moment before summer time
        {1774746000000, "2026-03-29T03:00:00.000+02:00"},
        {1792889999999, "2026-10-25T02:59:59.999+02:00"},  // the hour that comes twice, first time
        {1792890000000, "2026-10-25T02:00:00.000+01:00"},  // ... and second
    };
    for (const Case& c : cases) EXPECT_EQ(Local(c.utcMs), c.local) << c.utcMs;
}

}  // namespace
