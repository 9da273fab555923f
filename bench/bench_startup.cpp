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

#include "panel_widgets.h"
#include "support.h"

#include "core/link/datagrams.h"
#include "core/settings/queued_store.h"

#include <QApplication>
#include <QProcess>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sys/wait.h>

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
    std::map<std::string, std::string> environment;
    std::vector<double> panel, floor;
};

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

// A virtual X display for the xcb starts: its name (":N"), or empty when
// Xvfb is missing or tells none. It does not reset when its last client
// leaves, so that no start waits for the reset after the one before it.
QString startVirtualDisplay(QProcess &server)
{
    server.start(QStringLiteral("Xvfb"),
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                  QStringLiteral("-noreset"), QStringLiteral("-screen"), QStringLiteral("0"),
                  QStringLiteral("800x600x24")});
    if (!server.waitForStarted(5000) || !server.waitForReadyRead(10000))
        return {};
    return QLatin1Char(':') + QString::fromLatin1(server.readLine()).trimmed();
}

} // namespace

int main(int argc, char **argv)
{
    const Options options(
        argc, argv,
        {{"runs", "20"}, {"gui", VELOXA_GUI_PATH}, {"floor", VELOXA_FLOOR_APP_PATH}, {"csv-dir", VELOXA_BENCH_RESULTS}},
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

    QProcess xServer;
    const QString display = startVirtualDisplay(xServer);
    std::vector<Platform> platforms{{"offscreen", 1.10, {{"QT_QPA_PLATFORM", "offscreen"}}, {}, {}}};
    if (!display.isEmpty())
        platforms.push_back({"xcb", 1.15, {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", display.toStdString()}}, {}, {}});

    std::vector<double> store;
    int panelBadExits = 0;
    for (long long i = 0; i < runs; ++i) {
        store.push_back(storeWorkMs());
        for (Platform &platform : platforms) {
            // Alternate which goes first, so neither always follows the other.
            const auto runPanel = [&] {
                const StartTime s = timeStart(unit, panelArgv, "the panel", platform.environment);
                platform.panel.push_back(s.toDatagramMs);
                if (!(WIFEXITED(s.exitStatus) && WEXITSTATUS(s.exitStatus) == 0))
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
    xServer.terminate();
    xServer.waitForFinished(5000);

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
    report.note("floor_app builds " + counts.text() + " (counted in FormMain), Fusion style");
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
