#pragma once
// The user's choice of serial port and baud rate, kept in "vintra.config",
// the web endpoint's port, an optional third number there, and the OSC
// port, an optional fourth.
#include <cstddef>
#include <cstdint>

// An OBS scene holds the endpoint's URL, so the port never changes by itself.
constexpr uint32_t kDefaultWebPort = 8725;

struct Settings {
    uint32_t port;                      // 0: no port chosen
    uint32_t baudRate;                  // 0: none chosen; the device keeps its rate
    uint32_t webPort = kDefaultWebPort; // the web endpoint's port; 0 turns it off
    bool webPortInFile = false;         // the file gave the web port, so saving writes it back
    uint32_t oscPort = 0;               // the UDP port on 127.0.0.1 OSC goes to; 0: OSC off
    bool oscPortInFile = false;         // the file gave the OSC port, so saving writes it back
    bool saveFailing = false;           // the latest save of the file did not succeed (shown on the status page)
};

constexpr const char* kSettingsFileName = "vintra.config";

// Reads "port baud [webport [oscport]]" text as "%u %u %u %u" would: white
// space anywhere between and around; a field that cannot be read, or does not
// fit 32 bits, keeps its previous value. Reading stops at the first field that
// is not a number. A web or OSC port read marks it as given by the file.
void ParseSettingsText(const char* text, size_t length, Settings& settings);

// Loads the settings file if it exists; fields it lacks keep their values.
void LoadSettings(Settings& settings);

// Writes the settings file as "port baud", with " webport" only when the file
// gave one and " oscport" after it only when the file gave that too (older
// builds read the first two and ignore the rest). False when it could not be
// written; the window says nothing of it.
bool SaveSettings(const Settings& settings);
