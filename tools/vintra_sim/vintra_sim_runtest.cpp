// End-to-end checks that run the built vintra-sim the way a test harness will.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "vintra_sim_test_receiver.h"

extern std::string g_sim_binary;

namespace {

// A running simulator with pipes to its standard streams.
struct Child {
    pid_t pid;   // process id
    int in_fd;   // its stdin
    int out_fd;  // its stdout
    int err_fd;  // its stderr
};

// What a finished run left behind.
struct RunOutput {
    int exit_code;   // exit status, or -1 if it died by a signal
    std::string out; // all of stdout
    std::string err; // all of stderr
    double seconds;  // wall time
};

Child spawn_sim(const std::vector<std::string>& args) {
    int in[2], out[2], err[2];
    EXPECT_EQ(pipe(in), 0);
    EXPECT_EQ(pipe(out), 0);
    EXPECT_EQ(pipe(err), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
        std::vector<char*> argv = {const_cast<char*>(g_sim_binary.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    return {pid, in[1], out[0], err[0]};
}

std::string read_to_end(int fd) {
    std::string s;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(n));
    close(fd);
    return s;
}

int wait_exit(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs the simulator to its end with the given stdin.
RunOutput run_sim(const std::vector<std::string>& args, const std::string& input = "") {
    const auto t0 = std::chrono::steady_clock::now();
    Child c = spawn_sim(args);
    if (!input.empty()) {
        EXPECT_EQ(write(c.in_fd, input.data(), input.size()), static_cast<ssize_t>(input.size()));
    }
    close(c.in_fd);
    RunOutput r;
    r.out = read_to_end(c.out_fd);
    r.err = read_to_end(c.err_fd);
    r.exit_code = wait_exit(c.pid);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return r;
}

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::map<std::string, long long> read_counts(const std::string& path) {
    std::map<std::string, long long> m;
    std::istringstream in(slurp(path));
    std::string key;
    long long value;
    while (in >> key >> value) m[key] = value;
    return m;
}

// A fresh scratch folder for one test, removed at the end.
struct ScratchDir {
    std::string path;
    ScratchDir() {
        char tmpl[] = "/tmp/vintra-sim-test.XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~ScratchDir() { std::filesystem::remove_all(path); }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

#define REQUIRE_BINARY() \
    if (g_sim_binary.empty()) GTEST_SKIP() << "pass the vintra-sim path as the first argument"

TEST(Run, TimedStdoutRunsKeepRateCountsAndLogInStep) {
    REQUIRE_BINARY();
    struct Case { std::vector<std::string> extra; long long samples; };
    const Case cases[] = {
        {{"--rate", "4000", "--duration", "1"}, 4000},
        {{"--rate", "200", "--duration", "1", "--status-every", "0.25", "--faults-all", "0.05",
          "--fault-nul", "0", "--fault-split", "0.02"}, -1},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        std::vector<std::string> args = {"--stdout", "--seed", "5", "--count-file", dir / "counts",
                                         "--log-wellformed", dir / "log"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const RunOutput r = run_sim(args);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NEAR(r.seconds, 1.0, 0.5);
        EXPECT_NE(r.err.find("finished"), std::string::npos) << r.err;
        std::map<std::string, long long> n = read_counts(dir / "counts");
        const std::vector<ReceivedLine> echoed = receiver_lines(r.out);
        const std::vector<std::string> stored = valid_records(echoed);
        EXPECT_EQ(static_cast<long long>(echoed.size()), n["lines_sent"] - n["overlong_sent"]);
        EXPECT_EQ(static_cast<long long>(stored.size()), n["wellformed_sent"]);
        EXPECT_EQ(split_log(slurp(dir / "log")), stored);
        EXPECT_EQ(n["bytes_sent"], static_cast<long long>(r.out.size()));
        if (c.samples >= 0) {
            EXPECT_EQ(n["s_sent"], c.samples);
        } else {
            EXPECT_GT(n["faults_injected"], 0);
        }
    }
}

TEST(Run, BadCommandLineEndsWithStatusTwo) {
    REQUIRE_BINARY();
    const std::vector<std::vector<std::string>> bad = {
        {"--rate", "0"}, {"--stdout", "--pty"}, {"--bpm", "1000"}, {"--nonsense"}};
    for (const auto& args : bad) {
        const RunOutput r = run_sim(args);
        EXPECT_EQ(r.exit_code, 2) << args[0];
        EXPECT_NE(r.err.find("usage"), std::string::npos);
    }
}

TEST(Run, ClosedPipeEndsTheRunQuietly) {
    REQUIRE_BINARY();
    Child c = spawn_sim({"--stdout", "--rate", "1000"});
    close(c.in_fd);
    char buf[100];
    EXPECT_GT(read(c.out_fd, buf, sizeof buf), 0);
    close(c.out_fd);
    const std::string err = read_to_end(c.err_fd);
    EXPECT_EQ(wait_exit(c.pid), 0);
    EXPECT_NE(err.find("reader closed"), std::string::npos) << err;
}

// Reads from fd until `deadline` seconds have passed.
std::string read_for(int fd, double seconds) {
    std::string s;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) {
            char buf[4096];
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0) break;
            s.append(buf, static_cast<size_t>(n));
        }
    }
    return s;
}

TEST(Run, PtyAnnouncesSlaveKeepsBytesRawAndCleansUpOnSigterm) {
    REQUIRE_BINARY();
    ScratchDir dir;
    const std::string link = dir / "ttyVINTRA";
    Child c = spawn_sim({"--pty", "--link", link, "--rate", "100", "--seed", "3", "--count-file",
                         dir / "counts", "--fault-bare-lf", "0.3"});
    close(c.in_fd);
    std::string first;
    char ch;
    while (read(c.out_fd, &ch, 1) == 1 && ch != '\n') first += ch;
    ASSERT_EQ(first.compare(0, 9, "/dev/pts/"), 0) << first;
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), first);

    const int fd = open(link.c_str(), O_RDONLY | O_NOCTTY);
    ASSERT_GE(fd, 0);
    struct termios tio;
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    // Raw input: CR must not become LF, or every CR LF line would arrive doubled.
    EXPECT_EQ(tio.c_iflag & (ICRNL | IGNCR | INLCR), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);
    const std::string got = read_for(fd, 0.6);
    close(fd);
    const std::vector<ReceivedLine> lines = receiver_lines(got);
    EXPECT_GE(lines.size(), 40u);
    EXPECT_EQ(valid_records(lines).size(), lines.size());
    // Both line ends arrive as sent: CR LF, and the bare LF of the injected fault.
    size_t crlf = 0, bare_lf = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        if (got[i] == '\n') (i > 0 && got[i - 1] == '\r' ? crlf : bare_lf)++;
    }
    EXPECT_GT(crlf, 10u);
    EXPECT_GT(bare_lf, 3u);
    EXPECT_EQ(static_cast<size_t>(std::count(got.begin(), got.end(), '\r')), crlf);

    kill(c.pid, SIGTERM);
    const std::string err = read_to_end(c.err_fd);
    EXPECT_EQ(wait_exit(c.pid), 0);
    close(c.out_fd);
    EXPECT_NE(err.find("stopped by signal"), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    EXPECT_TRUE(std::filesystem::exists(dir / "counts"));
}

TEST(Run, PtyKeepsWhatALateReaderHasNotTakenAndEndsOnTime) {
    REQUIRE_BINARY();
    ScratchDir dir;
    // 4000 lines a second fill the pty's queue long before the duration is over.
    Child c = spawn_sim({"--pty", "--rate", "4000", "--duration", "1", "--linger", "5", "--seed", "2",
                         "--count-file", dir / "counts", "--log-wellformed", dir / "log"});
    close(c.in_fd);
    std::string path;
    char ch;
    while (read(c.out_fd, &ch, 1) == 1 && ch != '\n') path += ch;
    const auto t0 = std::chrono::steady_clock::now();
    // Wait for the run to give up on the full queue, then connect like a late program.
    for (int i = 0; i < 100 && !std::filesystem::exists(dir / "counts"); ++i) usleep(20000);
    const double gave_up = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(gave_up, 2.5);
    const int fd = open(path.c_str(), O_RDONLY | O_NOCTTY);
    ASSERT_GE(fd, 0);
    const std::string got = read_for(fd, 0.5);
    close(fd);
    EXPECT_EQ(wait_exit(c.pid), 0);
    close(c.out_fd);
    close(c.err_fd);
    std::map<std::string, long long> n = read_counts(dir / "counts");
    const std::vector<std::string> stored = valid_records(receiver_lines(got));
    EXPECT_GT(n["lines_sent"], 1000);
    EXPECT_EQ(static_cast<long long>(stored.size()), n["lines_sent"]);
    EXPECT_EQ(split_log(slurp(dir / "log")), stored);
}

}  // namespace
