// The status snapshot: the records' view of the device, and what only the
// platform can tell (the ports with their names, the working folder). Kept
// apart from the answers so code that only formats them needs no platform.
#include "serial/port_listing.h"
#include "web/web_status.h"

WebSnapshot TakeWebSnapshot(const LiveFeed& feed, const SerialLink& link, const Settings& settings, uint64_t nowMs) {
    WebSnapshot snapshot = {};
    snapshot.state = CurrentLinkState(feed, link, settings.port, nowMs);
    snapshot.port = settings.port;
    snapshot.baud = settings.baudRate;
    snapshot.hasRate = feed.hasRate;
    snapshot.rate = feed.rate;
    snapshot.rateAgeMs = feed.hasRate ? nowMs - feed.rateMs : 0;
    snapshot.linesPerSecond = LinesPerSecond(feed, nowMs);
    snapshot.rejectedLines = feed.rejectedLines;
    snapshot.bytesWithoutValidLines = BytesWithoutValidLines(feed, nowMs);
    snapshot.webPort = settings.webPort;
    snapshot.openFailed = link.device == kNoDevice && link.failure != OpenFailure::None;
    snapshot.openSlow = link.failure == OpenFailure::Slow;
    snapshot.openMs = link.openMs;
    snapshot.beatFileFailing = feed.beatFileFailing;
    snapshot.configFileFailing = settings.saveFailing;
    return snapshot;
}

void AddPortsAndFolder(WebSnapshot& snapshot) {
    if (snapshot.beatFileFailing || snapshot.configFileFailing) WorkingFolder(snapshot.folder, kFolderTextSize);
    ListPorts(snapshot.ports);
}
