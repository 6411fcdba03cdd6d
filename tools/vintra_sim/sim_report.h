// The count file and the exit summary.
#pragma once

#include <string>

#include "sim_emit.h"

// The counters as 'key value' lines.
std::string format_counts(const SimCounts& counts, double elapsed);

// Replaces the count file in one step so a reader never sees half of it.
bool write_count_file(const std::string& path, const SimCounts& counts, double elapsed);

// The one-line summary printed on stderr at exit.
std::string summary_line(const SimCounts& counts, double elapsed, unsigned long long seed,
                         const std::string& why);
