// Start-up to first datagram: from starting the built veloxa2-gui to the
// arrival of its contrast datagram at a socket on 127.0.0.1:37829.
//
// Each start gets a fresh settings folder holding only "IP Address" =
// 127.0.0.1 (and a fresh runtime folder, for the single-copy lock) and is
// stopped politely with SIGTERM once the contrast datagram is in. The floor
// is floor_app: a minimal Qt Widgets program with as many widgets of each
// kind as the panel's window (counted from a real FormMain here), sending one
// datagram right after show(). Both are timed on two platforms: offscreen,
// and xcb on a virtual X display (Xvfb) that this program starts. Panel and
// floor starts alternate, and so do the platforms, so that all four see the
// same machine.

#include "measure.h"
#include "report.h"

#include "core/settings/queued_store.h"
#include "support/panel_process.h"
#include "support/panel_widgets.h"
#include "support/x_display.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

using namespace veloxa;
using namespace veloxa::bench;

namespace {

constexpr std::uint16_t kUnitPort = 37829;

const char kUsage[] = "bench_startup [--runs N] [--gui PATH] [--floor PATH] [--csv-dir DIR]\n"
                      "  N starts of the panel and of floor_app each on each platform (default 20), each timed\n"
                      "  from process start to the first datagram's arrival at 127.0.0.1:37829.";

struct Platform {
    const char *name;
    double goalRatio; // panel / floor, medians
    QMap<QString, QString> environment;
    std::vector<double> panel, floor;
};

// The store work the panel does before its contrast datagram, done here with
// the same store on the same kind of fresh file: eleven reads (position,
// contrast, gain, polarity, frequency, clock, address, ramp) and handing the
// contrast write to the store's writer thread. Milliseconds.
double storeWorkMs()
{
    const test::PanelEnvironment folders;
    folders.seed({{QStringLiteral("IP Address"), QStringLiteral("127.0.0.1")}});
    settings::QueuedStore store(folders.storePath());
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
        {{"runs", "20"}, {"gui", VELOXA_GUI_PATH}, {"floor", VELOXA_FLOOR_APP_PATH}, {"csv-dir", VELOXA_BENCH_RESULTS}},
        kUsage);
    requireIsolatedLoopback();
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    const test::WidgetCounts counts = test::countPanelWidgets();
    if (counts.others != 0)
        fail("the panel holds widgets floor_app cannot build: " + counts.text().toStdString());

    const long long runs = options.number("runs");
    Receiver unit(kUnitPort);
    const QStringList floorArgv = QStringList{QString::fromStdString(options.text("floor"))} + counts.floorArguments()
        + QStringList{QStringLiteral("--port"), QString::number(kUnitPort)};
    const QStringList panelArgv = {QString::fromStdString(options.text("gui"))};

    // The xcb starts' display does not reset when its last client leaves, so
    // that no start waits for the reset after the one before it.
    test::VirtualDisplay xServer;
    const QString display = xServer.start(10000, test::VirtualDisplay::Reset::Never) ? xServer.name() : QString();
    const QString qpa = QStringLiteral("QT_QPA_PLATFORM");
    std::vector<Platform> platforms{{"offscreen", 1.10, {{qpa, QStringLiteral("offscreen")}}, {}, {}}};
    if (!display.isEmpty())
        platforms.push_back(
            {"xcb", 1.15, {{qpa, QStringLiteral("xcb")}, {QStringLiteral("DISPLAY"), display}}, {}, {}});

    std::vector<double> store;
    int panelBadExits = 0;
    for (long long i = 0; i < runs; ++i) {
        store.push_back(storeWorkMs());
        for (Platform &platform : platforms) {
            // Alternate which goes first, so neither always follows the other.
            const auto runPanel = [&] {
                const StartTime s = timeStart(unit, panelArgv, "the panel", platform.environment);
                platform.panel.push_back(s.toDatagramMs);
                if (!s.endedCleanly)
                    ++panelBadExits;
            };
            const auto runFloor = [&] {
                platform.floor.push_back(timeStart(unit, floorArgv, "floor_app", platform.environment).toDatagramMs);
            };
            if (i % 2 == 0) {
                runPanel();
                runFloor();
            } else {
                runFloor();
                runPanel();
            }
        }
    }

    Report report("startup", "process start -> first (contrast) datagram at 127.0.0.1:37829");
    for (const Platform &platform : platforms) {
        const Summary p = summarize(platform.panel);
        const Summary f = summarize(platform.floor);
        const bool platformMet = f.median > 0 && p.median / f.median <= platform.goalRatio;
        const std::string on = std::string(" (") + platform.name + ")";
        report.addSummary("veloxa2-gui start -> contrast datagram" + on, p, "ms",
                          "<= " + fixed(platform.goalRatio, 2) + " x floor", ratioText(p.median, f.median),
                          verdict(platformMet));
        report.addSummary("floor_app start -> its datagram" + on, f, "ms");
    }
    report.addSummary("store work before the contrast datagram", summarize(store), "ms");
    report.note("floor_app builds " + counts.text().toStdString() + " (counted in FormMain), Fusion style");
    report.note("fresh settings holding only IP Address=127.0.0.1 for every start; SIGTERM after the datagram");
    report.note("store work = the panel's 11 reads and handing over its contrast write with the real store on such "
                "a file, timed in this process (part of the panel's start-up; floor_app has none)");
    if (display.isEmpty())
        report.note("no xcb rows: Xvfb could not be started");
    if (panelBadExits)
        report.note("the panel did not end with exit status 0 after SIGTERM " + std::to_string(panelBadExits)
                    + " times");
    return report.finish(options.text("csv-dir")) && panelBadExits == 0 ? 0 : 1;
}
