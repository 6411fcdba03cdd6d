#pragma once
// The session's figures in status.json and on the status page, with a small
// chart of its rates drawn here as inline SVG (no script).
#include "store/session_record.h"
#include "web/text_sink.h"

// {"since":…,"count":…,"min":…,"avg":…,"max":…}: since (the oldest held
// rate's local time), min, avg and max are null while no rate is held.
void PutSessionJson(TextSink& sink, const SessionSummary& session);

// The status page's section: the figures, the chart and the download link.
void PutSessionSection(TextSink& sink, const SessionSummary& session);
