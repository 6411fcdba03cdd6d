#pragma once
// The session record as a CSV download that spreadsheet programs read the
// same in every locale: ASCII, a comma between fields and no decimals, CR LF
// line ends, ISO 8601 local times with their offset.
#include <cstdint>

#include "serial/platform.h"
#include "store/session_record.h"
#include "web/text_sink.h"

// "2026-12-08T21:14:03.250+01:00"
void PutIsoTime(TextSink& sink, const LocalTime& time);

// The answer's head (a download named for the session's local start date,
// ended by closing the connection) and the header row.
void PutSessionCsvHead(TextSink& sink, int64_t startWallMs, bool head);

// Rows "time,bpm" of the held entries from serial `from` up to `end`, as many
// whole rows as fit in the sink; returns the serial of the first row not written.
uint64_t PutSessionRows(TextSink& sink, const SessionRecord& record, uint64_t from, uint64_t end);
