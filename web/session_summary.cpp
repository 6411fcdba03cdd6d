#include "web/session_summary.h"

#include "web/session_csv.h"

// The chart's drawing area in SVG units; the page shows it at this size.
constexpr uint32_t kChartWidth = 480;
constexpr uint32_t kChartHeight = 100;

// "72.4"
static void PutTenths(TextSink& sink, uint32_t tenths) {
    PutNumber(sink, tenths / 10);
    PutText(sink, ".");
    PutNumber(sink, tenths % 10);
}

void PutSessionJson(TextSink& sink, const SessionSummary& s) {
    if (s.count == 0) {
        PutText(sink, "{\"since\":null,\"count\":0,\"min\":null,\"avg\":null,\"max\":null}");
        return;
    }
    PutText(sink, "{\"since\":\"");
    PutIsoTime(sink, LocalTimeAt(s.sinceWallMs));
    PutText(sink, "\",\"count\":");
    PutNumber(sink, s.count);
    PutText(sink, ",\"min\":");
    PutNumber(sink, s.min);
    PutText(sink, ",\"avg\":");
    PutTenths(sink, s.avgTenths);
    PutText(sink, ",\"max\":");
    PutNumber(sink, s.max);
    PutText(sink, "}");
}

// The chart: one polyline through the points, scaled so the lowest and the
// highest rate sit 5 bpm inside the edges. Only numbers go into it.
static void PutChart(TextSink& sink, const SessionSummary& s) {
    uint32_t low = s.min > 5 ? s.min - 5u : 0u;
    uint32_t span = s.max + 5u - low;
    PutText(sink, "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart\" width=\"");
    PutNumber(sink, kChartWidth);
    PutText(sink, "\" height=\"");
    PutNumber(sink, kChartHeight);
    PutText(sink, "\" viewBox=\"0 0 ");
    PutNumber(sink, kChartWidth);
    PutText(sink, " ");
    PutNumber(sink, kChartHeight);
    PutText(sink,
            "\" role=\"img\" aria-label=\"The session's beat rates\">"
            "<rect width=\"100%\" height=\"100%\" fill=\"#f6f6f6\"/>"
            "<polyline fill=\"none\" stroke=\"#c8102e\" stroke-width=\"2\" points=\"");
    uint32_t y = 0;
    for (uint32_t i = 0; i < s.chartCount; ++i) {
        uint32_t x = s.chartCount == 1 ? 0 : i * kChartWidth / (s.chartCount - 1);
        y = kChartHeight - (s.chart[i] - low) * kChartHeight / span;
        if (i > 0) PutText(sink, " ");
        PutNumber(sink, x);
        PutText(sink, ",");
        PutNumber(sink, y);
    }
    // A single rate is drawn as a flat line across.
    if (s.chartCount == 1) {
        PutText(sink, " ");
        PutNumber(sink, kChartWidth);
        PutText(sink, ",");
        PutNumber(sink, y);
    }
    PutText(sink, "\"/></svg>\n");
}

void PutSessionSection(TextSink& sink, const SessionSummary& s) {
    PutText(sink, "<h2>This session</h2>\n<p>");
    if (s.count == 0) {
        PutText(sink, "No beat rate in this session yet. (Delete in Vintra starts a new session.)</p>\n");
        return;
    }
    char since[40];
    TextSink sinceText = SinkOver(since, sizeof since - 1);
    PutIsoTime(sinceText, LocalTimeAt(s.sinceWallMs));
    since[sinceText.length] = '\0';
    PutText(sink, "Since <time>");
    PutEscaped(sink, since);
    PutText(sink, "</time>: <b>");
    PutNumber(sink, s.count);
    PutText(sink, s.count == 1 ? "</b> beat rate, lowest <b>" : "</b> beat rates, lowest <b>");
    PutNumber(sink, s.min);
    PutText(sink, "</b>, average <b>");
    PutTenths(sink, s.avgTenths);
    PutText(sink, "</b>, highest <b>");
    PutNumber(sink, s.max);
    PutText(sink, "</b> bpm. <a href=\"/session.csv\">Download them as CSV</a>.</p>\n");
    PutChart(sink, s);
}
