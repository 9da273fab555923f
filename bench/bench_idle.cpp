// Idle cost: the built panel left alone against an answering simulated unit
// (veloxa2-unit-sim on 127.0.0.1:37829) for --idle-seconds (default 60).
//
// The panel starts with fresh settings holding only "IP Address" = 127.0.0.1
// on the offscreen platform; floor_app (a minimal Qt Widgets program with the
// panel's widgets, see bench_startup) idles beside it the same time as the
// floor. After --settle-seconds (default 3: start-up takes a fraction of a
// second and the first heartbeat goes after one) the CPU time (utime + stime
// from /proc/<pid>/stat) is read and the peak resident size is reset (writing
// 5 to /proc/<pid>/clear_refs); at the end the CPU time is read again and
// VmHWM is the peak resident size after start-up. The simulator's log must
// have grown by a heartbeat a second, so the panel was talking all along.

#include "panel_widgets.h"
#include "support.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace veloxa;
using namespace veloxa::bench;

namespace {

constexpr double kGoalCpuSecondsPerMinute = 0.2;
constexpr double kGoalPeakKiB = 40 * 1024;
constexpr std::uint16_t kUnitPort = 37829;

const char kUsage[] = "bench_idle [--idle-seconds N] [--settle-seconds N] [--gui PATH] [--sim PATH] [--floor PATH]\n"
                      "           [--csv-dir DIR]\n"
                      "  The panel idles N seconds (default 60) against veloxa2-unit-sim on 127.0.0.1:37829;\n"
                      "  its CPU time and peak resident size after start-up are measured.";

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "bench_idle: %s\n", what.c_str());
    std::exit(1);
}

long lineCount(const std::string &path)
{
    std::ifstream in(path);
    long lines = 0;
    std::string line;
    while (std::getline(in, line))
        ++lines;
    return lines;
}

bool resetPeak(pid_t pid)
{
    std::ofstream clear("/proc/" + std::to_string(pid) + "/clear_refs");
    clear << "5";
    clear.flush();
    return bool(clear);
}

bool running(pid_t pid)
{
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == 0;
}

void sleepSeconds(double seconds)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

struct Reading {
    double cpuStart = 0, cpuEnd = 0;
    long peakWithStartUpKiB = 0, peakKiB = 0, rssKiB = 0;
    bool peakReset = false;
};

} // namespace

int main(int argc, char **argv)
{
    const Options options(argc, argv,
                          {{"idle-seconds", "60"},
                           {"settle-seconds", "3"},
                           {"gui", VELOXA_GUI_PATH},
                           {"sim", VELOXA_SIM_PATH},
                           {"floor", VELOXA_FLOOR_APP_PATH},
                           {"csv-dir", VELOXA_BENCH_RESULTS}},
                          kUsage);
    requireIsolatedLoopback("bench_idle");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const long long idleSeconds = options.number("idle-seconds");
    const long long settleSeconds = options.number("settle-seconds");
    if (idleSeconds < 1)
        fail("--idle-seconds must be at least 1");

    WidgetCounts counts;
    {
        int qtArgc = 1;
        QApplication application(qtArgc, argv);
        counts = countPanelWidgets();
    }

    ScratchDir scratch(std::filesystem::temp_directory_path().string());
    const std::string simLog = scratch.path() + "/sim.txt";
    const pid_t sim =
        spawn({options.text("sim"), "--bind", "127.0.0.1", "--port", std::to_string(kUnitPort)}, {}, simLog);
    // Ready once it answers.
    {
        Sender probe;
        bool answered = false;
        for (int i = 0; i < 100 && !answered && running(sim); ++i) {
            const char heartbeat = 0x7F;
            probe.sendTo(kUnitPort, &heartbeat, 1);
            pollfd p{probe.fd(), POLLIN, 0};
            if (::poll(&p, 1, 100) > 0) {
                char buffer[16];
                answered = ::recv(probe.fd(), buffer, sizeof buffer, 0) > 0;
            }
        }
        if (!answered) {
            stopPolitely(sim);
            fail("veloxa2-unit-sim did not answer on 127.0.0.1:37829 within 10 s");
        }
    }

    const std::string config = scratch.path() + "/config";
    seedAddressOnly(config, "127.0.0.1");
    const std::map<std::string, std::string> environment = {{"QT_QPA_PLATFORM", "offscreen"},
                                                            {"XDG_CONFIG_HOME", config},
                                                            {"XDG_RUNTIME_DIR", scratch.path() + "/runtime"}};
    const pid_t panel = spawn({options.text("gui")}, environment, scratch.path() + "/panel.txt");
    std::vector<std::string> floorArgv = {options.text("floor")};
    for (const std::string &a : counts.floorArguments())
        floorArgv.push_back(a);
    floorArgv.push_back("--port");
    floorArgv.push_back(std::to_string(kUnitPort));
    const pid_t floor = spawn(floorArgv, environment, scratch.path() + "/floor.txt");

    sleepSeconds(double(settleSeconds));
    if (!running(panel) || !running(floor)) {
        stopPolitely(sim);
        fail("the panel or floor_app ended during start-up");
    }
    Reading p, f;
    const auto begin = [](pid_t pid, Reading &r) {
        r.cpuStart = cpuSeconds(pid);
        r.peakWithStartUpKiB = statusKiB(pid, "VmHWM");
        r.peakReset = resetPeak(pid);
    };
    begin(panel, p);
    begin(floor, f);
    const long simLinesStart = lineCount(simLog);

    sleepSeconds(double(idleSeconds));

    const auto end = [](pid_t pid, Reading &r) {
        r.cpuEnd = cpuSeconds(pid);
        r.peakKiB = statusKiB(pid, "VmHWM");
        r.rssKiB = statusKiB(pid, "VmRSS");
    };
    end(panel, p);
    end(floor, f);
    const long heartbeatsSeen = lineCount(simLog) - simLinesStart;
    const bool panelAlive = running(panel);
    const int panelStatus = stopPolitely(panel);
    stopPolitely(floor);
    stopPolitely(sim);
    if (!panelAlive)
        fail("the panel ended during the idle run");

    const double panelCpu = p.cpuEnd - p.cpuStart;
    const double floorCpu = f.cpuEnd - f.cpuStart;
    const double cpuGoal = kGoalCpuSecondsPerMinute * double(idleSeconds) / 60.0;
    const std::string cpuGoalText = "<= " + fixed(cpuGoal, 3) + " s" + (idleSeconds == 60 ? "" : " (0.2 s per 60 s)");

    Report report("idle",
                  "the panel idling " + std::to_string(idleSeconds) + " s against veloxa2-unit-sim on 127.0.0.1:37829");
    report.addValue("panel CPU time (utime+stime)", panelCpu, "s", cpuGoalText, ratioText(panelCpu, floorCpu),
                    verdict(panelCpu <= cpuGoal + 1e-9));
    report.addValue("floor: floor_app CPU time", floorCpu, "s");
    report.addValue("panel peak resident after start-up (VmHWM)", double(p.peakKiB), "KiB", "<= 40960 KiB",
                    ratioText(double(p.peakKiB), double(f.peakKiB)), verdict(double(p.peakKiB) <= kGoalPeakKiB));
    report.addValue("floor: floor_app VmHWM after start-up", double(f.peakKiB), "KiB");
    report.addValue("panel VmHWM including start-up", double(p.peakWithStartUpKiB), "KiB");
    report.addValue("panel VmRSS at the end", double(p.rssKiB), "KiB");
    report.addValue("datagrams the unit logged meanwhile", double(heartbeatsSeen), "datagrams");
    report.note("measured from " + std::to_string(settleSeconds) + " s after start; /proc/<pid>/stat counts in "
                + std::to_string(sysconf(_SC_CLK_TCK)) + "ths of a second");
    if (!p.peakReset || !f.peakReset)
        report.note("could not reset the peak resident size: VmHWM includes start-up");
    if (heartbeatsSeen + 1 < idleSeconds)
        report.note("the unit logged fewer datagrams than one heartbeat a second: the panel was not talking");
    if (!(WIFEXITED(panelStatus) && WEXITSTATUS(panelStatus) == 0))
        report.note("the panel did not end with exit status 0 after SIGTERM");
    return report.finish(options.text("csv-dir")) && heartbeatsSeen + 1 >= idleSeconds ? 0 : 1;
}
