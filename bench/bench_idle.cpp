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

#include "measure.h"
#include "report.h"

#include "support/panel_process.h"
#include "support/panel_widgets.h"
#include "support/unit_sim.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
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

bool resetPeak(qint64 pid)
{
    std::ofstream clear("/proc/" + std::to_string(pid) + "/clear_refs");
    clear << "5";
    clear.flush();
    return bool(clear);
}

// Sleeps, taking in the simulator's lines once a second so that its output
// never fills the pipe and holds it up.
void idleFor(test::UnitSim &sim, double seconds)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (Clock::time_point now = Clock::now(); now < end; now = Clock::now()) {
        std::this_thread::sleep_for(std::min<Clock::duration>(end - now, std::chrono::seconds(1)));
        sim.collect();
    }
}

struct Reading {
    double cpuStart = 0, cpuEnd = 0;
    qint64 peakWithStartUpKiB = 0, peakKiB = 0, rssKiB = 0;
    bool peakReset = false;

    void begin(qint64 pid)
    {
        cpuStart = cpuSeconds(pid);
        peakWithStartUpKiB = test::statusKiB(pid, "VmHWM");
        peakReset = resetPeak(pid);
    }
    void end(qint64 pid)
    {
        cpuEnd = cpuSeconds(pid);
        peakKiB = test::statusKiB(pid, "VmHWM");
        rssKiB = test::statusKiB(pid, "VmRSS");
    }
};

struct Run {
    long long idleSeconds = 0, settleSeconds = 0;
    Reading panel, floor;
    long heartbeatsSeen = 0;
    bool panelEndedCleanly = false;
};

bool report(const Run &run, const std::string &csvDir)
{
    const Reading &p = run.panel;
    const Reading &f = run.floor;
    const double panelCpu = p.cpuEnd - p.cpuStart;
    const double floorCpu = f.cpuEnd - f.cpuStart;
    const double cpuGoal = kGoalCpuSecondsPerMinute * double(run.idleSeconds) / 60.0;
    const std::string cpuGoalText =
        "<= " + fixed(cpuGoal, 3) + " s" + (run.idleSeconds == 60 ? "" : " (0.2 s per 60 s)");

    Report report("idle",
                  "the panel idling " + std::to_string(run.idleSeconds)
                      + " s against veloxa2-unit-sim on 127.0.0.1:37829");
    report.addValue("panel CPU time (utime+stime)", panelCpu, "s", cpuGoalText, ratioText(panelCpu, floorCpu),
                    verdict(panelCpu <= cpuGoal + 1e-9));
    report.addValue("floor: floor_app CPU time", floorCpu, "s");
    report.addValue("panel peak resident after start-up (VmHWM)", double(p.peakKiB), "KiB", "<= 40960 KiB",
                    ratioText(double(p.peakKiB), double(f.peakKiB)), verdict(double(p.peakKiB) <= kGoalPeakKiB));
    report.addValue("floor: floor_app VmHWM after start-up", double(f.peakKiB), "KiB");
    report.addValue("panel VmHWM including start-up", double(p.peakWithStartUpKiB), "KiB");
    report.addValue("panel VmRSS at the end", double(p.rssKiB), "KiB");
    report.addValue("datagrams the unit logged meanwhile", double(run.heartbeatsSeen), "datagrams");
    report.note("measured from " + std::to_string(run.settleSeconds) + " s after start; /proc/<pid>/stat counts in "
                + std::to_string(sysconf(_SC_CLK_TCK)) + "ths of a second");
    if (!p.peakReset || !f.peakReset)
        report.note("could not reset the peak resident size: VmHWM includes start-up");
    if (run.heartbeatsSeen + 1 < run.idleSeconds)
        report.note("the unit logged fewer datagrams than one heartbeat a second: the panel was not talking");
    if (!run.panelEndedCleanly)
        report.note("the panel did not end with exit status 0 after SIGTERM");
    return report.finish(csvDir);
}

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
    requireIsolatedLoopback();
    Run run;
    run.idleSeconds = options.number("idle-seconds");
    run.settleSeconds = options.number("settle-seconds");
    if (run.idleSeconds < 1)
        fail("--idle-seconds must be at least 1");

    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    const test::WidgetCounts counts = test::countPanelWidgets();

    test::UnitSim sim;
    if (!sim.start(QString::fromStdString(options.text("sim")), QStringLiteral("127.0.0.1"), kUnitPort))
        fail("veloxa2-unit-sim did not listen on 127.0.0.1:37829 within 10 s");

    // The panel and floor_app in the same fresh folders.
    const test::PanelEnvironment environment;
    environment.seed({{QStringLiteral("IP Address"), QStringLiteral("127.0.0.1")}});
    QProcess panel, floor;
    environment.start(panel, QString::fromStdString(options.text("gui")), {},
                      environment.config.filePath(QStringLiteral("panel.txt")));
    environment.start(floor, QString::fromStdString(options.text("floor")),
                      counts.floorArguments() + QStringList{QStringLiteral("--port"), QString::number(kUnitPort)},
                      environment.config.filePath(QStringLiteral("floor.txt")));

    const auto stopAll = [&] {
        test::stopPolitely(panel);
        test::stopPolitely(floor);
        test::stopPolitely(sim.process());
    };
    idleFor(sim, double(run.settleSeconds));
    if (!test::stillRunning(panel) || !test::stillRunning(floor)) {
        stopAll();
        fail("the panel or floor_app ended during start-up");
    }
    run.panel.begin(panel.processId());
    run.floor.begin(floor.processId());
    sim.collect();
    const qsizetype simLinesStart = sim.lines().size();

    idleFor(sim, double(run.idleSeconds));

    run.panel.end(panel.processId());
    run.floor.end(floor.processId());
    sim.collect();
    run.heartbeatsSeen = long(sim.lines().size() - simLinesStart);
    const bool panelAlive = test::stillRunning(panel);
    test::stopPolitely(panel);
    run.panelEndedCleanly = panel.exitStatus() == QProcess::NormalExit && panel.exitCode() == 0;
    stopAll();
    if (!panelAlive)
        fail("the panel ended during the idle run");
    return report(run, options.text("csv-dir")) && run.heartbeatsSeen + 1 >= run.idleSeconds ? 0 : 1;
}
