#include "support.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

namespace veloxa::bench {

namespace {

[[noreturn]] void die(const std::string &message)
{
    std::fprintf(stderr, "%s\n", message.c_str());
    std::exit(2);
}

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

void requireIsolatedLoopback(const char *program)
{
    struct if_nameindex *interfaces = if_nameindex();
    if (!interfaces)
        die(std::string(program) + ": cannot list the network interfaces");
    std::string others;
    for (struct if_nameindex *i = interfaces; i->if_index != 0; ++i)
        if (std::strcmp(i->if_name, "lo") != 0)
            others += std::string(" ") + i->if_name;
    if_freenameindex(interfaces);
    if (!others.empty())
        die(std::string(program) + ": refusing to run: this network namespace has interfaces besides lo:" + others
            + "\n(run it through scripts/bench, which starts it in an isolated namespace)");
}

Options::Options(int argc, char **argv, std::map<std::string, std::string> defaults, const char *usage)
    : m_values(std::move(defaults))
    , m_usage(usage)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::printf("%s\n", m_usage.c_str());
            std::exit(0);
        }
        std::string value;
        bool hasValue = false;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        if (arg.rfind("--", 0) != 0 || !m_values.count(arg.substr(2)))
            die("unknown option " + arg + "\n" + m_usage);
        if (!hasValue) {
            if (i + 1 >= argc)
                die(arg + " needs a value\n" + m_usage);
            value = argv[++i];
        }
        m_values[arg.substr(2)] = value;
    }
}

std::string Options::text(const std::string &name) const
{
    return m_values.at(name);
}

long long Options::number(const std::string &name) const
{
    const std::string &t = m_values.at(name);
    char *end = nullptr;
    errno = 0;
    const long long v = std::strtoll(t.c_str(), &end, 10);
    if (t.empty() || *end != '\0' || errno != 0 || v < 0)
        die("--" + name + " wants a whole number, not '" + t + "'\n" + m_usage);
    return v;
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

// --- Figures -----------------------------------------------------------------

Summary summarize(std::vector<double> values)
{
    Summary s;
    s.samples = values.size();
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    const auto rank = [&](double p) {
        const auto r = std::size_t(std::ceil(p * double(values.size())));
        return values[std::clamp<std::size_t>(r, 1, values.size()) - 1];
    };
    const std::size_t n = values.size();
    s.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
    s.p99 = rank(0.99);
    s.min = values.front();
    s.max = values.back();
    return s;
}

std::string fixed(double value, int decimals)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

std::string ratioText(double value, double floor)
{
    if (!(floor > 0))
        return "n/a";
    return fixed(value / floor, 2);
}

namespace {

int decimalsFor(double v)
{
    const double a = std::fabs(v);
    if (a == 0 || a >= 100)
        return 1;
    if (a >= 1)
        return 3;
    return 4;
}

std::string csvCell(const std::string &text)
{
    if (text.find_first_of(",\"\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

} // namespace

Report::Report(std::string benchmark, std::string title)
    : m_benchmark(std::move(benchmark))
    , m_title(std::move(title))
{
}

void Report::addSummary(const std::string &measure, const Summary &s, const std::string &unit, const std::string &goal,
                        const std::string &ratio, const std::string &verdictText)
{
    Row row;
    row.measure = measure;
    row.samples = std::to_string(s.samples);
    row.median = fixed(s.median, decimalsFor(s.median));
    row.p99 = fixed(s.p99, decimalsFor(s.p99));
    row.min = fixed(s.min, decimalsFor(s.min));
    row.max = fixed(s.max, decimalsFor(s.max));
    row.unit = unit;
    row.goal = goal;
    row.ratio = ratio;
    row.verdict = verdictText;
    m_rows.push_back(row);
}

void Report::addValue(const std::string &measure, double value, const std::string &unit, const std::string &goal,
                      const std::string &ratio, const std::string &verdictText)
{
    Row row;
    row.measure = measure;
    row.samples = "1";
    row.median = fixed(value, decimalsFor(value));
    row.unit = unit;
    row.goal = goal;
    row.ratio = ratio;
    row.verdict = verdictText;
    m_rows.push_back(row);
}

void Report::note(const std::string &line)
{
    m_notes.push_back(line);
}

bool Report::finish(const std::string &csvDir) const
{
    const std::vector<std::string> headers = {"measure", "n",    "median", "p99",     "min",
                                              "max",     "unit", "goal",   "x floor", "goal met"};
    std::vector<std::vector<std::string>> cells;
    for (const Row &r : m_rows)
        cells.push_back({r.measure, r.samples, r.median, r.p99, r.min, r.max, r.unit, r.goal, r.ratio, r.verdict});
    std::vector<std::size_t> widths(headers.size());
    for (std::size_t c = 0; c < headers.size(); ++c) {
        widths[c] = headers[c].size();
        for (const auto &line : cells)
            widths[c] = std::max(widths[c], line[c].size());
    }
    const auto printLine = [&](const std::vector<std::string> &line) {
        std::string out;
        for (std::size_t c = 0; c < line.size(); ++c) {
            const bool left = c == 0 || c == 6 || c == 7;
            const std::string pad(widths[c] - line[c].size(), ' ');
            out += left ? line[c] + pad : pad + line[c];
            out += c + 1 < line.size() ? "  " : "";
        }
        while (!out.empty() && out.back() == ' ')
            out.pop_back();
        std::printf("%s\n", out.c_str());
    };
    std::printf("\n== %s: %s\n", m_benchmark.c_str(), m_title.c_str());
    printLine(headers);
    for (const auto &line : cells)
        printLine(line);
    for (const auto &n : m_notes)
        std::printf("  %s\n", n.c_str());
    std::fflush(stdout);

    std::error_code error;
    std::filesystem::create_directories(csvDir, error);
    const std::string path = csvDir + "/" + m_benchmark + ".csv";
    std::ofstream csv(path, std::ios::trunc);
    csv << "measure,samples,median,p99,min,max,unit,goal,ratio_to_floor,goal_met\n";
    for (const Row &r : m_rows)
        csv << csvCell(r.measure) << ',' << r.samples << ',' << r.median << ',' << r.p99 << ',' << r.min << ',' << r.max
            << ',' << csvCell(r.unit) << ',' << csvCell(r.goal) << ',' << r.ratio << ',' << r.verdict << '\n';
    for (const auto &n : m_notes)
        csv << "# " << n << '\n';
    csv.close();
    if (!csv) {
        std::fprintf(stderr, "%s: cannot write %s\n", m_benchmark.c_str(), path.c_str());
        return false;
    }
    std::printf("  (written to %s)\n", path.c_str());
    return true;
}

// --- Processes -----------------------------------------------------------------

long statusKiB(pid_t pid, const char *field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0)
            return std::strtol(line.c_str() + key.size(), nullptr, 10);
    }
    return -1;
}

double cpuSeconds(pid_t pid)
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

std::vector<std::string> openFiles(pid_t pid)
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

ScratchDir::ScratchDir(const std::string &under, const std::string &prefix)
{
    std::string pattern = under + "/" + prefix + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data()))
        die("cannot make a scratch folder in " + under + ": " + std::strerror(errno));
    m_path = buffer.data();
    std::filesystem::create_directories(m_path + "/config");
    ::mkdir((m_path + "/runtime").c_str(), 0700);
}

ScratchDir::~ScratchDir()
{
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
}

void seedAddressOnly(const std::string &configHome, const std::string &address)
{
    std::filesystem::create_directories(configHome + "/KW");
    std::ofstream file(configHome + "/KW/Veloxa.conf", std::ios::trunc);
    // QSettings writes the blank in "IP Address" as %20.
    file << "[General]\nIP%20Address=" << address << "\n";
}

pid_t spawn(const std::vector<std::string> &argv, const std::map<std::string, std::string> &environment,
            const std::string &outputFile)
{
    std::map<std::string, std::string> merged;
    for (char **e = environ; *e; ++e) {
        const std::string entry = *e;
        const auto eq = entry.find('=');
        if (eq != std::string::npos)
            merged[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto &[k, v] : environment)
        merged[k] = v;
    std::vector<std::string> envStrings;
    for (const auto &[k, v] : merged)
        envStrings.push_back(k + "=" + v);
    std::vector<char *> envp, args;
    for (auto &s : envStrings)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argCopy = argv;
    for (auto &s : argCopy)
        args.push_back(s.data());
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!outputFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        die("cannot start " + argv[0] + ": " + std::strerror(error));
    return pid;
}

int stopPolitely(pid_t pid, int timeoutMs)
{
    ::kill(pid, SIGTERM);
    const std::int64_t deadline = monotonicNs() + std::int64_t(timeoutMs) * 1000000;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return status;
        if (done < 0)
            return -1;
        if (monotonicNs() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return status;
        }
        timespec pause{0, 5000000};
        nanosleep(&pause, nullptr);
    }
}

} // namespace veloxa::bench
