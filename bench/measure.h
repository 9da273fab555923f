#pragma once
// The benchmarks' instruments: the check that they run on an isolated
// loopback, clocks, a plain POSIX UDP socket that notes when each datagram
// reached it (the kernel's stamp, which a Qt socket cannot give), a plain
// sender for the floors, CPU time from /proc, and the timed start of a
// program. Everything else they need (the panel as a process, its folders
// and store, the simulator, the endpoint's client, floods, the X display) is
// the tests' support in tests/support/.

#include "support/panel_process.h"

#include <QMap>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace veloxa::bench {

// Ends the program (exit status 2) unless the only network interface is the
// loopback: a benchmark floods and times sockets and must never reach a real
// network. scripts/bench starts every benchmark in such a namespace. Then
// sets the offscreen platform unless QT_QPA_PLATFORM names another.
void requireIsolatedLoopback();

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

private:
    int m_fd = -1;
};

// utime + stime of a process in seconds (from /proc/<pid>/stat); -1 when unknown.
double cpuSeconds(qint64 pid);
// The run time of every thread of a process in seconds, from
// /proc/<pid>/task/*/schedstat (nanoseconds); -1 when unknown.
double threadsRunSeconds(qint64 pid);
// What a process's open file descriptors lead to (the targets of /proc/<pid>/fd/*);
// empty when unknown.
std::vector<std::string> openFiles(qint64 pid);

// One start of a program that sends the contrast command first (the panel,
// floor_app), with fresh settings holding only "IP Address" = 127.0.0.1 and a
// fresh runtime folder, on the offscreen platform unless `environment` says
// otherwise: from the start to the contrast datagram's arrival at `unit`,
// then SIGTERM. Ends the program when no contrast datagram comes, or another
// comes before it. The program is started with posix_spawn, which adds less
// to the time measured than QProcess.
struct StartTime {
    double toDatagramMs = 0;
    bool endedCleanly = false; // exit status 0 after SIGTERM
};
StartTime timeStart(Receiver &unit, const QStringList &argv, const char *what,
                    const QMap<QString, QString> &environment = {});

// The panel at `gui` started with `arguments`, fresh settings holding only
// "IP Address" = 127.0.0.1, on the offscreen platform; its output in a file
// of its folder; with `cpu`, all its threads on that CPU alone. Stopped
// politely when it goes.
struct LoopbackPanel : test::PanelProcess {
    LoopbackPanel(const std::string &gui, const QStringList &arguments, std::optional<int> cpu = {});
};

// The CPU that panels compared side by side share: the last one.
int comparisonCpu();

void sleepMs(std::int64_t ms);

} // namespace veloxa::bench
