// The count file and the exit summary.
#pragma once

#include <string>

#include "sim_emit.h"

// The counters as 'key value' lines; `finished` tells a watcher the run is over.
std::string format_counts(const SimCounts& counts, double elapsed, bool finished);

// Replaces the count file in one step so a reader never sees half of it.
bool write_count_file(const std::string& path, const SimCounts& counts, double elapsed,
                      bool finished);

// The one-line summary printed on stderr at exit.
std::string summary_line(const SimCounts& counts, double elapsed, unsigned long long seed,
                         const std::string& why);
