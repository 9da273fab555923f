// Slider sweep with the real store: the contrast slider of the real window
// moved 0 -> 99 one step at a time by the keyboard (Home, then Right 99
// times), every step storing the value with the panel's store and sending
// the contrast command on a recording channel. Two figures per sweep: the
// window's time for the 100 steps, and the time until the store has the last
// value on the disk (the steps plus waiting for its writer thread); the goal
// is judged on the second. A sweep is repeated --sweeps times (the slider is
// put back to 80 between sweeps, not timed).
//
// The store file lives in a scratch folder under $HOME/.config (where the
// panel's settings normally are), seeded with the eleven values a panel keeps,
// and removed at the end. Two comparisons run in the same process:
// - floor: the same sweep with a bare QSettings store (a new QSettings object
//   per call, setValue, sync, on the window's thread; none of the checks);
// - the same sweep with a store in memory: the window's own share.
// Where the time goes is measured as well: the time spent in the sync and
// naming calls (timed by defining them here, below), the CPU time in user
// mode and in the kernel (the writer thread's calls count too).

#include "measure.h"
#include "report.h"

#include "core/link/clock.h"
#include "core/link/datagrams.h"
#include "core/link/recording_channel.h"
#include "core/settings/memory_store.h"
#include "core/settings/queued_store.h"
#include "gui/window/form_main.h"
#include "support/store_files.h"

#include <QApplication>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>

using namespace veloxa;
using namespace veloxa::bench;

// Where a sweep's time goes: this program defines fdatasync and fsync, and
// unlink, rename, link and linkat, itself, so the calls Qt (QSaveFile,
// QLockFile) and the store make come here first; each is timed and counted,
// then handed on to the C library's own function.
namespace {
struct CallStats {
    std::atomic<long long> calls{0};
    std::atomic<long long> ns{0};
};
CallStats g_sync; // fdatasync, fsync
CallStats g_unlink; // unlink
CallStats g_rename; // rename
CallStats g_link; // link, linkat

template <typename Function, typename... Args>
int timedCall(CallStats &stats, const char *name, Function *&real, Args... args)
{
    if (!real)
        real = reinterpret_cast<Function *>(dlsym(RTLD_NEXT, name));
    const std::int64_t start = monotonicNs();
    const int result = real ? real(args...) : -1;
    stats.ns += monotonicNs() - start;
    ++stats.calls;
    return result;
}
} // namespace

extern "C" int fdatasync(int fildes)
{
    static int (*real)(int) = nullptr;
    return timedCall(g_sync, "fdatasync", real, fildes);
}

extern "C" int fsync(int fd)
{
    static int (*real)(int) = nullptr;
    return timedCall(g_sync, "fsync", real, fd);
}

extern "C" int unlink(const char *name) noexcept
{
    static int (*real)(const char *) = nullptr;
    return timedCall(g_unlink, "unlink", real, name);
}

// The C library names them old and new; the second is a keyword here.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int rename(const char *from, const char *to) noexcept
{
    static int (*real)(const char *, const char *) = nullptr;
    return timedCall(g_rename, "rename", real, from, to);
}

extern "C" int link(const char *from, const char *to) noexcept
{
    static int (*real)(const char *, const char *) = nullptr;
    return timedCall(g_link, "link", real, from, to);
}

extern "C" int linkat(int fromfd, const char *from, int tofd, const char *to, int flags) noexcept
{
    static int (*real)(int, const char *, int, const char *, int) = nullptr;
    return timedCall(g_link, "linkat", real, fromfd, from, tofd, to, flags);
}

namespace {

constexpr double kGoalRatio = 1.1;
constexpr int kSteps = 100;

const char kUsage[] = "bench_slider [--sweeps N] [--dir DIR] [--only-real yes|no] [--csv-dir DIR]\n"
                      "  N sweeps of the contrast slider 0 -> 99 (default 5), each step stored with the real\n"
                      "  store in a scratch folder made under DIR (default $HOME/.config) and sent.\n"
                      "  --only-real yes leaves out the comparisons (for profiling the real store alone).";

// The least a QSettings-backed store does: one QSettings object per call, no checks.
class BareQSettingsStore final : public settings::SettingsStore {
public:
    explicit BareQSettingsStore(QString path)
        : m_path(std::move(path))
    {
    }
    settings::ReadResult read(const QString &name) const override
    {
        const QVariant v = QSettings(m_path, QSettings::NativeFormat).value(name);
        return {v.isValid(), v.toString()};
    }
    bool write(const QString &name, const QString &text) override
    {
        QSettings s(m_path, QSettings::NativeFormat);
        s.setValue(name, text);
        s.sync();
        return s.status() == QSettings::NoError;
    }

private:
    QString m_path;
};

// The eleven values a panel keeps.
QList<std::pair<QString, QString>> panelValues()
{
    namespace n = settings::names;
    return {{n::Left, QStringLiteral("1500")},           {n::Top, QStringLiteral("1200")},
            {n::IpAddress, QStringLiteral("127.0.0.1")}, {n::Frequency, QStringLiteral("12.34")},
            {n::SystemClock, QStringLiteral("1000")},    {n::Polarity, QStringLiteral("True")},
            {n::DisplayContrast, QStringLiteral("80")},  {n::Gain, QStringLiteral("7")},
            {n::RampRate, QStringLiteral("1")},          {n::RampStep, QStringLiteral("1")},
            {n::RampStopFreq, QStringLiteral("15")}};
}

std::string filesystemType(const std::string &path)
{
    struct statfs fs{};
    if (::statfs(path.c_str(), &fs) != 0)
        return "unknown";
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53: return "ext2/ext3/ext4";
    case 0x01021994: return "tmpfs";
    case 0x58465342: return "xfs";
    case 0x9123683E: return "btrfs";
    case 0x794C7630: return "overlayfs";
    case 0x6969: return "nfs";
    case 0x2FC12FC1: return "zfs";
    default: {
        char hex[32];
        std::snprintf(hex, sizeof hex, "0x%lx", static_cast<unsigned long>(fs.f_type));
        return hex;
    }
    }
}

bool sameFilesystem(const std::string &a, const std::string &b)
{
    struct stat sa{}, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev;
}

struct ThreadTimes {
    std::int64_t userNs = 0, systemNs = 0;
};

ThreadTimes threadTimes()
{
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    const auto ns = [](const timeval &t) {
        return std::int64_t(t.tv_sec) * 1000000000 + std::int64_t(t.tv_usec) * 1000;
    };
    return {ns(usage.ru_utime), ns(usage.ru_stime)};
}

// Time spent in one kind of call over a sweep, and how often it was made.
struct CallShare {
    std::vector<double> ms; // per sweep
    long long calls = 0; // all sweeps
};

class CallWatch {
public:
    explicit CallWatch(const CallStats &stats)
        : m_stats(stats)
        , m_calls(stats.calls)
        , m_ns(stats.ns)
    {
    }
    void addTo(CallShare &share) const
    {
        share.ms.push_back(nsToMs(m_stats.ns - m_ns));
        share.calls += m_stats.calls - m_calls;
    }

private:
    const CallStats &m_stats;
    long long m_calls, m_ns;
};

struct Sweeps {
    std::vector<double> totals; // ms per sweep of 100 steps, in the window
    std::vector<double> onDisk; // ms per sweep until the last value is on the disk
    std::vector<double> steps; // ms per step, all sweeps
    std::vector<double> userMs; // ms per sweep of this thread's CPU time in user mode
    std::vector<double> systemMs; // ms per sweep of this thread's CPU time in the kernel
    CallShare sync, unlink, rename, link;
};

// One sweep of the contrast slider of a new real window using `store`, added
// to `result`; `checkPath`: the store's file, read back afterwards.
void sweep(settings::SettingsStore &store, const QString &checkPath, Sweeps &result)
{
    link::RecordingChannel channel;
    channel.setDestination(QStringLiteral("127.0.0.1"), 37829);
    link::SteadyClock clock;
    window::FormMain form(channel, store, clock);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        fail("the window was not shown");
    controls::Slider *slider = &form.controls().sldContrast;
    if (!slider->assign(80))
        fail("the slider refused 80");
    QCoreApplication::processEvents();
    channel.sent.clear();
    std::int64_t total = 0;
    const ThreadTimes cpuBefore = threadTimes();
    const CallWatch sync(g_sync), unlinks(g_unlink), renames(g_rename), links(g_link);
    for (int step = 0; step < kSteps; ++step) {
        const std::int64_t start = monotonicNs();
        QTest::keyClick(slider, step == 0 ? Qt::Key_Home : Qt::Key_Right);
        const std::int64_t took = monotonicNs() - start;
        total += took;
        result.steps.push_back(nsToMs(took));
    }
    result.totals.push_back(nsToMs(total));
    const std::int64_t waitStart = monotonicNs();
    if (!store.waitForWrites(60000))
        fail("the store did not write the sweep");
    result.onDisk.push_back(nsToMs(total + (monotonicNs() - waitStart)));
    const ThreadTimes cpuAfter = threadTimes();
    result.userMs.push_back(nsToMs(cpuAfter.userNs - cpuBefore.userNs));
    result.systemMs.push_back(nsToMs(cpuAfter.systemNs - cpuBefore.systemNs));
    sync.addTo(result.sync);
    unlinks.addTo(result.unlink);
    renames.addTo(result.rename);
    links.addTo(result.link);
    if (slider->value() != kSteps - 1 || channel.sent.size() != kSteps)
        fail("the sweep did not send one contrast command per step");
    for (int v = 0; v < kSteps; ++v) {
        const auto expected = link::contrastCommand(v);
        if (!expected || channel.sent[v] != *expected)
            fail("contrast command " + std::to_string(v) + " is not the expected one");
    }
    if (!checkPath.isEmpty()
        && QSettings(checkPath, QSettings::NativeFormat).value(settings::names::DisplayContrast).toString()
            != QStringLiteral("99"))
        fail("the store does not hold the last contrast value");
    QCoreApplication::processEvents();
}

// Where the time of a store's sweeps goes, per sweep of 100 steps: waiting
// in the sync calls, in the calls that add and remove names, and the rest
// (the store's and Qt's own work: parsing, checks, lock files' contents, the
// window).
void addBreakdown(Report &report, const std::string &store, const Sweeps &sw)
{
    const double steps = double(sw.steps.size());
    const auto share = [&](const std::string &what, const CallShare &c) {
        report.addSummary(store + ": in " + what + " (" + fixed(double(c.calls) / steps, 1) + " a step)",
                          summarize(c.ms), "ms");
    };
    share("fdatasync/fsync", sw.sync);
    share("unlink", sw.unlink);
    share("rename", sw.rename);
    share("link/linkat", sw.link);
    std::vector<double> rest;
    rest.reserve(sw.totals.size());
    for (std::size_t i = 0; i < sw.totals.size(); ++i)
        rest.push_back(sw.onDisk[i] - sw.sync.ms[i] - sw.unlink.ms[i] - sw.rename.ms[i] - sw.link.ms[i]);
    report.addSummary(store + ": rest of the sweep", summarize(rest), "ms");
    report.addSummary(store + ": CPU time in user mode", summarize(sw.userMs), "ms");
    report.addSummary(store + ": CPU time in the kernel", summarize(sw.systemMs), "ms");
}

bool report(const Sweeps &real, const Sweeps &bare, const Sweeps &memory, bool onlyReal, const std::string &scratch,
            const std::string &csvDir)
{
    const Summary realOnDisk = summarize(real.onDisk);
    const Summary bareTotal = summarize(bare.totals);
    Report report("slider", "contrast slider 0 -> 99, each step stored (real store) and sent");
    report.addSummary("100 steps with the real store, until on the disk", realOnDisk, "ms",
                      "<= " + fixed(kGoalRatio, 1) + " x floor", ratioText(realOnDisk.median, bareTotal.median),
                      verdict(bareTotal.median > 0 && realOnDisk.median <= kGoalRatio * bareTotal.median));
    report.addSummary("100 steps with the real store, in the window", summarize(real.totals), "ms", {},
                      ratioText(summarize(real.totals).median, bareTotal.median));
    report.addSummary("one step with the real store", summarize(real.steps), "ms");
    if (!onlyReal) {
        report.addSummary("floor: 100 steps with bare QSettings", bareTotal, "ms");
        report.addSummary("one step with bare QSettings", summarize(bare.steps), "ms");
        report.addSummary("100 steps with a store in memory", summarize(memory.totals), "ms");
    }
    addBreakdown(report, "real store", real);
    if (!onlyReal)
        addBreakdown(report, "bare QSettings", bare);
    const std::string fs = filesystemType(scratch);
    report.note(
        "store file in " + scratch + " (removed afterwards), file system " + fs + "; "
        + (sameFilesystem(scratch, "/work") ? "the same file system as /work" : "NOT the file system of /work"));
    report.note("'n' of a total = sweeps; the goal is judged on the median time until on the disk; "
                "'x floor' = real / bare QSettings (whose writes are all done in the window)");
    report.note("per store, the calls' times and the rest add up to the sweep's time; the CPU times overlap them "
                "(a call's own CPU counts there too; the rest is mostly other file calls: creating the lock files, "
                "opening, reading, stat)");
    return report.finish(csvDir);
}

} // namespace

int main(int argc, char **argv)
{
    const char *home = std::getenv("HOME");
    const Options options(argc, argv,
                          {{"sweeps", "5"},
                           {"dir", std::string(home ? home : "/tmp") + "/.config"},
                           {"only-real", "no"},
                           {"csv-dir", VELOXA_BENCH_RESULTS}},
                          kUsage);
    requireIsolatedLoopback();
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    const long long sweeps = options.number("sweeps");
    if (sweeps < 1)
        fail("--sweeps must be at least 1");

    const std::string parent = options.text("dir");
    std::error_code error;
    std::filesystem::create_directories(parent, error);
    const QTemporaryDir scratchDir(QString::fromStdString(parent + "/veloxa2-bench-store.XXXXXX"));
    if (!scratchDir.isValid())
        fail("cannot make a scratch folder in " + parent);
    const std::string scratch = scratchDir.path().toStdString();
    const QString realPath = scratchDir.filePath(QStringLiteral("real/KW/Veloxa.conf"));
    const QString barePath = scratchDir.filePath(QStringLiteral("bare/KW/Veloxa.conf"));
    std::filesystem::create_directories(scratch + "/bare/KW");

    settings::QueuedStore realStore(realPath);
    if (!test::seedStore(realStore, panelValues()))
        fail("could not seed the real store");
    BareQSettingsStore bareStore(barePath);
    if (!test::seedStore(bareStore, panelValues()))
        fail("could not seed the bare QSettings store");
    settings::MemoryStore memoryStore;

    // Interleaved, one sweep of each at a time, so all three see the same machine.
    Sweeps real, bare, memory;
    const bool onlyReal = options.text("only-real") == "yes";
    for (long long s = 0; s < sweeps; ++s) {
        sweep(realStore, realPath, real);
        if (onlyReal)
            continue;
        sweep(bareStore, barePath, bare);
        sweep(memoryStore, {}, memory);
    }

    return report(real, bare, memory, onlyReal, scratch, options.text("csv-dir")) ? 0 : 1;
}
