#include "measure.h"
#include "report.h"

#include "support/panel_process.h"
#include "support/store_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace veloxa::bench {

namespace {

std::int64_t clockNs(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

sockaddr_in loopback(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

} // namespace

void requireIsolatedLoopback()
{
    const QStringList others = test::interfacesBesidesLoopback();
    if (!others.isEmpty())
        die(std::string(program_invocation_short_name)
            + ": refusing to run: this network namespace has interfaces besides lo: "
            + others.join(QLatin1Char(' ')).toStdString()
            + "\n(run it through scripts/bench, which starts it in an isolated namespace)");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

std::int64_t realtimeNs()
{
    return clockNs(CLOCK_REALTIME);
}
std::int64_t monotonicNs()
{
    return clockNs(CLOCK_MONOTONIC);
}
std::int64_t threadCpuNs()
{
    return clockNs(CLOCK_THREAD_CPUTIME_ID);
}

// --- Receiver ----------------------------------------------------------------

Receiver::Receiver(std::uint16_t port)
{
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        die(std::string("receiver: socket: ") + std::strerror(errno));
    const int on = 1;
    if (::setsockopt(m_fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0)
        die(std::string("receiver: SO_TIMESTAMPNS: ") + std::strerror(errno));
    const int buffer = 4 << 20;
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer); // best effort
    sockaddr_in address = loopback(port);
    if (::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        die("receiver: cannot bind 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno));
    socklen_t length = sizeof address;
    ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length);
    m_port = ntohs(address.sin_port);
}

Receiver::~Receiver()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::optional<Arrival> Receiver::next(int timeoutMs)
{
    const std::int64_t deadline = monotonicNs() + std::int64_t(timeoutMs) * 1000000;
    for (;;) {
        Arrival arrival;
        arrival.bytes.resize(65536);
        iovec io{arrival.bytes.data(), arrival.bytes.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t got = ::recvmsg(m_fd, &message, 0);
        if (got >= 0) {
            arrival.seenNs = realtimeNs();
            arrival.bytes.resize(std::size_t(got));
            for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec ts{};
                    std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
                    arrival.kernelNs = std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
                }
            }
            if (arrival.kernelNs == 0)
                arrival.kernelNs = arrival.seenNs;
            return arrival;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return std::nullopt;
        const std::int64_t left = deadline - monotonicNs();
        if (left <= 0)
            return std::nullopt;
        pollfd p{m_fd, POLLIN, 0};
        ::poll(&p, 1, int(std::max<std::int64_t>(1, (left + 999999) / 1000000)));
    }
}

std::optional<Arrival> Receiver::waitFor(std::uint8_t opcode, int timeoutMs, int *skipped)
{
    const std::int64_t deadline = monotonicNs() + std::int64_t(timeoutMs) * 1000000;
    for (;;) {
        const std::int64_t left = deadline - monotonicNs();
        if (left <= 0)
            return std::nullopt;
        auto arrival = next(int((left + 999999) / 1000000));
        if (!arrival)
            return std::nullopt;
        if (!arrival->bytes.empty() && arrival->bytes[0] == opcode)
            return arrival;
        if (skipped)
            ++*skipped;
    }
}

int Receiver::drain()
{
    int dropped = 0;
    char buffer[2048];
    while (::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT) >= 0)
        ++dropped;
    return dropped;
}

Sender::Sender()
{
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        die(std::string("sender: socket: ") + std::strerror(errno));
}

Sender::~Sender()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Sender::sendTo(std::uint16_t port, const void *data, std::size_t size)
{
    const sockaddr_in address = loopback(port);
    return ::sendto(m_fd, data, size, 0, reinterpret_cast<const sockaddr *>(&address), sizeof address) == ssize_t(size);
}

// --- Processes ---------------------------------------------------------------

double cpuSeconds(qint64 pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The command name in parentheses may hold blanks: count fields after its ')'.
    const auto close = all.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(all.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) { // field 3 is the state
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15) {
            stime = std::stoull(field);
            return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
        }
    }
    return -1;
}

std::vector<std::string> openFiles(qint64 pid)
{
    std::vector<std::string> targets;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        const auto target = std::filesystem::read_symlink(entry.path(), error);
        targets.push_back(error ? entry.path().filename().string() + " (gone)" : target.string());
    }
    std::sort(targets.begin(), targets.end());
    return targets;
}

double threadsRunSeconds(qint64 pid)
{
    std::error_code error;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    std::uint64_t ns = 0;
    bool any = false;
    for (const auto &task : std::filesystem::directory_iterator(tasks, error)) {
        std::FILE *file = std::fopen((task.path() / "schedstat").c_str(), "r");
        if (!file)
            continue;
        unsigned long long run = 0;
        if (std::fscanf(file, "%llu", &run) == 1) {
            ns += run;
            any = true;
        }
        std::fclose(file);
    }
    return any ? double(ns) / 1e9 : -1;
}

// --- A timed start ------------------------------------------------------------

namespace {

// The program with the environment, reading /dev/null, its stdout and
// stderr going to `outputFile`. Ends the program when it cannot start.
pid_t spawn(const QStringList &argv, const QStringList &environment, const QString &outputFile)
{
    std::vector<std::string> argStrings, envStrings;
    for (const QString &a : argv)
        argStrings.push_back(a.toStdString());
    for (const QString &e : environment)
        envStrings.push_back(e.toStdString());
    std::vector<char *> args, envp;
    for (auto &a : argStrings)
        args.push_back(a.data());
    args.push_back(nullptr);
    for (auto &e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string output = outputFile.toStdString();

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        die("cannot start " + argStrings[0] + ": " + std::strerror(error));
    return pid;
}

// SIGTERM, then up to 10 s for the end (then SIGKILL). True when it ended
// with exit status 0.
bool stopPolitely(pid_t pid)
{
    ::kill(pid, SIGTERM);
    const std::int64_t deadline = monotonicNs() + std::int64_t(10000) * 1000000;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (done < 0)
            return false;
        if (monotonicNs() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return false;
        }
        timespec pause{0, 5000000};
        nanosleep(&pause, nullptr);
    }
}

} // namespace

StartTime timeStart(Receiver &unit, const QStringList &argv, const char *what,
                    const QMap<QString, QString> &environment)
{
    constexpr std::uint8_t kContrastOpcode = 0x63;
    const test::PanelEnvironment folders;
    folders.seed({{QStringLiteral("IP Address"), QStringLiteral("127.0.0.1")}});
    QProcessEnvironment processEnvironment = folders.processEnvironment();
    for (auto it = environment.cbegin(); it != environment.cend(); ++it)
        processEnvironment.insert(it.key(), it.value());
    const QStringList environmentLines = processEnvironment.toStringList();
    const QString log = folders.config.filePath(QStringLiteral("output.txt"));
    unit.drain();

    const std::int64_t start = realtimeNs();
    const pid_t pid = spawn(argv, environmentLines, log);
    int skipped = 0;
    const auto arrival = unit.waitFor(kContrastOpcode, 20000, &skipped);
    const bool endedCleanly = stopPolitely(pid);
    if (!arrival)
        die(std::string("no contrast datagram from ") + what + " within 20 s; its output:\n"
            + test::fileBytes(log).toStdString());
    if (skipped != 0)
        die(std::string(what) + " sent " + std::to_string(skipped) + " datagrams before its contrast datagram");
    return {nsToMs(arrival->kernelNs - start), endedCleanly};
}

// --- Panels and pauses ----------------------------------------------------------

LoopbackPanel::LoopbackPanel(const std::string &gui, const QStringList &arguments, std::optional<int> cpu)
{
    environment.seed({{QStringLiteral("IP Address"), QStringLiteral("127.0.0.1")}});
    if (cpu)
        process.setChildProcessModifier([cpu = *cpu] {
            cpu_set_t only;
            CPU_ZERO(&only);
            CPU_SET(cpu, &only);
            (void)::sched_setaffinity(0, sizeof only, &only);
        });
    environment.start(process, QString::fromStdString(gui), arguments,
                      environment.config.filePath(QStringLiteral("panel.txt")));
}

int comparisonCpu()
{
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency())) - 1;
}

void sleepMs(std::int64_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace veloxa::bench
