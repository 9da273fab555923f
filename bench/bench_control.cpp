// The control endpoint (veloxa2-gui --control) as a script meets it.
//
// (a) Request to datagram: a client on the endpoint sends `set txtFreq`,
//     alternating "12.34" and "12.345", so every request changes the box and
//     sends the frequency command (and the polarity repeat). A sample runs
//     from just before the request is written to the kernel's arrival stamp
//     (SO_TIMESTAMPNS) of the frequency datagram at a socket on
//     127.0.0.1:37829; the answer is read before the next request.
// (b) What a subscriber costs: the same panel gets `click optDdsPolarity`,
//     alternating 1 and 0, 50 a second; each sends the polarity command and
//     changes the option: a "sent" and a "changed" event, 100 events a second
//     for a subscriber (the unit here listens and never answers, so there
//     are no arrivals; the heartbeat adds one a second). Arms without and with a subscriber that reads every
//     event alternate (without, with, with, without, ...) in --rounds rounds
//     of --round-seconds each; the panel's CPU time over each arm is the sum
//     of its threads' run time (/proc/<pid>/task/*/schedstat, nanoseconds),
//     with utime + stime from /proc/<pid>/stat beside it.
// (c) Idle: three panels idle side by side against veloxa2-unit-sim on
//     127.0.0.1:37829 for --idle-seconds: one without --control (the floor),
//     one with the endpoint open and no client, one with the endpoint and an
//     idle subscriber (read by this program); their CPU times are compared
//     from --settle-seconds after the start.
//
// Every panel starts with fresh settings holding only "IP Address" =
// 127.0.0.1, on the offscreen platform.

#include "support.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace veloxa::bench;

namespace {

constexpr double kGoalMedianMs = 1.0;
constexpr double kGoalP99Ms = 5.0;
constexpr double kGoalSubscriberRatio = 1.05;
constexpr double kGoalIdleRatio = 1.10;
constexpr std::uint16_t kUnitPort = 37829;
constexpr std::uint8_t kFrequency = 0xA5;
constexpr std::uint8_t kPolarity = 0x70;
constexpr int kAnswerMs = 5000;

const char kUsage[] =
    "bench_control [--requests N] [--warmup N] [--rounds N] [--round-seconds N] [--clicks-per-second N]\n"
    "              [--idle-seconds N] [--settle-seconds N] [--gui PATH] [--sim PATH] [--csv-dir DIR]\n"
    "  (a) set txtFreq on the endpoint -> frequency datagram at 127.0.0.1:37829 (default 1000 requests);\n"
    "  (b) the panel's CPU with and without a subscriber at 100 events/s (4 rounds of 5 s per arm);\n"
    "  (c) idle with the endpoint and one idle subscriber against idle without --control (60 s).";

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "bench_control: %s\n", what.c_str());
    std::exit(1);
}

bool running(pid_t pid)
{
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == 0;
}

void sleepMs(std::int64_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Run time of every thread of a process, in seconds; -1 when unknown.
double threadsRunSeconds(pid_t pid)
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

// One connection to the endpoint: lines out, lines in.
class LineClient {
public:
    LineClient() = default;
    ~LineClient() { close(); }
    LineClient(const LineClient &) = delete;
    LineClient &operator=(const LineClient &) = delete;

    // Tries until the endpoint answers or timeoutMs has passed.
    bool connectTo(const std::string &path, int timeoutMs)
    {
        const std::int64_t deadline = monotonicNs() + std::int64_t(timeoutMs) * 1000000;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path)
            fail("the endpoint's path is too long: " + path);
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        while (monotonicNs() < deadline) {
            m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
                return true;
            close();
            sleepMs(20);
        }
        return false;
    }

    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        m_buffer.clear();
    }

    int fd() const { return m_fd; }

    void send(const std::string &line)
    {
        std::size_t done = 0;
        while (done < line.size()) {
            const ssize_t wrote = ::send(m_fd, line.data() + done, line.size() - done, MSG_NOSIGNAL);
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote <= 0)
                fail(std::string("writing to the endpoint: ") + std::strerror(errno));
            done += std::size_t(wrote);
        }
    }

    // The next whole line, waiting up to timeoutMs; nothing on a timeout or
    // when the panel closed the connection.
    std::optional<std::string> readLine(int timeoutMs)
    {
        const std::int64_t deadline = monotonicNs() + std::int64_t(timeoutMs) * 1000000;
        for (;;) {
            if (const auto line = takeLine())
                return line;
            const std::int64_t left = deadline - monotonicNs();
            if (left <= 0)
                return std::nullopt;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, int((left + 999999) / 1000000)) > 0 && !readSome())
                return std::nullopt;
        }
    }

    // Reads what has come without waiting; returns how many whole lines that
    // completed (the lines themselves are dropped), -1 when the panel closed it.
    int discardAvailable()
    {
        char chunk[65536];
        int lines = 0;
        for (;;) {
            const ssize_t got = ::recv(m_fd, chunk, sizeof chunk, MSG_DONTWAIT);
            if (got == 0)
                return -1;
            if (got < 0)
                return lines;
            for (ssize_t i = 0; i < got; ++i)
                lines += chunk[i] == '\n' ? 1 : 0;
        }
    }

    // Sends one request and returns its "result"; ends the program on an
    // error answer or none. Other lines (events) before it are dropped.
    QJsonValue call(int id, const std::string &method, const std::string &params)
    {
        send(R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":")" + method + R"(","params":)" + params
             + "}\n");
        return answerTo(id, method);
    }

    QJsonValue answerTo(int id, const std::string &method)
    {
        for (;;) {
            const auto line = readLine(kAnswerMs);
            if (!line)
                fail("no answer to " + method + " within 5 s");
            const QJsonObject message = QJsonDocument::fromJson(QByteArray::fromStdString(*line)).object();
            if (message.value(QLatin1String("id")) != QJsonValue(id))
                continue;
            if (message.contains(QLatin1String("error")))
                fail(method + " was refused: " + line->c_str());
            return message.value(QLatin1String("result"));
        }
    }

private:
    std::optional<std::string> takeLine()
    {
        const auto end = m_buffer.find('\n');
        if (end == std::string::npos)
            return std::nullopt;
        std::string line = m_buffer.substr(0, end);
        m_buffer.erase(0, end + 1);
        return line;
    }

    bool readSome()
    {
        char chunk[65536];
        const ssize_t got = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (got <= 0)
            return got < 0 && errno == EINTR;
        m_buffer.append(chunk, std::size_t(got));
        return true;
    }

    int m_fd = -1;
    std::string m_buffer;
};

struct Panel {
    pid_t pid = -1;
    std::string endpoint;
};

Panel startPanel(const std::string &gui, const ScratchDir &scratch, bool control)
{
    const std::string config = scratch.path() + "/config";
    seedAddressOnly(config, "127.0.0.1");
    const std::map<std::string, std::string> environment = {{"QT_QPA_PLATFORM", "offscreen"},
                                                            {"XDG_CONFIG_HOME", config},
                                                            {"XDG_RUNTIME_DIR", scratch.path() + "/runtime"}};
    std::vector<std::string> argv = {gui};
    if (control)
        argv.emplace_back("--control");
    return {spawn(argv, environment, scratch.path() + "/panel.txt"), scratch.path() + "/runtime/veloxa2-gui/control"};
}

std::string quoted(const std::string &text)
{
    return '"' + text + '"';
}

// (a)
void requestToDatagram(Report &report, LineClient &client, Receiver &unit, long long requests, long long warmup,
                       int &nextId)
{
    std::vector<double> toArrival, toAnswer;
    std::vector<std::uint8_t> previous;
    int skipped = 0;
    for (long long i = 0; i < warmup + requests; ++i) {
        const std::string text = i % 2 == 0 ? "12.345" : "12.34";
        unit.drain();
        const std::int64_t start = realtimeNs();
        const int id = nextId++;
        client.send(R"({"jsonrpc":"2.0","id":)" + std::to_string(id)
                    + R"(,"method":"set","params":{"name":"txtFreq","value":)" + quoted(text) + "}}\n");
        const auto frequency = unit.waitFor(kFrequency, 2000, &skipped);
        if (!frequency)
            fail("no frequency datagram arrived within 2 s of a set request");
        const QJsonValue result = client.answerTo(id, "set txtFreq");
        const std::int64_t answered = realtimeNs();
        if (result != QJsonValue(QString::fromStdString(text)))
            fail("set txtFreq " + text + " did not leave the box at " + text);
        if (!unit.waitFor(kPolarity, 2000, &skipped))
            fail("no polarity datagram followed the frequency datagram");
        if (frequency->bytes.size() != 6 || frequency->bytes == previous)
            fail("the frequency datagram is not the 6-byte command for the new text");
        previous = frequency->bytes;
        if (i >= warmup) {
            toArrival.push_back(nsToMs(frequency->kernelNs - start));
            toAnswer.push_back(nsToMs(answered - start));
        }
    }
    const Summary arrival = summarize(toArrival);
    report.addSummary("(a) set txtFreq request -> frequency datagram arrival", arrival, "ms",
                      "median <= " + fixed(kGoalMedianMs, 1) + " ms; p99 <= " + fixed(kGoalP99Ms, 1) + " ms", {},
                      verdict(arrival.median <= kGoalMedianMs && arrival.p99 <= kGoalP99Ms));
    report.addSummary("(a) set txtFreq request -> its answer read", summarize(toAnswer), "ms");
    if (skipped > 0)
        report.note("(a) " + std::to_string(skipped) + " other datagrams (heartbeats) were dropped on the way");
}

struct Arm {
    double cpu = 0; // schedstat, s
    double statCpu = 0; // utime + stime, s
    double seconds = 0;
    long long events = 0;
};

// One arm of (b): clicks at the given rate for `seconds`, with or without a
// subscriber that reads everything.
Arm clickArm(const Panel &panel, LineClient &client, Receiver &unit, bool subscriber, long long seconds,
             long long perSecond, int &nextId, int &polarity)
{
    LineClient watcher;
    if (subscriber) {
        if (!watcher.connectTo(panel.endpoint, 5000))
            fail("the subscriber could not connect");
        if (watcher.call(nextId++, "subscribe", "{}") != QJsonValue(true))
            fail("subscribe did not answer true");
    }
    sleepMs(200); // the subscriber counted in, or the last one's leaving done
    unit.drain();
    if (subscriber)
        watcher.discardAvailable();

    Arm arm;
    const double cpuStart = threadsRunSeconds(panel.pid);
    const double statStart = cpuSeconds(panel.pid);
    const std::int64_t start = monotonicNs();
    const std::int64_t period = 1000000000 / perSecond;
    const long long clicks = seconds * perSecond;
    for (long long k = 0; k < clicks; ++k) {
        for (;;) { // until the next click is due: read the subscriber, drop what the unit got
            const std::int64_t left = start + k * period - monotonicNs();
            if (left <= 0)
                break;
            pollfd p[2] = {{unit.fd(), POLLIN, 0}, {watcher.fd(), POLLIN, 0}};
            if (::poll(p, subscriber ? 2 : 1, int((left + 999999) / 1000000)) > 0) {
                unit.drain();
                if (subscriber) {
                    const int lines = watcher.discardAvailable();
                    if (lines < 0)
                        fail("the panel dropped the subscriber");
                    arm.events += lines;
                }
            }
        }
        polarity = 1 - polarity;
        const QJsonValue selected =
            client.call(nextId++, "click", R"({"name":"optDdsPolarity","index":)" + std::to_string(polarity) + "}");
        if (selected != QJsonValue(polarity))
            fail("click optDdsPolarity did not select the option");
    }
    arm.seconds = double(monotonicNs() - start) / 1e9;
    arm.cpu = threadsRunSeconds(panel.pid) - cpuStart;
    arm.statCpu = cpuSeconds(panel.pid) - statStart;
    if (subscriber) {
        sleepMs(50);
        const int lines = watcher.discardAvailable();
        arm.events += lines > 0 ? lines : 0;
    }
    return arm;
}

// (b)
void subscriberCost(Report &report, const Panel &panel, LineClient &client, Receiver &unit, long long rounds,
                    long long roundSeconds, long long perSecond, int &nextId)
{
    Arm without, with;
    int polarity = 0;
    const auto add = [](Arm &total, const Arm &arm) {
        total.cpu += arm.cpu;
        total.statCpu += arm.statCpu;
        total.seconds += arm.seconds;
        total.events += arm.events;
    };
    for (long long round = 0; round < rounds; ++round) {
        const bool subscriberFirst = round % 2 == 1; // without, with | with, without | ...
        for (const bool subscriber : {subscriberFirst, !subscriberFirst})
            add(subscriber ? with : without,
                clickArm(panel, client, unit, subscriber, roundSeconds, perSecond, nextId, polarity));
    }
    const double ratio = without.cpu > 0 ? with.cpu / without.cpu : 0;
    report.addValue("(b) panel CPU with a subscriber (run time of its threads)", with.cpu, "s",
                    "<= " + fixed(kGoalSubscriberRatio, 2) + " x without", ratioText(with.cpu, without.cpu),
                    verdict(without.cpu > 0 && ratio <= kGoalSubscriberRatio));
    report.addValue("(b) floor: panel CPU without a subscriber", without.cpu, "s");
    report.addValue("(b) the same from /proc/<pid>/stat: with", with.statCpu, "s", {},
                    ratioText(with.statCpu, without.statCpu));
    report.addValue("(b) the same from /proc/<pid>/stat: without", without.statCpu, "s");
    report.addValue("(b) events the subscriber read", double(with.events) / with.seconds, "events/s");
    report.addValue("(b) (CPU with - without) / events read",
                    with.events > 0 ? (with.cpu - without.cpu) / double(with.events) * 1e6 : 0, "us");
    report.note("(b) " + std::to_string(perSecond) + " clicks of optDdsPolarity a second, " + std::to_string(rounds)
                + " rounds of " + std::to_string(roundSeconds) + " s per arm (" + fixed(with.seconds, 1) + " s with, "
                + fixed(without.seconds, 1) + " s without)");
}

void waitForSim(pid_t sim)
{
    Sender probe;
    for (int i = 0; i < 100 && running(sim); ++i) {
        const char heartbeat = 0x7F;
        probe.sendTo(kUnitPort, &heartbeat, 1);
        pollfd p{probe.fd(), POLLIN, 0};
        char buffer[16];
        if (::poll(&p, 1, 100) > 0 && ::recv(probe.fd(), buffer, sizeof buffer, 0) > 0)
            return;
    }
    stopPolitely(sim);
    fail("veloxa2-unit-sim did not answer on 127.0.0.1:37829 within 10 s");
}

// (c)
void idleCost(Report &report, const Options &options, long long idleSeconds, long long settleSeconds)
{
    const std::string temp = std::filesystem::temp_directory_path().string();
    ScratchDir scratchPlain(temp), scratchOpen(temp), scratchWatched(temp);
    const pid_t sim = spawn({options.text("sim"), "--bind", "127.0.0.1", "--port", std::to_string(kUnitPort)}, {},
                            scratchPlain.path() + "/sim.txt");
    waitForSim(sim);
    const Panel plain = startPanel(options.text("gui"), scratchPlain, false);
    const Panel open = startPanel(options.text("gui"), scratchOpen, true);
    const Panel watched = startPanel(options.text("gui"), scratchWatched, true);
    const std::vector<pid_t> panels = {plain.pid, open.pid, watched.pid};
    LineClient subscriber;
    if (!subscriber.connectTo(watched.endpoint, 10000))
        fail("no endpoint at " + watched.endpoint + " within 10 s");
    if (subscriber.call(1, "subscribe", "{}") != QJsonValue(true))
        fail("subscribe did not answer true");

    long long events = 0;
    const auto readUntil = [&](std::int64_t end) {
        for (std::int64_t left = end - monotonicNs(); left > 0; left = end - monotonicNs()) {
            pollfd p{subscriber.fd(), POLLIN, 0};
            if (::poll(&p, 1, int((left + 999999) / 1000000)) > 0) {
                const int lines = subscriber.discardAvailable();
                if (lines < 0)
                    fail("the panel dropped the idle subscriber");
                events += lines;
            }
        }
    };
    readUntil(monotonicNs() + settleSeconds * 1000000000);
    for (const pid_t pid : panels)
        if (!running(pid))
            fail("a panel ended during start-up");
    events = 0;
    std::vector<double> cpu, stat;
    for (const pid_t pid : panels) {
        cpu.push_back(-threadsRunSeconds(pid));
        stat.push_back(-cpuSeconds(pid));
    }
    readUntil(monotonicNs() + idleSeconds * 1000000000);
    bool allRan = true;
    for (std::size_t i = 0; i < panels.size(); ++i) {
        cpu[i] += threadsRunSeconds(panels[i]);
        stat[i] += cpuSeconds(panels[i]);
        allRan = allRan && running(panels[i]);
    }
    subscriber.close();
    for (const pid_t pid : panels)
        stopPolitely(pid);
    stopPolitely(sim);
    if (!allRan)
        fail("a panel ended during the idle run");

    const std::string idle = "(c) idle " + std::to_string(idleSeconds) + " s ";
    report.addValue(idle + "with the endpoint and an idle subscriber: CPU", cpu[2], "s",
                    "<= " + fixed(kGoalIdleRatio, 2) + " x without --control", ratioText(cpu[2], cpu[0]),
                    verdict(cpu[0] > 0 && cpu[2] <= kGoalIdleRatio * cpu[0]));
    report.addValue(idle + "with the endpoint and no client: CPU", cpu[1], "s", {}, ratioText(cpu[1], cpu[0]));
    report.addValue("(c) floor: idle without --control: CPU", cpu[0], "s");
    report.addValue("(c) the same from /proc/<pid>/stat: subscriber", stat[2], "s", {}, ratioText(stat[2], stat[0]));
    report.addValue("(c) the same from /proc/<pid>/stat: no client", stat[1], "s", {}, ratioText(stat[1], stat[0]));
    report.addValue("(c) the same from /proc/<pid>/stat: without --control", stat[0], "s");
    report.addValue("(c) events the idle subscriber read", double(events), "events");
    report.note("(c) three panels idle side by side against veloxa2-unit-sim, measured from "
                + std::to_string(settleSeconds) + " s after their start");
}

} // namespace

int main(int argc, char **argv)
{
    const Options options(argc, argv,
                          {{"requests", "1000"},
                           {"warmup", "50"},
                           {"rounds", "4"},
                           {"round-seconds", "5"},
                           {"clicks-per-second", "50"},
                           {"idle-seconds", "60"},
                           {"settle-seconds", "3"},
                           {"gui", VELOXA_GUI_PATH},
                           {"sim", VELOXA_SIM_PATH},
                           {"csv-dir", VELOXA_BENCH_RESULTS}},
                          kUsage);
    requireIsolatedLoopback("bench_control");
    const long long perSecond = options.number("clicks-per-second");
    if (perSecond < 1 || options.number("idle-seconds") < 1 || options.number("round-seconds") < 1)
        fail("--clicks-per-second, --idle-seconds and --round-seconds must be at least 1");

    Report report("control", "the control endpoint: request -> datagram, a subscriber's cost, idle");
    {
        ScratchDir scratch(std::filesystem::temp_directory_path().string());
        Receiver unit(kUnitPort); // a unit that listens and never answers
        const Panel panel = startPanel(options.text("gui"), scratch, true);
        LineClient client;
        if (!client.connectTo(panel.endpoint, 10000)) {
            stopPolitely(panel.pid);
            fail("no endpoint at " + panel.endpoint + " within 10 s");
        }
        int nextId = 1;
        requestToDatagram(report, client, unit, options.number("requests"), options.number("warmup"), nextId);
        subscriberCost(report, panel, client, unit, options.number("rounds"), options.number("round-seconds"),
                       perSecond, nextId);
        client.close();
        stopPolitely(panel.pid);
    }
    idleCost(report, options, options.number("idle-seconds"), options.number("settle-seconds"));
    report.note("arrival = the kernel's receive stamp (SO_TIMESTAMPNS); CPU = the run time of the panel's threads "
                "(/proc/<pid>/task/*/schedstat, ns), /proc/<pid>/stat counts in "
                + std::to_string(sysconf(_SC_CLK_TCK)) + "ths of a second");
    return report.finish(options.text("csv-dir")) ? 0 : 1;
}
