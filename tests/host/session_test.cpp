#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "store/session_record.h"
#include "tests/host/fake_serial_platform.h"
#include "tests/host/rendered_text.h"
#include "web/session_csv.h"
#include "web/session_summary.h"
#include "web/web_answers.h"
#include "web/web_status.h"

namespace {

// The record is 1.8 MB: on the heap here, as the program keeps it in static storage.
std::unique_ptr<SessionRecord> NewRecord(uint32_t capacity, uint64_t startMs = 5000, int64_t wallMs = 0) {
    std::unique_ptr<SessionRecord> record(new SessionRecord());
    StartSession(*record, capacity, startMs, wallMs);
    return record;
}

std::vector<int> Held(const SessionRecord& r) {
    std::vector<int> rates;
    for (uint64_t s = r.firstSerial; s < r.endSerial; ++s) rates.push_back(SessionRate(r, s));
    return rates;
}

constexpr uint64_t kHourMs = 3600000;

TEST(SessionRecord, DropsTheOldestWhenFullOrOlderThanADay) {
    auto r = NewRecord(4);
    for (int bpm = 1; bpm <= 6; ++bpm) AppendSessionRate(*r, static_cast<uint8_t>(bpm), 5000 + bpm);
    EXPECT_EQ(Held(*r), (std::vector<int>{3, 4, 5, 6})) << "full: the oldest go first";

    r = NewRecord(10);
    AppendSessionRate(*r, 60, 5000);
    AppendSessionRate(*r, 61, 5000 + kHourMs);
    AppendSessionRate(*r, 62, 5000 + kSessionSpanMs);
    EXPECT_EQ(Held(*r), (std::vector<int>{60, 61, 62})) << "exactly 24 h old is kept";
    AppendSessionRate(*r, 63, 5001 + kSessionSpanMs);
    EXPECT_EQ(Held(*r), (std::vector<int>{61, 62, 63}));
    DropOldSessionRates(*r, 5001 + kHourMs + kSessionSpanMs);
    EXPECT_EQ(Held(*r), (std::vector<int>{62, 63})) << "also while no rate comes";
    DropOldSessionRates(*r, 100 * kSessionSpanMs);
    EXPECT_EQ(Held(*r), std::vector<int>{});

    uint64_t before = r->endSerial;
    AppendSessionRate(*r, 70, 100 * kSessionSpanMs);
    StartSession(*r, 10, 100 * kSessionSpanMs + 1, 0);  // Delete
    EXPECT_EQ(Held(*r), std::vector<int>{});
    EXPECT_EQ(r->firstSerial, before + 1) << "serials go on, so a download sees its rows are gone";
}

TEST(SessionRecord, HoldsADayOfTheFastestHeartAndKeepsTimesPastFortyNineDays) {
    auto r = NewRecord(kSessionSlots, 0, 1000);
    // 254 bpm, one rate every 60000 / 254 ms, for a whole day.
    uint64_t count = kSessionSpanMs * 254 / 60000;
    for (uint64_t i = 0; i < count; ++i) AppendSessionRate(*r, 254, i * 60000 / 254);
    EXPECT_EQ(r->endSerial - r->firstSerial, count) << "nothing dropped within the day";

    // A session of 60 days: 32-bit entry times wrap after 49.7; the wall times must not.
    r = NewRecord(8, 7, 1000);
    uint64_t late = 60 * 24 * kHourMs;
    for (uint64_t at : {late - 2000, late - 1000, late}) AppendSessionRate(*r, 80, at);
    ASSERT_EQ(Held(*r).size(), 3u);
    for (uint64_t i = 0; i < 3; ++i)
        EXPECT_EQ(SessionRateWallMs(*r, r->firstSerial + i), static_cast<int64_t>(1000 + late - 7 - 2000 + i * 1000));
}

std::string Iso(LocalTime t) {
    char text[64];
    TextSink sink = SinkOver(text, sizeof text);
    PutIsoTime(sink, t);
    return std::string(text, sink.length);
}

TEST(SessionCsv, TimesAreIsoWithTheirOffset) {
    struct Case {
        LocalTime time;
        const char* text;
    } cases[] = {
        {{2026, 12, 8, 21, 14, 3, 250, 60}, "2026-12-08T21:14:03.250+01:00"},
        {{2026, 1, 2, 3, 4, 5, 6, 0}, "2026-01-02T03:04:05.006+00:00"},
        {{2026, 7, 1, 0, 0, 0, 999, -330}, "2026-07-01T00:00:00.999-05:30"},
        {{2026, 7, 1, 23, 59, 59, 0, 345}, "2026-07-01T23:59:59.000+05:45"},
        {{2026, 7, 1, 12, 0, 0, 0, -720}, "2026-07-01T12:00:00.000-12:00"},
    };
    for (const Case& c : cases) EXPECT_EQ(Iso(c.time), c.text);
}

TEST(SessionCsv, RowsInLocalTimeWithCrLfAndOnlyWholeRowsPerChunk) {
    ResetFakeSerialPlatform();
    gFake.offsetMinutes = 60;
    // 2026-12-08T20:14:03.250Z, the session started 1 s before the first rate.
    const int64_t wall = 1796760843250;
    auto r = NewRecord(10, 1000, wall - 1000);
    AppendSessionRate(*r, 72, 2000);
    AppendSessionRate(*r, 0, 2850);
    AppendSessionRate(*r, 254, 3000 + kHourMs * 3);  // past local midnight
    const std::string rows[] = {"2026-12-08T21:14:03.250+01:00,72\r\n", "2026-12-08T21:14:04.100+01:00,0\r\n",
                                "2026-12-09T00:14:04.250+01:00,254\r\n"};

    char text[256];
    TextSink all = SinkOver(text, sizeof text);
    EXPECT_EQ(PutSessionRows(all, *r, r->firstSerial, r->endSerial), r->endSerial);
    EXPECT_EQ(std::string(text, all.length), rows[0] + rows[1] + rows[2]);

    // A chunk with room for one row and a half takes the one.
    TextSink small = SinkOver(text, rows[0].size() + rows[1].size() / 2);
    EXPECT_EQ(PutSessionRows(small, *r, r->firstSerial, r->endSerial), r->firstSerial + 1);
    EXPECT_EQ(std::string(text, small.length), rows[0]);
    EXPECT_FALSE(small.overflowed);

    char head[512];
    TextSink answer = SinkOver(head, sizeof head);
    PutSessionCsvHead(answer, wall + 4 * kHourMs, false);  // the session started on the 9th, local time
    std::string got(head, answer.length);
    EXPECT_NE(got.find("\r\nContent-Type: text/csv; charset=us-ascii\r\n"), std::string::npos) << got;
    EXPECT_NE(got.find("\r\nContent-Disposition: attachment; filename=\"vintra-session-2026-12-09.csv\"\r\n"),
              std::string::npos) << got;
    EXPECT_EQ(got.substr(got.size() - 14), "\r\n\r\ntime,bpm\r\n");
    for (char c : got + rows[0] + rows[1] + rows[2]) EXPECT_TRUE(c > 0 && c < 127) << "ASCII only";
}

TEST(SessionSummary, FiguresNullsAndTheChart) {
    ResetFakeSerialPlatform();
    gFake.offsetMinutes = -300;
    auto r = NewRecord(kSessionSlots, 0, 1796760843250);
    EXPECT_EQ(Render(PutSessionJson, SummarizeSession(*r)),
              R"({"since":null,"count":0,"min":null,"avg":null,"max":null})");
    EXPECT_NE(Render(PutSessionSection, SummarizeSession(*r)).find("No beat rate in this session yet."),
              std::string::npos);

    for (int bpm : {60, 60, 61}) AppendSessionRate(*r, static_cast<uint8_t>(bpm), 1000);
    EXPECT_EQ(Render(PutSessionJson, SummarizeSession(*r)),
              R"({"since":"2026-12-08T15:14:04.250-05:00","count":3,"min":60,"avg":60.3,"max":61})");
    AppendSessionRate(*r, 61, 1000);
    EXPECT_NE(Render(PutSessionJson, SummarizeSession(*r)).find(R"("avg":60.5,)"), std::string::npos) << "rounded";

    // 1000 rates from 50 up to 149 and back: the chart has its 120 points, within the picture.
    for (int i = 0; i < 1000; ++i)
        AppendSessionRate(*r, static_cast<uint8_t>(50 + (i < 500 ? i / 5 : (999 - i) / 5)), 2000);
    SessionSummary s = SummarizeSession(*r);
    EXPECT_EQ(s.chartCount, kChartPoints);
    EXPECT_EQ(s.chart[0], 55) << "the first point is the mean of its run: 60 60 61 61 50 50 50 50 50";
    std::string section = Render(PutSessionSection, s);
    EXPECT_NE(section.find("<b>1004</b> beat rates, lowest <b>50</b>, average <b>"), std::string::npos) << section;
    EXPECT_NE(section.find("<a href=\"/session.csv\">"), std::string::npos);
    size_t points = section.find("points=\"");
    ASSERT_NE(points, std::string::npos);
    std::string list = section.substr(points + 8, section.find('"', points + 8) - points - 8);
    int count = 0;
    for (size_t at = 0; at < list.size(); at = list.find(' ', at) + 1, ++count) {
        unsigned x = 0, y = 0;
        ASSERT_EQ(std::sscanf(list.c_str() + at, "%u,%u", &x, &y), 2);
        EXPECT_LE(x, 480u);
        EXPECT_LE(y, 100u);
        if (list.find(' ', at) == std::string::npos) { ++count; break; }
    }
    EXPECT_EQ(count, 120);
    EXPECT_EQ(section.find("<script"), std::string::npos);
}

}  // namespace
