#include "web/session_csv.h"

// The longest row: a time (29 bytes), a comma, three digits, CR LF.
constexpr size_t kRowLimit = 40;

// `value` in exactly `width` digits, zeros in front.
static void PutDigits(TextSink& sink, int value, int width) {
    char digits[8];
    for (int i = width - 1; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    PutBytes(sink, digits, static_cast<size_t>(width));
}

void PutIsoTime(TextSink& sink, const LocalTime& t) {
    // Each field in its fixed width, then what follows it.
    const struct { int value; int width; const char* after; } fields[] = {
        {t.year, 4, "-"}, {t.month, 2, "-"}, {t.day, 2, "T"}, {t.hour, 2, ":"},
        {t.minute, 2, ":"}, {t.second, 2, "."}, {t.millisecond, 3, t.offsetMinutes < 0 ? "-" : "+"}};
    for (const auto& field : fields) {
        PutDigits(sink, field.value, field.width);
        PutText(sink, field.after);
    }
    int offset = t.offsetMinutes < 0 ? -t.offsetMinutes : t.offsetMinutes;
    PutDigits(sink, offset / 60, 2);
    PutText(sink, ":");
    PutDigits(sink, offset % 60, 2);
}

void PutSessionCsvHead(TextSink& sink, int64_t startWallMs, bool head) {
    LocalTime start = LocalTimeAt(startWallMs);
    // No length: the rows are written as the client takes them, and the end
    // is the connection's close (a download cut short ends in a reset).
    PutText(sink,
            "HTTP/1.1 200 OK\r\nContent-Type: text/csv; charset=us-ascii\r\n"
            "Content-Disposition: attachment; filename=\"vintra-session-");
    PutDigits(sink, start.year, 4);
    PutText(sink, "-");
    PutDigits(sink, start.month, 2);
    PutText(sink, "-");
    PutDigits(sink, start.day, 2);
    PutText(sink, ".csv\"\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n");
    if (!head) PutText(sink, "time,bpm\r\n");
}

uint64_t PutSessionRows(TextSink& sink, const SessionRecord& record, uint64_t from, uint64_t end) {
    for (; from < end; ++from) {
        char text[kRowLimit];
        TextSink row = SinkOver(text, sizeof text);
        PutIsoTime(row, LocalTimeAt(SessionRateWallMs(record, from)));
        PutText(row, ",");
        PutNumber(row, SessionRate(record, from));
        PutText(row, "\r\n");
        if (row.length > sink.capacity - sink.length) break;
        PutBytes(sink, text, row.length);
    }
    return from;
}
