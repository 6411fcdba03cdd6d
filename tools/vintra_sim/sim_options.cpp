// Command-line parsing for vintra-sim.
#include "sim_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// How an option's value is read and where it is stored.
enum class ValueKind { None, Number, Probability, Seed, Path };

// One recognised option.
struct OptionEntry {
    const char* name;  // long name with its dashes
    ValueKind kind;    // what follows it
    double low;        // smallest accepted number
    double high;       // largest accepted number
};

// Upper bounds: rate and duration are generous but finite so that time arithmetic
// in doubles stays exact to well below a sample period.
const OptionEntry kOptions[] = {
    {"--pty", ValueKind::None, 0, 0},
    {"--stdout", ValueKind::None, 0, 0},
    {"--link", ValueKind::Path, 0, 0},
    {"--count-file", ValueKind::Path, 0, 0},
    {"--log-wellformed", ValueKind::Path, 0, 0},
    {"--log-echoed", ValueKind::Path, 0, 0},
    {"--rate", ValueKind::Number, 0.01, 100000},
    {"--bpm", ValueKind::Number, 20, 240},
    {"--status-every", ValueKind::Number, 0, 1e6},
    {"--duration", ValueKind::Number, 0, 1e7},
    {"--start-delay", ValueKind::Number, 0, 3600},
    {"--linger", ValueKind::Number, 0, 3600},
    {"--seed", ValueKind::Seed, 0, 0},
    {"--fault-bare-lf", ValueKind::Probability, 0, 1},
    {"--fault-overlong", ValueKind::Probability, 0, 1},
    {"--fault-nul", ValueKind::Probability, 0, 1},
    {"--fault-noise", ValueKind::Probability, 0, 1},
    {"--fault-range", ValueKind::Probability, 0, 1},
    {"--fault-split", ValueKind::Probability, 0, 1},
    {"--faults-all", ValueKind::Probability, 0, 1},
};

// Finds the option called `name`, or null.
const OptionEntry* find_option(const std::string& name) {
    for (const OptionEntry& entry : kOptions) {
        if (name == entry.name) return &entry;
    }
    return nullptr;
}

// Reads a whole-string decimal number (fractions allowed) within [low, high].
bool read_number(const std::string& text, double low, double high, double& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(value)) return false;
    if (value < low || value > high) return false;
    out = value;
    return true;
}

// Reads a whole-string unsigned decimal seed.
bool read_seed(const std::string& text, unsigned long long& out) {
    if (text.empty() || text[0] == '-') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    out = value;
    return true;
}

// A fault switch and the rate it sets.
struct FaultSwitch {
    const char* name;           // option name
    double FaultRates::*field;  // rate it sets
};

const FaultSwitch kFaultSwitches[] = {
    {"--fault-bare-lf", &FaultRates::bare_lf}, {"--fault-overlong", &FaultRates::overlong},
    {"--fault-nul", &FaultRates::nul},         {"--fault-noise", &FaultRates::noise},
    {"--fault-range", &FaultRates::range},     {"--fault-split", &FaultRates::split},
};
const int kFaultSwitchCount = sizeof(kFaultSwitches) / sizeof(kFaultSwitches[0]);

// Index of the fault switch called `name` in kFaultSwitches, or -1.
int fault_switch_index(const std::string& name) {
    for (int k = 0; k < kFaultSwitchCount; ++k) {
        if (name == kFaultSwitches[k].name) return k;
    }
    return -1;
}

// Stores a numeric option's value in its field.
void store_number(SimOptions& out, const std::string& name, double value) {
    if (name == "--rate") out.rate = value;
    else if (name == "--bpm") out.bpm = value;
    else if (name == "--status-every") out.status_every = value;
    else if (name == "--duration") out.duration = value;
    else if (name == "--start-delay") out.start_delay = value;
    else if (name == "--linger") out.linger = value;
}

// Stores a path option's value in its field.
void store_path(SimOptions& out, const std::string& name, const std::string& value) {
    if (name == "--link") out.link_path = value;
    else if (name == "--count-file") out.count_file = value;
    else if (name == "--log-wellformed") out.wellformed_log = value;
    else if (name == "--log-echoed") out.echoed_log = value;
}

}  // namespace

const char* usage_text() {
    return "usage: vintra-sim [sink] [options]\n"
           "Simulated heart-rate device: writes S<sample> and B<bpm> lines ending in CR LF.\n"
           "sink (one of):\n"
           "  --pty                 make a pseudo-terminal (default); its slave path is the\n"
           "                        first line on stdout\n"
           "  --link PATH           with --pty: symlink PATH to the slave, removed at exit\n"
           "  --stdout              write to standard output\n"
           "generation:\n"
           "  --rate N              S lines per second (default 50)\n"
           "  --bpm N               mean beat rate, 20..240 (default 72)\n"
           "  --status-every S      an X<seconds> line every S seconds (default off)\n"
           "  --duration S          stop after S seconds (default: at SIGINT/SIGTERM)\n"
           "  --seed N              random seed, for repeatable runs\n"
           "  --start-delay S       wait S seconds after opening the sink before sending\n"
           "  --linger S            pty: at exit wait up to S seconds for the reader to drain\n"
           "bookkeeping:\n"
           "  --count-file PATH     'key value' counters, written at exit\n"
           "  --log-wellformed PATH append each well-formed line sent (text only)\n"
           "  --log-echoed PATH     append each line the receiver will echo as its kind, a\n"
           "                        space and its text; kinds: W well-formed (stored, or a\n"
           "                        status line), R value out of range, N noise\n"
           "faults (probability per line, 0..1, default 0):\n"
           "  --fault-bare-lf P  --fault-overlong P  --fault-nul P\n"
           "  --fault-noise P    --fault-range P     --fault-split P\n"
           "  --faults-all P        every fault not set on its own\n"
           "  -h, --help            this text\n";
}

ParseResult parse_options(int argc, char** argv, SimOptions& out, std::string& error) {
    out = SimOptions();
    int sinks_chosen = 0;
    bool fault_given[kFaultSwitchCount] = {};
    double faults_all = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") return ParseResult::Help;
        const OptionEntry* entry = find_option(arg);
        if (entry == nullptr) {
            error = "unknown option '" + arg + "'";
            return ParseResult::Error;
        }
        std::string value;
        if (entry->kind != ValueKind::None) {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return ParseResult::Error;
            }
            value = argv[++i];
        }
        switch (entry->kind) {
        case ValueKind::None:
            out.sink = arg == "--pty" ? SinkKind::Pty : SinkKind::Stdout;
            ++sinks_chosen;
            break;
        case ValueKind::Path:
            if (value.empty()) {
                error = arg + " needs a non-empty path";
                return ParseResult::Error;
            }
            store_path(out, arg, value);
            break;
        case ValueKind::Seed:
            if (!read_seed(value, out.seed)) {
                error = "bad seed '" + value + "'";
                return ParseResult::Error;
            }
            out.seed_given = true;
            break;
        case ValueKind::Number:
        case ValueKind::Probability: {
            double number = 0;
            if (!read_number(value, entry->low, entry->high, number)) {
                error = "bad value '" + value + "' for " + arg;
                return ParseResult::Error;
            }
            if (entry->kind == ValueKind::Number) {
                store_number(out, arg, number);
            } else if (arg == "--faults-all") {
                faults_all = number;
            } else {
                const int k = fault_switch_index(arg);
                out.faults.*kFaultSwitches[k].field = number;
                fault_given[k] = true;
            }
            break;
        }
        }
    }
    if (sinks_chosen > 1) {
        error = "choose only one of --pty, --stdout";
        return ParseResult::Error;
    }
    if (!out.link_path.empty() && out.sink != SinkKind::Pty) {
        error = "--link works only with --pty";
        return ParseResult::Error;
    }
    if (faults_all >= 0) {
        for (int k = 0; k < kFaultSwitchCount; ++k) {
            if (!fault_given[k]) out.faults.*kFaultSwitches[k].field = faults_all;
        }
    }
    return ParseResult::Ok;
}
