// POSIX sinks for vintra-sim.
#include "sim_sink.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "sim_clock.h"
#include "sim_signals.h"

SinkState g_sink;

namespace {

// Text for the last errno, prefixed with what failed.
std::string errno_text(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Puts a terminal into raw mode so bytes pass unchanged (no CR/LF translation, no echo).
bool make_raw(int fd) {
    struct termios tio;
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

// Makes `link` point at `target`, replacing an older symlink but never a real file.
bool make_link(const std::string& link, const std::string& target, std::string& error) {
    struct stat st;
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = link + " exists and is not a symlink";
            return false;
        }
        if (unlink(link.c_str()) != 0) {
            error = errno_text("unlink " + link);
            return false;
        }
    }
    if (symlink(target.c_str(), link.c_str()) != 0) {
        error = errno_text("symlink " + link);
        return false;
    }
    return true;
}

// Creates the pseudo-terminal and keeps its slave open.
bool open_pty(const SimOptions& opt, std::string& error) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        error = errno_text("posix_openpt");
        return false;
    }
    g_sink.fd = master;
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        error = errno_text("preparing the pty");
        return false;
    }
    g_sink.slave_path = name;
    // Holding the slave ourselves keeps the pty from hanging up while no reader has it
    // open, and keeps its raw settings for the reader: a reader whose own line setup
    // fails would otherwise get the cooked default that turns CR into LF.
    g_sink.slave_fd = open(name, O_RDWR | O_NOCTTY);
    if (g_sink.slave_fd < 0) {
        error = errno_text("open " + g_sink.slave_path);
        return false;
    }
    if (!make_raw(master) || !make_raw(g_sink.slave_fd)) {
        error = errno_text("raw mode on the pty");
        return false;
    }
    // Non-blocking so a reader that falls behind stalls us in poll(), where signals and
    // reader input are still handled.
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    if (!opt.link_path.empty()) {
        if (!make_link(opt.link_path, g_sink.slave_path, error)) return false;
        g_sink.link_path = opt.link_path;
    }
    return true;
}

// Sleeps for the given milliseconds (a signal may cut it short).
void sleep_ms(long ms) {
    struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
}

}  // namespace

bool sink_open(const SimOptions& opt, std::string& error) {
    g_sink = SinkState();
    g_sink.kind = opt.sink;
    switch (opt.sink) {
    case SinkKind::Pty:
        return open_pty(opt, error);
    case SinkKind::Stdout:
        g_sink.fd = STDOUT_FILENO;
        return true;
    }
    return false;
}

WriteStatus sink_write_all(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EPIPE) return WriteStatus::Closed;
        if (n < 0 && errno != EINTR && errno != EAGAIN) {
            std::fprintf(stderr, "vintra-sim: write: %s\n", std::strerror(errno));
            return WriteStatus::Failed;
        }
        // The reader is behind (or a signal came): wait, but only while nobody asked to stop.
        if (stop_requested()) return WriteStatus::Stopped;
        if (mono_seconds() >= g_sink.give_up_at) return WriteStatus::TimedOut;
        struct pollfd p = {fd, POLLOUT, 0};
        poll(&p, 1, 200);
        sink_discard_input();
    }
    return WriteStatus::Ok;
}

void sink_discard_input() {
    if (g_sink.kind != SinkKind::Pty || g_sink.fd < 0) return;
    char buf[256];
    while (read(g_sink.fd, buf, sizeof buf) > 0) {
    }
}

void sink_linger(double seconds) {
    if (g_sink.kind != SinkKind::Pty || g_sink.slave_fd < 0) return;
    // Two empty looks in a row, since bytes may still be on their way into the queue.
    int empty_looks = 0;
    for (double waited = 0; waited < seconds && empty_looks < 2 && !stop_requested(); waited += 0.02) {
        int queued = 0;
        if (ioctl(g_sink.slave_fd, TIOCINQ, &queued) != 0) return;
        empty_looks = queued == 0 ? empty_looks + 1 : 0;
        sleep_ms(20);
    }
}

void sink_close() {
    if (!g_sink.link_path.empty()) {
        // Only remove the link if it is still ours; another run may have replaced it.
        char target[256];
        const ssize_t n = readlink(g_sink.link_path.c_str(), target, sizeof target - 1);
        if (n >= 0 && std::string(target, static_cast<size_t>(n)) == g_sink.slave_path) {
            unlink(g_sink.link_path.c_str());
        }
        g_sink.link_path.clear();
    }
    if (g_sink.slave_fd >= 0) close(g_sink.slave_fd);
    if (g_sink.fd >= 0 && g_sink.fd != STDOUT_FILENO) close(g_sink.fd);
    g_sink.slave_fd = -1;
    g_sink.fd = -1;
}
