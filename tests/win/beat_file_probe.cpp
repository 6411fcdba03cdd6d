// Reader-loop figures for "bpm.txt": how often a reader polling the file
// finds it empty, missing or holding something never sent.
//   beat_file_probe.exe [writes] [writes per second] [lowest value] [highest value]
#include <cstdio>
#include <cstdlib>

#include "tests/win/beat_file_readers.h"

int main(int argc, char** argv) {
    int writes = argc > 1 ? std::atoi(argv[1]) : 3000;
    int rate = argc > 2 ? std::atoi(argv[2]) : 100;
    int lowest = argc > 3 ? std::atoi(argv[3]) : 60;
    int highest = argc > 4 ? std::atoi(argv[4]) : 179;
    const struct {
        ReaderSharing sharing;
        const char* name;
    } readers[] = {{ReaderSharing::WithDelete, "reader sharing delete"},
                   {ReaderSharing::NoDelete, "reader like fopen (no delete sharing)"}};
    for (const auto& r : readers) {
        ReaderCounts c = ReadWhileRewriting(writes, rate, r.sharing, lowest, highest);
        std::printf("%-38s values %d-%d  writes %d  reads %llu  empty %llu  missing %llu  busy %llu  foreign %llu\n",
                    r.name, lowest, highest, writes, static_cast<unsigned long long>(c.reads),
                    static_cast<unsigned long long>(c.empty), static_cast<unsigned long long>(c.missing),
                    static_cast<unsigned long long>(c.busy), static_cast<unsigned long long>(c.foreign));
    }
    return 0;
}
