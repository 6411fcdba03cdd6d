#include "web/web_status.h"

#include "web/session_summary.h"

// How often the status page reloads itself, in seconds.
constexpr const char* kStatusPageRefresh = "2";

// A JSON string of UTF-8 text: quotes, backslashes and control bytes escaped.
static void PutJsonString(TextSink& sink, const char* text) {
    PutText(sink, "\"");
    for (const char* c = text; *c != '\0'; ++c) {
        unsigned char byte = static_cast<unsigned char>(*c);
        if (*c == '"' || *c == '\\') {
            char pair[2] = {'\\', *c};
            PutBytes(sink, pair, 2);
        } else if (byte < 0x20) {
            const char* hex = "0123456789abcdef";
            char escape[6] = {'\\', 'u', '0', '0', hex[byte >> 4], hex[byte & 15]};
            PutBytes(sink, escape, sizeof escape);
        } else {
            PutBytes(sink, c, 1);
        }
    }
    PutText(sink, "\"");
}

void PutStatusJson(TextSink& sink, const WebSnapshot& s) {
    PutText(sink, "{\"state\":\"");
    PutText(sink, LinkStateWord(s.state));
    PutText(sink, "\",\"port\":");
    if (s.port == 0) {
        PutText(sink, "null");
    } else {
        PutText(sink, "\"COM");
        PutNumber(sink, s.port);
        PutText(sink, "\"");
    }
    PutText(sink, ",\"baud\":");
    PutNumber(sink, s.baud);
    PutText(sink, ",\"rate\":");
    if (s.hasRate) PutNumber(sink, s.rate); else PutText(sink, "null");
    PutText(sink, ",\"rate_age_ms\":");
    if (s.hasRate) PutNumber(sink, s.rateAgeMs); else PutText(sink, "null");
    PutText(sink, ",\"lines_per_s\":");
    PutNumber(sink, s.linesPerSecond);
    PutText(sink, ",\"rejected_lines\":");
    PutNumber(sink, s.rejectedLines);
    PutText(sink, ",\"open_ms\":");
    if (s.openFailed) PutNumber(sink, s.openMs); else PutText(sink, "null");
    PutText(sink, s.beatFileFailing ? ",\"bpm_file\":\"failing\"" : ",\"bpm_file\":\"ok\"");
    PutText(sink, s.configFileFailing ? ",\"config_file\":\"failing\"" : ",\"config_file\":\"ok\"");
    PutText(sink, ",\"ports\":[");
    for (int i = 0; i < s.ports.count; ++i) {
        const PortLabel& entry = s.ports.ports[i];
        PutText(sink, i == 0 ? "{\"port\":\"COM" : ",{\"port\":\"COM");
        PutNumber(sink, entry.port);
        PutText(sink, "\",\"name\":");
        if (entry.text[0] == '\0') {
            PutText(sink, "null");
        } else {
            PutJsonString(sink, entry.text);
        }
        PutText(sink, "}");
    }
    PutText(sink, "]");
    PutText(sink, ",\"session\":");
    PutSessionJson(sink, s.session);
    PutText(sink, "}");
}

static void PutPortName(TextSink& sink, uint32_t port) {
    PutText(sink, "COM");
    PutNumber(sink, port);
}

// "COM3 open at 115200 baud, 502 lines a second"
static void PutOpenLink(TextSink& sink, const WebSnapshot& s) {
    PutPortName(sink, s.port);
    if (s.baud == 0) {
        PutText(sink, " open at the device's own baud rate, ");
    } else {
        PutText(sink, " open at ");
        PutNumber(sink, s.baud);
        PutText(sink, " baud, ");
    }
    PutNumber(sink, s.linesPerSecond);
    PutText(sink, s.linesPerSecond == 1 ? " line a second" : " lines a second");
}

// " took 6.1 s to refuse: is it a Bluetooth port whose device is off? ...":
// such a port is tried only now and then, and the user should know why.
static void PutSlowRefusal(TextSink& sink, const WebSnapshot& s) {
    PutText(sink, " took ");
    PutNumber(sink, s.openMs / 1000);
    PutText(sink, ".");
    PutNumber(sink, s.openMs / 100 % 10);
    PutText(sink, " s to refuse: is it a Bluetooth port whose device is off? "
                  "Vintra tries it again only now and then; pick it with F6 to try at once");
}

void PutStateSentence(TextSink& sink, const WebSnapshot& s) {
    switch (s.state) {
        case LinkState::NoPort:
            PutText(sink, "No port chosen: press F6 in Vintra and pick the device's COM port");
            return;
        case LinkState::Absent:
            if (s.openSlow) {
                PutPortName(sink, s.port);
                PutSlowRefusal(sink, s);
                return;
            }
            PutText(sink, "No ");
            PutPortName(sink, s.port);
            PutText(sink, ": is the device plugged in?");
            return;
        case LinkState::Busy:
            PutPortName(sink, s.port);
            PutText(sink, " is in use by another program (a serial monitor?): close it, Vintra keeps trying");
            return;
        case LinkState::Gone:
            PutPortName(sink, s.port);
            if (s.openSlow) {
                PutText(sink, " went away, and");
                PutSlowRefusal(sink, s);
                return;
            }
            PutText(sink, " went away: Vintra is retrying about once a second. Is the device plugged in?");
            return;
        case LinkState::Live:
            PutOpenLink(sink, s);
            return;
        case LinkState::Stale:
            if (s.bytesWithoutValidLines) {
                PutText(sink, "Bytes arrive but no line is valid: check the baud rate");
            } else if (s.linesPerSecond == 0) {
                PutPortName(sink, s.port);
                PutText(sink, " is open but nothing arrives: is the device sending?");
            } else {
                PutOpenLink(sink, s);
                PutText(sink, ", but no beat rate in 5 s: leads off?");
            }
            return;
    }
}

// "0.8 s", "12 s", "3 min", "2 h"
static void PutAge(TextSink& sink, uint64_t ms) {
    if (ms < 10000) {
        PutNumber(sink, ms / 1000);
        PutText(sink, ".");
        PutNumber(sink, ms / 100 % 10);
        PutText(sink, " s");
    } else if (ms < 120000) {
        PutNumber(sink, ms / 1000);
        PutText(sink, " s");
    } else if (ms < 7200000) {
        PutNumber(sink, ms / 60000);
        PutText(sink, " min");
    } else {
        PutNumber(sink, ms / 3600000);
        PutText(sink, " h");
    }
}

// "Vintra cannot write bpm.txt in C:\...\Vintra: is the folder protected?":
// the window shows nothing of it, and a text source simply stops changing.
static void PutFileTrouble(TextSink& sink, const WebSnapshot& s) {
    if (!s.beatFileFailing && !s.configFileFailing) return;
    PutText(sink, "<p class=\"state busy\">Vintra cannot write ");
    if (s.beatFileFailing) PutText(sink, s.configFileFailing ? "bpm.txt and save vintra.config" : "bpm.txt");
    if (!s.beatFileFailing) PutText(sink, "its settings (vintra.config)");
    if (s.folder[0] != '\0') {
        PutText(sink, " in <code>");
        PutEscaped(sink, s.folder);
        PutText(sink, "</code>");
    }
    PutText(sink,
            ": is the folder protected (Windows Security's controlled folder access, an antivirus) or "
            "read-only? Try a folder of its own, such as <code>C:\\Vintra</code>.</p>\n");
}

// The ports that exist, with Windows' names for them: which number is the sensor.
static void PutPortList(TextSink& sink, const WebSnapshot& s) {
    PutText(sink, "<h2>Serial ports</h2>\n");
    if (s.ports.count == 0) {
        PutText(sink, "<p>No serial port found: is the device plugged in?</p>\n");
        return;
    }
    PutText(sink, "<ul>\n");
    for (int i = 0; i < s.ports.count; ++i) {
        PutText(sink, "<li>");
        PutPortName(sink, s.ports.ports[i].port);
        if (s.ports.ports[i].text[0] != '\0') {
            PutText(sink, ": ");
            PutEscaped(sink, s.ports.ports[i].text);
        }
        PutText(sink, "</li>\n");
    }
    PutText(sink, "</ul>\n");
}

void PutStatusPage(TextSink& sink, const WebSnapshot& s) {
    PutText(sink,
            "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
            "<meta http-equiv=\"refresh\" content=\"");
    PutText(sink, kStatusPageRefresh);
    PutText(sink,
            "\"><title>Vintra</title><style>"
            "body{font-family:sans-serif;margin:2em auto;max-width:42em;padding:0 1em;line-height:1.4}"
            ".state{font-size:1.3em;padding:.5em .8em;border-radius:.3em;background:#eee}"
            ".live{background:#d6f5d6}.stale,.gone,.absent,.busy{background:#fde2c8}"
            "code{background:#f3f3f3;padding:.1em .3em}</style></head><body>\n<h1>Vintra</h1>\n<p class=\"state ");
    PutText(sink, LinkStateWord(s.state));
    PutText(sink, "\">");
    char sentence[256];
    TextSink words = SinkOver(sentence, sizeof sentence - 1);
    PutStateSentence(words, s);
    sentence[words.length] = '\0';
    PutEscaped(sink, sentence);
    PutText(sink, "</p>\n<p>");
    if (s.hasRate) {
        PutText(sink, "Last beat rate: <b>");
        PutNumber(sink, s.rate);
        PutText(sink, "</b> bpm, ");
        PutAge(sink, s.rateAgeMs);
        PutText(sink, " ago");
        if (s.state != LinkState::Live) PutText(sink, " (not live)");
        PutText(sink, ".");
    } else {
        PutText(sink, "No beat rate yet.");
    }
    if (s.rejectedLines > 0) {
        PutText(sink, " Lines rejected since start: ");
        PutNumber(sink, s.rejectedLines);
        PutText(sink, ".");
    }
    PutText(sink, "</p>\n");
    PutFileTrouble(sink, s);
    PutSessionSection(sink, s.session);
    PutPortList(sink, s);
    PutText(sink, "<h2>The overlay in OBS</h2>\n<p>URL: <code>http://127.0.0.1:");
    PutNumber(sink, s.webPort);
    PutText(sink,
            "/overlay</code></p>\n<ol>\n"
            "<li>In OBS, under <i>Sources</i>, press <b>+</b> and choose <b>Browser</b>; name it and press OK.</li>\n"
            "<li>Paste the URL above into <b>URL</b>.</li>\n"
            "<li>Set <b>Width</b> and <b>Height</b> (640 and 100; 160 high with the history) and press OK. "
            "The background is transparent: no key needed.</li>\n</ol>\n"
            "<p>To choose its colours, size and zones with a preview: the <a href=\"/builder\">overlay builder</a>.</p>\n"
            "<p>For other tools: <a href=\"/status.json\">/status.json</a>, the event stream "
            "<a href=\"/events\">/events</a>, the WebSocket <code>ws://127.0.0.1:");
    PutNumber(sink, s.webPort);
    PutText(sink, "/ws</code> for bots and scripts, and <a href=\"/session.csv\">/session.csv</a>.</p>\n</body></html>\n");
}
