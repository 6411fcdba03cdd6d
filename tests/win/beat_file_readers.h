#pragma once
// An overlay's view of "bpm.txt": a reader opening and reading the file in a
// tight loop while the program rewrites it. Shared by the Windows test and the
// measurement in scripts/measure-beat-file.sh.
#include <cstdint>

struct ReaderCounts {
    uint64_t reads;    // whole open-read-close rounds
    uint64_t empty;    // the file opened but held nothing
    uint64_t missing;  // the file was not there
    uint64_t busy;     // the file was there but could not be opened (a sharing conflict)
    uint64_t foreign;  // it held something no write ever sent
};

// How the reader opens the file: as most programs do (read and write sharing,
// like the C runtime's fopen), or also letting others delete or replace it.
enum class ReaderSharing { NoDelete, WithDelete };

// Rewrites "bpm.txt" `writes` times with WriteBeatRateFile (values cycling
// from `lowest` up to `highest`; 0 writes per second: as fast as possible)
// while another thread reads it; what that reader found.
ReaderCounts ReadWhileRewriting(int writes, int writesPerSecond, ReaderSharing sharing, int lowest, int highest);
