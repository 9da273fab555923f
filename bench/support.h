#pragma once
// What every benchmark shares: the check that it runs on an isolated
// loopback, command-line options, clocks, a plain POSIX UDP receiver that
// notes when each datagram arrived, statistics, and the table / CSV output.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace veloxa::bench {

// Ends the program (exit status 2) unless the only network interface is the
// loopback: a benchmark floods and times sockets and must never reach a real
// network. scripts/bench starts every benchmark in such a namespace.
void requireIsolatedLoopback(const char *program);

// --name value options. Unknown names end the program with a usage message.
class Options {
public:
    Options(int argc, char **argv, std::map<std::string, std::string> defaults, const char *usage);
    std::string text(const std::string &name) const;
    long long number(const std::string &name) const; // ends the program on a bad number

private:
    std::map<std::string, std::string> m_values;
    std::string m_usage;
};

// Nanoseconds of CLOCK_REALTIME: the clock the kernel stamps arrivals with
// (SO_TIMESTAMPNS), so a start taken with it and an arrival stamp compare.
std::int64_t realtimeNs();
// Nanoseconds of CLOCK_MONOTONIC, for everything that is not compared with a
// kernel arrival stamp.
std::int64_t monotonicNs();
// CPU time (user + system) of the calling thread, in nanoseconds.
std::int64_t threadCpuNs();

inline double nsToMs(std::int64_t ns)
{
    return double(ns) / 1e6;
}

struct Arrival {
    std::vector<std::uint8_t> bytes;
    std::int64_t kernelNs = 0; // when the datagram reached the socket (CLOCK_REALTIME)
    std::int64_t seenNs = 0; // when recvmsg returned it here (CLOCK_REALTIME)
};

// A UDP socket on 127.0.0.1, non-blocking, read with poll and recvmsg, with
// the kernel's arrival time of every datagram.
class Receiver {
public:
    explicit Receiver(std::uint16_t port = 0); // 0: any free port; ends the program when it cannot bind
    ~Receiver();
    Receiver(const Receiver &) = delete;
    Receiver &operator=(const Receiver &) = delete;

    std::uint16_t port() const { return m_port; }
    int fd() const { return m_fd; }

    // The next datagram, waiting up to timeoutMs for it.
    std::optional<Arrival> next(int timeoutMs);
    // The next datagram whose first byte is `opcode`; others are dropped and
    // counted in *skipped.
    std::optional<Arrival> waitFor(std::uint8_t opcode, int timeoutMs, int *skipped = nullptr);
    // Drops whatever is waiting; returns how many datagrams that was.
    int drain();

private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
};

// A plain unconnected UDP sender socket (any free port).
class Sender {
public:
    Sender();
    ~Sender();
    Sender(const Sender &) = delete;
    Sender &operator=(const Sender &) = delete;
    bool sendTo(std::uint16_t port, const void *data, std::size_t size); // to 127.0.0.1
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

struct Summary {
    std::size_t samples = 0;
    double median = 0, p99 = 0, min = 0, max = 0;
};
// Median and p99 by the nearest-rank method (p99 of 10 samples is the largest).
Summary summarize(std::vector<double> values);

// One benchmark's results: printed as a table, written as a CSV with the
// same columns (measure, samples, median, p99, min, max, unit, goal,
// ratio_to_floor, verdict). Empty cells where a column does not apply.
class Report {
public:
    Report(std::string benchmark, std::string title);

    void addSummary(const std::string &measure, const Summary &s, const std::string &unit, const std::string &goal = {},
                    const std::string &ratio = {}, const std::string &verdict = {});
    // A single figure: shown in the median column.
    void addValue(const std::string &measure, double value, const std::string &unit, const std::string &goal = {},
                  const std::string &ratio = {}, const std::string &verdict = {});
    void note(const std::string &line); // printed under the table, kept in the CSV as a "# " line at the end

    // Prints the table and writes <csvDir>/<benchmark>.csv; false when the
    // CSV could not be written.
    bool finish(const std::string &csvDir) const;

private:
    struct Row {
        std::string measure;
        std::string samples, median, p99, min, max;
        std::string unit, goal, ratio, verdict;
    };
    std::string m_benchmark, m_title;
    std::vector<Row> m_rows;
    std::vector<std::string> m_notes;
};

std::string fixed(double value, int decimals);
std::string ratioText(double value, double floor); // "3.21" or "n/a" when the floor is 0
inline const char *verdict(bool met)
{
    return met ? "met" : "MISSED";
}

// The process's VmRSS / VmHWM in KiB (from /proc/<pid>/status); -1 when unknown.
long statusKiB(pid_t pid, const char *field);
// utime + stime of a process in seconds (from /proc/<pid>/stat); -1 when unknown.
double cpuSeconds(pid_t pid);
// What a process's open file descriptors lead to (the targets of /proc/<pid>/fd/*);
// empty when unknown.
std::vector<std::string> openFiles(pid_t pid);

// A fresh folder for a panel's settings and runtime files, removed with this
// object: XDG_CONFIG_HOME=<root>/config, XDG_RUNTIME_DIR=<root>/runtime (0700).
class ScratchDir {
public:
    explicit ScratchDir(const std::string &under, const std::string &prefix = "veloxa2-bench");
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    const std::string &path() const { return m_path; }

private:
    std::string m_path;
};

// A store file holding only the unit's address, as a first start after the
// address was set: <configHome>/KW/Veloxa.conf.
void seedAddressOnly(const std::string &configHome, const std::string &address);

// A child process with the given extra environment; stdout and stderr go to
// the given file (or are kept when empty). Ends the program when it cannot start.
pid_t spawn(const std::vector<std::string> &argv, const std::map<std::string, std::string> &environment,
            const std::string &outputFile = {});
// SIGTERM, then wait up to timeoutMs (then SIGKILL). Returns the wait status.
int stopPolitely(pid_t pid, int timeoutMs = 10000);

// One start of a program that sends the contrast command first (the panel,
// floor_app), with fresh settings holding only "IP Address" = 127.0.0.1 and a
// fresh runtime folder: from the start to the contrast datagram's arrival
// at `unit`, then SIGTERM. Ends the program when no contrast datagram comes,
// or another comes before it.
struct StartTime {
    double toDatagramMs = 0;
    int exitStatus = 0; // the wait status after SIGTERM
};
StartTime timeStart(Receiver &unit, const std::vector<std::string> &argv, const char *what,
                    const std::map<std::string, std::string> &extraEnvironment = {});

} // namespace veloxa::bench
