// The panel on a slow disk: every fsync and fdatasync made 10 ms slower by an
// LD_PRELOAD library (slow_fsync.cpp), against the plain disk in the same run.
//
// - Contrast step: the contrast slider of the real window with the real store
//   moved one step at a time (Right, Left, ... around 50), each step storing
//   its value and sending the contrast command on a recording channel; the
//   figure is the window's time per step. Each run is a child process of this
//   program (the library must be there from the start), runs alternating
//   between the plain and the slow disk. The child also times how long its
//   store then needs to have everything on the disk.
// - Start-up: the built panel from its start to its contrast datagram at
//   127.0.0.1:37829, as bench_startup times it, starts alternating.

#include "measure.h"
#include "report.h"

#include "core/link/clock.h"
#include "core/link/recording_channel.h"
#include "core/settings/queued_store.h"
#include "support/panel_harness.h"
#include "support/store_files.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <sstream>

using namespace veloxa;
using namespace veloxa::bench;

namespace {

constexpr double kStepGoalRatio = 1.5;
constexpr double kStartGoalRatio = 1.3;

const char kUsage[] =
    "bench_slow_disk [--runs N] [--steps N] [--gui PATH] [--preload PATH] [--dir DIR] [--csv-dir DIR]\n"
    "  N runs each on the plain and the slow disk (default 6) of N contrast steps (default 100),\n"
    "  and 2N starts of the panel, with the store in a scratch folder under DIR\n"
    "  (default $HOME/.config).";

// The child: steps the slider and prints "step <median> <p99> flush <ms>".
int runSteps(const QString &dir, long long steps, char **argv)
{
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    const QTemporaryDir scratch(dir + QStringLiteral("/veloxa2-bench-slow.XXXXXX"));
    using Window = test::Panel<link::RecordingChannel, settings::QueuedStore, link::SteadyClock>;
    Window panel(scratch.filePath(QStringLiteral("KW/Veloxa.conf")));
    namespace n = settings::names;
    QList<std::pair<QString, QString>> values;
    for (const QString &name : {n::Left, n::Top, n::IpAddress, n::Frequency, n::SystemClock, n::Polarity, n::Gain,
                                n::RampRate, n::RampStep, n::RampStopFreq})
        values.append({name, QStringLiteral("1")});
    values.append({n::DisplayContrast, QStringLiteral("50")});
    if (!scratch.isValid() || !test::seedStore(panel.store, values))
        fail("the store could not be seeded");

    panel.channel.setDestination(QStringLiteral("127.0.0.1"), 37829);
    panel.form->show();
    if (!QTest::qWaitForWindowExposed(panel.form.get()))
        fail("the window was not shown");
    controls::Slider *slider = &panel.form->controls().sldContrast;
    if (!slider->assign(50) || !panel.store.waitForWrites(20000))
        fail("the slider refused 50");
    QCoreApplication::processEvents();

    std::vector<double> times;
    for (long long i = 0; i < steps; ++i) {
        const std::int64_t start = monotonicNs();
        QTest::keyClick(slider, i % 2 == 0 ? Qt::Key_Right : Qt::Key_Left);
        times.push_back(nsToMs(monotonicNs() - start));
    }
    const std::int64_t flushStart = monotonicNs();
    if (!panel.store.waitForWrites(60000))
        fail("the store did not write the steps");
    const double flushMs = nsToMs(monotonicNs() - flushStart);
    if (panel.channel.sent.size() < steps)
        fail("a step sent no contrast command");
    const Summary s = summarize(times);
    std::printf("step %.6f %.6f flush %.3f\n", s.median, s.p99, flushMs);
    return 0;
}

struct StepRun {
    double median = 0, p99 = 0, flushMs = 0;
    long fsyncCalls = -1;
};

StepRun stepRun(const QString &self, const QString &dir, long long steps, const QString &preload)
{
    const QTemporaryDir scratch;
    const QString counted = scratch.filePath(QStringLiteral("fsync-calls.txt"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!preload.isEmpty()) {
        environment.insert(QStringLiteral("LD_PRELOAD"), preload);
        environment.insert(QStringLiteral("VELOXA_SLOW_FSYNC_COUNT_FILE"), counted);
    }
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.setStandardInputFile(QProcess::nullDevice());
    child.start(self,
                {QStringLiteral("--child"), QStringLiteral("steps"), QStringLiteral("--dir"), dir,
                 QStringLiteral("--steps"), QString::number(steps)});
    child.waitForFinished(-1);
    const std::string output = child.readAll().toStdString();
    StepRun run;
    const auto at = output.rfind("step ");
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0 || at == std::string::npos)
        fail("a contrast run did not finish; its output:\n" + output);
    std::istringstream line(output.substr(at + 5));
    std::string word;
    line >> run.median >> run.p99 >> word >> run.flushMs;
    if (!preload.isEmpty())
        run.fsyncCalls = test::fileBytes(counted).trimmed().toLong();
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    const char *home = std::getenv("HOME");
    const Options options(argc, argv,
                          {{"runs", "6"},
                           {"steps", "100"},
                           {"gui", VELOXA_GUI_PATH},
                           {"preload", VELOXA_SLOW_FSYNC_PATH},
                           {"dir", std::string(home ? home : "/tmp") + "/.config"},
                           {"csv-dir", VELOXA_BENCH_RESULTS},
                           {"child", ""}},
                          kUsage);
    requireIsolatedLoopback();
    const QString dir = QString::fromStdString(options.text("dir"));
    QDir().mkpath(dir);
    if (options.text("child") == "steps")
        return runSteps(dir, options.number("steps"), argv);

    QCoreApplication application(argc, argv);
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    const QString preload = QString::fromStdString(options.text("preload"));
    const long long runs = options.number("runs");
    std::vector<double> plainSteps, slowSteps, plainFlush, slowFlush, plainStarts, slowStarts;
    std::vector<double> plainP99, slowP99;
    long slowCalls = 0;
    for (long long i = 0; i < runs; ++i) {
        for (const bool slow : {i % 2 == 0, i % 2 != 0}) {
            const StepRun run = stepRun(self, dir, options.number("steps"), slow ? preload : QString());
            (slow ? slowSteps : plainSteps).push_back(run.median);
            (slow ? slowP99 : plainP99).push_back(run.p99);
            (slow ? slowFlush : plainFlush).push_back(run.flushMs);
            if (slow)
                slowCalls += run.fsyncCalls;
        }
    }
    {
        Receiver unit(37829);
        for (long long i = 0; i < 2 * runs; ++i) {
            for (const bool slow : {i % 2 == 0, i % 2 != 0}) {
                QMap<QString, QString> environment;
                if (slow)
                    environment = {{QStringLiteral("LD_PRELOAD"), preload}};
                const StartTime start =
                    timeStart(unit, {QString::fromStdString(options.text("gui"))}, "the panel", environment);
                (slow ? slowStarts : plainStarts).push_back(start.toDatagramMs);
            }
        }
    }

    const Summary ps = summarize(plainSteps), ss = summarize(slowSteps);
    const Summary pst = summarize(plainStarts), sst = summarize(slowStarts);
    Report report("slowdisk", "fsync 10 ms slower (LD_PRELOAD) against the plain disk, same run");
    report.addSummary("contrast step in the window, slow disk (median of a run)", ss, "ms",
                      "<= " + fixed(kStepGoalRatio, 1) + " x plain", ratioText(ss.median, ps.median),
                      verdict(ps.median > 0 && ss.median <= kStepGoalRatio * ps.median));
    report.addSummary("contrast step in the window, plain disk (median of a run)", ps, "ms");
    report.addSummary("contrast step p99, slow disk", summarize(slowP99), "ms");
    report.addSummary("contrast step p99, plain disk", summarize(plainP99), "ms");
    report.addSummary("start -> contrast datagram, slow disk", sst, "ms",
                      "<= " + fixed(kStartGoalRatio, 1) + " x plain", ratioText(sst.median, pst.median),
                      verdict(pst.median > 0 && sst.median <= kStartGoalRatio * pst.median));
    report.addSummary("start -> contrast datagram, plain disk", pst, "ms");
    report.addSummary("writer until the steps are on the disk, slow disk", summarize(slowFlush), "ms");
    report.addSummary("writer until the steps are on the disk, plain disk", summarize(plainFlush), "ms");
    report.addValue("fsync/fdatasync calls slowed, all slow contrast runs", double(slowCalls), "calls");
    report.note("runs alternate between the disks; each contrast run is a fresh process with a fresh store under "
                + dir.toStdString());
    report.note("the window's time per step: the key event, the slider's change handling, the hand-over to the store's "
                "writer thread and the send; the writer's time is the second pair of rows");
    return report.finish(options.text("csv-dir")) ? 0 : 1;
}
