// The echo and "bpm.txt" seam for the host benchmark. Stubbed by default, so
// the figure is the framing and decoding alone; with gPosixSinks set, the same
// work goes through Linux system calls (echo written to /dev/null, the file
// rewritten in the current folder) to show what the platform calls add.
#include <fcntl.h>
#include <unistd.h>

#include "serial/platform.h"
#include "tests/bench/host_line_sinks.h"

SinkCounters gSinkCounters;
bool gPosixSinks = false;
static int gNullFd = -1;

bool WriteBeatRateFile(const char* text, int length) {
    ++gSinkCounters.fileWrites;
    if (!gPosixSinks) return true;
    int fd = open("bpm.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    ssize_t written = write(fd, text, static_cast<size_t>(length));
    close(fd);
    return written == length;
}

void EchoLine(const char* line) {
    ++gSinkCounters.echoes;
    if (!gPosixSinks) return;
    if (gNullFd < 0) gNullFd = open("/dev/null", O_WRONLY);
    size_t length = 0;
    while (line[length] != '\0') ++length;
    ssize_t written = write(gNullFd, line, length);
    written = write(gNullFd, "\n", 1);
    (void)written;
}
