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

#include "support.h"

#include "core/link/clock.h"
#include "core/link/recording_channel.h"
#include "core/settings/queued_store.h"
#include "gui/window/form_main.h"

#include <QApplication>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

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

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "bench_slow_disk: %s\n", what.c_str());
    std::exit(1);
}

std::string readAll(const std::string &path)
{
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The child: steps the slider and prints "step <median> <p99> flush <ms>".
int runSteps(const std::string &dir, long long steps, int argc, char **argv)
{
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    Q_UNUSED(argc);
    QApplication::setStyle(QStringLiteral("Fusion"));
    ScratchDir scratch(dir, "veloxa2-bench-slow");
    settings::QueuedStore store(QString::fromStdString(scratch.path() + "/KW/Veloxa.conf"));
    namespace n = settings::names;
    for (const QString &name : {n::Left, n::Top, n::IpAddress, n::Frequency, n::SystemClock, n::Polarity, n::Gain,
                                n::RampRate, n::RampStep, n::RampStopFreq})
        store.write(name, QStringLiteral("1"));
    store.write(n::DisplayContrast, QStringLiteral("50"));
    if (!store.waitForWrites(20000))
        fail("the store could not be seeded");

    link::RecordingChannel channel;
    channel.setDestination(QStringLiteral("127.0.0.1"), 37829);
    link::SteadyClock clock;
    window::FormMain form(channel, store, clock);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        fail("the window was not shown");
    controls::Slider *slider = &form.controls().sldContrast;
    if (!slider->assign(50) || !store.waitForWrites(20000))
        fail("the slider refused 50");
    QCoreApplication::processEvents();

    std::vector<double> times;
    for (long long i = 0; i < steps; ++i) {
        const std::int64_t start = monotonicNs();
        QTest::keyClick(slider, i % 2 == 0 ? Qt::Key_Right : Qt::Key_Left);
        times.push_back(nsToMs(monotonicNs() - start));
    }
    const std::int64_t flushStart = monotonicNs();
    if (!store.waitForWrites(60000))
        fail("the store did not write the steps");
    const double flushMs = nsToMs(monotonicNs() - flushStart);
    if (channel.sent.size() < steps)
        fail("a step sent no contrast command");
    const Summary s = summarize(times);
    std::printf("step %.6f %.6f flush %.3f\n", s.median, s.p99, flushMs);
    return 0;
}

struct StepRun {
    double median = 0, p99 = 0, flushMs = 0;
    long fsyncCalls = -1;
};

StepRun stepRun(const std::string &self, const std::string &dir, long long steps, const std::string &preload)
{
    ScratchDir scratch(std::filesystem::temp_directory_path().string());
    const std::string log = scratch.path() + "/child.txt";
    const std::string counted = scratch.path() + "/fsync-calls.txt";
    std::map<std::string, std::string> environment;
    if (!preload.empty())
        environment = {{"LD_PRELOAD", preload}, {"VELOXA_SLOW_FSYNC_COUNT_FILE", counted}};
    const pid_t pid =
        spawn({self, "--child", "steps", "--dir", dir, "--steps", std::to_string(steps)}, environment, log);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const std::string output = readAll(log);
    StepRun run;
    const auto at = output.rfind("step ");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || at == std::string::npos)
        fail("a contrast run did not finish; its output:\n" + output);
    std::istringstream line(output.substr(at + 5));
    std::string word;
    line >> run.median >> run.p99 >> word >> run.flushMs;
    if (!preload.empty())
        run.fsyncCalls = std::strtol(readAll(counted).c_str(), nullptr, 10);
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
    requireIsolatedLoopback("bench_slow_disk");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::string dir = options.text("dir");
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (options.text("child") == "steps")
        return runSteps(dir, options.number("steps"), argc, argv);

    const std::string self = std::filesystem::canonical("/proc/self/exe").string();
    const std::string preload = options.text("preload");
    const long long runs = options.number("runs");
    std::vector<double> plainSteps, slowSteps, plainFlush, slowFlush, plainStarts, slowStarts;
    std::vector<double> plainP99, slowP99;
    long slowCalls = 0;
    for (long long i = 0; i < runs; ++i) {
        for (const bool slow : {i % 2 == 0, i % 2 != 0}) {
            const StepRun run = stepRun(self, dir, options.number("steps"), slow ? preload : std::string());
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
                std::map<std::string, std::string> environment;
                if (slow)
                    environment = {{"LD_PRELOAD", preload}};
                const StartTime start = timeStart(unit, {options.text("gui")}, "the panel", environment);
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
                + dir);
    report.note("the window's time per step: the key event, the slider's change handling, the hand-over to the store's "
                "writer thread and the send; the writer's time is the second pair of rows");
    return report.finish(options.text("csv-dir")) ? 0 : 1;
}
