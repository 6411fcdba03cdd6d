// Script mode: send the lines a test feeds on stdin, as they arrive.
#pragma once

#include <cstdio>
#include <string>

#include "sim_run.h"

// Decodes hex pairs (blanks between pairs allowed) into bytes; false on bad input.
bool parse_hex_bytes(const std::string& hex, std::string& out);

// Sends each input line with CR LF ('raw:HEX' lines as exact bytes) until end of input.
RunEnd run_script(FILE* in);
