// Start-up to first datagram: from starting the built veloxa2-gui to the
// arrival of its contrast datagram at a socket on 127.0.0.1:37829.
//
// Each start gets a fresh settings folder holding only "IP Address" =
// 127.0.0.1 (and a fresh runtime folder, for the single-copy lock), runs on
// the offscreen platform, and is stopped politely with SIGTERM once the
// contrast datagram is in. The floor is floor_app: a minimal Qt Widgets
// program with as many widgets of each kind as the panel's window (counted
// from a real FormMain here), sending one datagram right after show(). Panel
// and floor starts alternate, so both see the same machine.

#include "panel_widgets.h"
#include "support.h"

#include "core/link/datagrams.h"
#include "core/settings/queued_store.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

using namespace veloxa;
using namespace veloxa::bench;

namespace {

constexpr double kGoalRatio = 1.3;
constexpr std::uint16_t kUnitPort = 37829;

const char kUsage[] = "bench_startup [--runs N] [--gui PATH] [--floor PATH] [--csv-dir DIR]\n"
                      "  N starts of the panel and of floor_app each (default 10), each timed from process\n"
                      "  start to the first datagram's arrival at 127.0.0.1:37829.";

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "bench_startup: %s\n", what.c_str());
    std::exit(1);
}

// The store work the panel does before its contrast datagram, done here with
// the same store on the same kind of fresh file: eleven reads (position,
// contrast, gain, polarity, frequency, clock, address, ramp) and handing the
// contrast write to the store's writer thread. Milliseconds.
double storeWorkMs()
{
    ScratchDir scratch(std::filesystem::temp_directory_path().string());
    seedAddressOnly(scratch.path() + "/config", "127.0.0.1");
    settings::QueuedStore store(QString::fromStdString(scratch.path() + "/config/KW/Veloxa.conf"));
    namespace n = settings::names;
    const QString reads[] = {n::Left,     n::Top,       n::DisplayContrast, n::Gain,
                             n::Polarity, n::Frequency, n::SystemClock,     n::IpAddress,
                             n::RampRate, n::RampStep,  n::RampStopFreq};
    const std::int64_t start = monotonicNs();
    for (const QString &name : reads)
        store.read(name);
    if (!store.write(n::DisplayContrast, QStringLiteral("80")))
        fail("the store refused the contrast write");
    return nsToMs(monotonicNs() - start);
}

} // namespace

int main(int argc, char **argv)
{
    const Options options(
        argc, argv,
        {{"runs", "10"}, {"gui", VELOXA_GUI_PATH}, {"floor", VELOXA_FLOOR_APP_PATH}, {"csv-dir", VELOXA_BENCH_RESULTS}},
        kUsage);
    requireIsolatedLoopback("bench_startup");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    const WidgetCounts counts = countPanelWidgets();
    if (counts.others != 0)
        fail("the panel holds widgets floor_app cannot build: " + counts.text());

    const long long runs = options.number("runs");
    Receiver unit(kUnitPort);
    std::vector<std::string> floorArgv = {options.text("floor")};
    for (const std::string &a : counts.floorArguments())
        floorArgv.push_back(a);
    floorArgv.push_back("--port");
    floorArgv.push_back(std::to_string(kUnitPort));
    const std::vector<std::string> panelArgv = {options.text("gui")};

    std::vector<double> panel, floor, store;
    int panelBadExits = 0;
    for (long long i = 0; i < runs; ++i) {
        // Alternate which goes first, so neither always follows the other.
        const auto runPanel = [&] {
            const StartTime s = timeStart(unit, panelArgv, "the panel");
            panel.push_back(s.toDatagramMs);
            if (!(WIFEXITED(s.exitStatus) && WEXITSTATUS(s.exitStatus) == 0))
                ++panelBadExits;
        };
        const auto runFloor = [&] { floor.push_back(timeStart(unit, floorArgv, "floor_app").toDatagramMs); };
        store.push_back(storeWorkMs());
        if (i % 2 == 0) {
            runPanel();
            runFloor();
        } else {
            runFloor();
            runPanel();
        }
    }

    const Summary p = summarize(panel);
    const Summary f = summarize(floor);
    const double ratio = f.median > 0 ? p.median / f.median : 0;
    Report report("startup", "process start -> first (contrast) datagram at 127.0.0.1:37829");
    report.addSummary("veloxa2-gui start -> contrast datagram", p, "ms", "<= " + fixed(kGoalRatio, 1) + " x floor",
                      ratioText(p.median, f.median), verdict(f.median > 0 && ratio <= kGoalRatio));
    report.addSummary("floor_app start -> its datagram", f, "ms");
    report.addSummary("store work before the contrast datagram", summarize(store), "ms");
    report.note("floor_app builds " + counts.text() + " (counted in FormMain), Fusion style, offscreen");
    report.note("fresh settings holding only IP Address=127.0.0.1 for every start; SIGTERM after the datagram");
    report.note("store work = the panel's 11 reads and handing over its contrast write with the real store on such "
                "a file, timed in this process (part of the panel's start-up; floor_app has none)");
    if (panelBadExits)
        report.note("the panel did not end with exit status 0 after SIGTERM " + std::to_string(panelBadExits)
                    + " times");
    return report.finish(options.text("csv-dir")) && panelBadExits == 0 ? 0 : 1;
}
