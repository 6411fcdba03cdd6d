#pragma once
// The process-wide records shared by the event loop and the two windows.
#include "serial/link_watch.h"
#include "serial/serial_link.h"
#include "settings/settings.h"
#include "store/measurement_store.h"
#include "store/live_feed.h"
#include "store/session_record.h"

struct AppState {
    MeasurementStore store;  // rings written by the drain, read by the paint
    SerialLink link;         // the open device, if any, with its partial line
    Settings settings;       // chosen port and baud rate
    LinkWatch linkWatch;     // when the device's health is next checked
    LiveFeed feed;           // what the web endpoint reports beyond the rings
};

extern AppState gApp;

// The session record: 1.8 MB, so a record of its own in zeroed static
// storage rather than a member of gApp, whose initialiser puts it in the
// program file.
extern SessionRecord gSession;
