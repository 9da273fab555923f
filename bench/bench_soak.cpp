// Soak: the built panel for --soak-minutes (default 10) against
// veloxa2-unit-sim on 127.0.0.1:37829 run with --flap (default 20:5: it
// answers 20 s, is silent 5 s, over and over), while a driver changes the
// frequency every few seconds through the panel's control endpoint.
//
// The panel starts with fresh settings holding only "IP Address" = 127.0.0.1
// on the offscreen platform, with --control. Every line of the simulator is
// stamped (steady clock) when this program reads it from its pipe:
//   - heartbeat gaps: between consecutive "heartbeat" lines;
//   - link re-syncs: a "contrast" line followed by a "gain" line (the panel
//     re-sends contrast, then gain, when the unit is heard again after it was
//     shown lost); the first such pair is start-up's. A re-sync counts for a
//     return of the unit (the start, each "answers resumed") when it comes
//     within kResyncWindow of it, else it came at another time. The driver
//     never touches the sliders, so nothing else sends these commands.
// After --warmup-seconds (default 60) the panel's VmRSS (/proc/<pid>/status),
// its open descriptors (/proc/<pid>/fd) and its CPU time (/proc/<pid>/stat)
// are read every --sample-seconds (default 10).
//
// The driver talks JSON-RPC 2.0 to the endpoint at
// $XDG_RUNTIME_DIR/veloxa2-gui/control with veloxa2-ctl's client: "set"
// txtFreq, then "click" cmdUpdateFreq. When it cannot connect the soak runs
// without it and the report says so.

#include "measure.h"
#include "report.h"

#include "panel_client.h"
#include "support/panel_process.h"
#include "support/unit_sim.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <map>
#include <set>

using namespace veloxa;
using namespace veloxa::bench;

namespace {

constexpr std::uint16_t kUnitPort = 37829;
constexpr double kGoalGapSeconds = 1.1;
constexpr long kGoalGrowthKiB = 512;
// A return's re-sync comes with the answer to the first heartbeat after it:
// within a heartbeat period, with room for a late tick.
constexpr qint64 kResyncWindowMs = 2500;
// How long the driver's last answers may take once the soak is over.
constexpr int kAnswerGraceMs = 1000;

const char kUsage[] = "bench_soak [--soak-minutes N] [--flap ON:OFF] [--warmup-seconds N] [--sample-seconds N]\n"
                      "           [--drive-seconds N] [--gui PATH] [--sim PATH] [--csv-dir DIR]\n"
                      "  The panel runs N minutes (default 10) against veloxa2-unit-sim --flap ON:OFF (default 20:5)\n"
                      "  on 127.0.0.1:37829 while a driver changes the frequency every few seconds.";

// Changes the frequency through the endpoint. The requests go without
// waiting for their answers; those the event loop has taken in are read
// before each step and at the end.
class ControlDriver {
public:
    bool connectTo(const test::PanelEnvironment &environment, int waitMs)
    {
        return environment.openEndpoint(m_panel, waitMs);
    }

    // One change: a frequency into the box, then the Update button.
    void step()
    {
        readAnswers();
        static const char *const frequencies[] = {"12.5", "20", "7.25", "33.125", "0.5"};
        const QString frequency = QString::fromLatin1(frequencies[m_steps++ % std::size(frequencies)]);
        send(QStringLiteral("set"), {{"name", "txtFreq"}, {"value", frequency}});
        send(QStringLiteral("click"), {{"name", "cmdUpdateFreq"}});
    }

    void readAnswers()
    {
        while (const auto answer = m_panel.nextMessage(0)) {
            m_waiting.erase(answer->value("id").toInt());
            if (answer->contains("result") && answer->value("jsonrpc") == "2.0")
                ++m_results;
            else
                noteError(QString::fromUtf8(QJsonDocument(*answer).toJson(QJsonDocument::Compact)));
        }
    }

    bool connected() const { return m_panel.isOpen(); }
    int requests() const { return m_requests; }
    int results() const { return m_results; }
    int errors() const { return m_errors; }
    int unanswered() const { return int(m_waiting.size()); }
    QString firstError() const { return m_firstError; }

private:
    void send(const QString &method, const QJsonObject &params)
    {
        m_waiting.insert(m_panel.send(method, params));
        ++m_requests;
    }

    void noteError(const QString &what)
    {
        if (m_errors++ == 0)
            m_firstError = what;
    }

    ctl::PanelConnection m_panel;
    std::set<int> m_waiting; // ids of the requests not answered yet
    int m_requests = 0;
    std::size_t m_steps = 0;
    int m_results = 0;
    int m_errors = 0;
    QString m_firstError;
};

// What the simulator logged, each line stamped in ms of the soak's clock.
struct UnitLog {
    std::vector<qint64> heartbeats, returns, resyncs;
    qint64 contrastAt = -1; // a contrast line waiting for its gain line
    long frequencies = 0, malformed = 0, lines = 0, pairs = 0;
    bool listening = false;

    void take(const QString &line, qint64 atMs)
    {
        ++lines;
        if (line.startsWith(QLatin1String("listening on")))
            listening = true;
        else if (line == QLatin1String("heartbeat"))
            heartbeats.push_back(atMs);
        else if (line.startsWith(QLatin1String("answers resumed")))
            returns.push_back(atMs);
        else if (line.startsWith(QLatin1String("frequency ")))
            ++frequencies;
        else if (line.startsWith(QLatin1String("malformed")))
            ++malformed;
        if (line.startsWith(QLatin1String("gain ")) && contrastAt >= 0 && pairs++ > 0) // the first pair: start-up
            resyncs.push_back(contrastAt);
        contrastAt = line.startsWith(QLatin1String("contrast ")) ? atMs : -1;
    }
};

struct Sample {
    qint64 atMs = 0;
    qint64 rssKiB = 0;
    std::vector<std::string> files; // what the open descriptors lead to
    double cpu = 0;
    long fds() const { return long(files.size()); }
};

// Descriptors open in `more` but not in `fewer`, as "target, target".
std::string extraFiles(const Sample &more, const Sample &fewer)
{
    std::vector<std::string> extra;
    std::set_difference(more.files.begin(), more.files.end(), fewer.files.begin(), fewer.files.end(),
                        std::back_inserter(extra));
    std::string text;
    for (const std::string &file : extra)
        text += (text.empty() ? "" : ", ") + file;
    return text;
}

struct ResyncFigures {
    int returnsSeen = 0; // returns far enough from the end for their re-sync to be due
    int returnsWithOne = 0;
    int atOtherTimes = 0;
    std::vector<double> delaysS; // return -> its re-sync
};

ResyncFigures matchResyncs(const UnitLog &log, qint64 endMs)
{
    std::vector<qint64> returns{0}; // the unit answers from the start
    returns.insert(returns.end(), log.returns.begin(), log.returns.end());
    ResyncFigures f;
    std::map<std::size_t, int> perReturn;
    for (const qint64 at : log.resyncs) {
        const auto after = std::upper_bound(returns.begin(), returns.end(), at);
        const auto i = std::size_t(after - returns.begin()) - 1;
        if (at - returns[i] <= kResyncWindowMs) {
            ++perReturn[i];
            f.delaysS.push_back(double(at - returns[i]) / 1000.0);
        } else {
            ++f.atOtherTimes;
        }
    }
    for (std::size_t i = 0; i < returns.size(); ++i) {
        if (endMs - returns[i] < kResyncWindowMs)
            continue;
        ++f.returnsSeen;
        f.returnsWithOne += perReturn[i] == 1 ? 1 : 0;
    }
    return f;
}

struct Soak {
    long long minutes = 10, warmupSeconds = 60, sampleSeconds = 10;
    std::string flap;
    UnitLog log;
    std::vector<Sample> samples;
    ControlDriver driver;
    bool driving = false;
    qint64 endMs = 0;
};

void report(const Soak &soak, const std::string &csvDir, bool panelEndedCleanly)
{
    const UnitLog &log = soak.log;
    std::vector<double> gaps;
    for (std::size_t i = 1; i < log.heartbeats.size(); ++i)
        gaps.push_back(double(log.heartbeats[i] - log.heartbeats[i - 1]) / 1000.0);
    const Summary gap = summarize(gaps);
    const ResyncFigures r = matchResyncs(log, soak.endMs);
    const Sample &first = soak.samples.front();
    const Sample &last = soak.samples.back();
    qint64 maxRss = 0;
    const Sample *fewest = &first;
    const Sample *most = &first;
    for (const Sample &s : soak.samples) {
        maxRss = std::max(maxRss, s.rssKiB);
        fewest = s.fds() < fewest->fds() ? &s : fewest;
        most = s.fds() > most->fds() ? &s : most;
    }
    const long minFds = fewest->fds();
    const long maxFds = most->fds();
    const double measuredS = double(last.atMs - first.atMs) / 1000.0;
    const double cpuPerHour = measuredS > 0 ? (last.cpu - first.cpu) * 3600.0 / measuredS : 0;
    const qint64 growth = last.rssKiB - first.rssKiB;

    Report rep("soak",
               "the panel " + std::to_string(soak.minutes) + " min against veloxa2-unit-sim --flap " + soak.flap
                   + " on 127.0.0.1:37829");
    rep.addSummary("heartbeat gap at the unit", gap, "s", "max <= 1.1 s", {},
                   verdict(!gaps.empty() && gap.max <= kGoalGapSeconds));
    rep.addValue("returns of the unit (start included)", double(r.returnsSeen), "returns");
    rep.addValue("link re-syncs at the unit", double(log.resyncs.size()), "re-syncs", "one per return",
                 ratioText(double(log.resyncs.size()), double(r.returnsSeen)),
                 verdict(r.returnsWithOne == r.returnsSeen && r.atOtherTimes == 0));
    rep.addValue("returns with exactly one re-sync", double(r.returnsWithOne), "returns");
    rep.addValue("re-syncs at other times", double(r.atOtherTimes), "re-syncs", "0", {}, verdict(r.atOtherTimes == 0));
    if (!r.delaysS.empty())
        rep.addSummary("return -> re-sync", summarize(r.delaysS), "s");
    rep.addValue("VmRSS growth after warm-up (last - first sample)", double(growth), "KiB", "<= 512 KiB", {},
                 verdict(growth <= kGoalGrowthKiB));
    rep.addValue("VmRSS peak over the first sample", double(maxRss - first.rssKiB), "KiB");
    rep.addValue("VmRSS after warm-up", double(first.rssKiB), "KiB");
    rep.addValue("open descriptors (fewest)", double(minFds), "fds");
    rep.addValue("open descriptors (most)", double(maxFds), "fds", "constant", {}, verdict(minFds == maxFds));
    rep.addValue("panel CPU per hour (utime+stime)", cpuPerHour, "s/h");
    rep.addValue("frequency datagrams the unit logged", double(log.frequencies), "datagrams");
    rep.note("lines stamped when bench_soak read them from the simulator's pipe (steady clock); "
             + std::to_string(log.lines) + " lines, " + std::to_string(log.malformed) + " malformed");
    rep.note("samples every " + std::to_string(soak.sampleSeconds) + " s from " + std::to_string(soak.warmupSeconds)
             + " s after start: " + std::to_string(soak.samples.size()) + " samples over " + fixed(measuredS, 0)
             + " s");
    if (maxFds != minFds)
        rep.note("descriptors open at " + fixed(double(most->atMs) / 1000.0, 0) + " s but not at "
                 + fixed(double(fewest->atMs) / 1000.0, 0) + " s: " + extraFiles(*most, *fewest));
    rep.note("descriptors at the last sample: " + std::to_string(last.fds())
             + ", at the first: " + std::to_string(first.fds()));
    if (soak.driving) {
        rep.note("driver: " + std::to_string(soak.driver.requests()) + " requests, "
                 + std::to_string(soak.driver.results()) + " results, " + std::to_string(soak.driver.errors())
                 + " errors, " + std::to_string(soak.driver.unanswered())
                 + " unanswered at the end (a second after the last step)");
        if (soak.driver.errors() > 0)
            rep.note("driver: first error: " + soak.driver.firstError().toStdString());
    } else {
        rep.note("driver: no control endpoint at $XDG_RUNTIME_DIR/veloxa2-gui/control: ran without the driver");
    }
    if (!panelEndedCleanly)
        rep.note("the panel did not end with exit status 0 after SIGTERM");
    if (!rep.finish(csvDir))
        std::exit(1);
}

// Drives and samples the panel until the soak is over; false when the panel
// ended before.
bool runSoak(Soak &soak, const test::UnitSim &sim, test::PanelProcess &panel, long long driveSeconds)
{
    QTimer drive;
    QObject::connect(&drive, &QTimer::timeout, [&] {
        if (soak.driver.connected())
            soak.driver.step();
    });
    soak.driving = soak.driver.connectTo(panel.environment, 5000);
    std::printf("bench_soak: %d min, unit --flap %s, driver %s\n", int(soak.minutes), soak.flap.c_str(),
                soak.driving ? "connected" : "absent (no control endpoint)");
    std::fflush(stdout);
    if (soak.driving)
        drive.start(std::chrono::seconds(driveSeconds));

    QTimer sample;
    bool panelEnded = false;
    const auto takeSample = [&] {
        if (!test::stillRunning(panel.process)) {
            panelEnded = true;
            QCoreApplication::quit();
            return;
        }
        const qint64 pid = panel.pid();
        soak.samples.push_back({sim.clock().elapsed(), test::statusKiB(pid, "VmRSS"), openFiles(pid), cpuSeconds(pid)});
    };
    QObject::connect(&sample, &QTimer::timeout, takeSample);
    QTimer::singleShot(std::chrono::seconds(soak.warmupSeconds), [&] {
        sample.start(std::chrono::seconds(soak.sampleSeconds));
        takeSample();
    });
    QTimer::singleShot(std::chrono::minutes(soak.minutes), [&] {
        drive.stop();
        takeSample();
        soak.endMs = sim.clock().elapsed();
        QTimer::singleShot(std::chrono::milliseconds(kAnswerGraceMs), [] { QCoreApplication::quit(); });
    });
    QCoreApplication::exec();
    drive.stop();
    sample.stop();
    soak.driver.readAnswers();
    return !panelEnded;
}

} // namespace

int main(int argc, char **argv)
{
    const Options options(argc, argv,
                          {{"soak-minutes", "10"},
                           {"flap", "20:5"},
                           {"warmup-seconds", "60"},
                           {"sample-seconds", "10"},
                           {"drive-seconds", "3"},
                           {"gui", VELOXA_GUI_PATH},
                           {"sim", VELOXA_SIM_PATH},
                           {"csv-dir", VELOXA_BENCH_RESULTS}},
                          kUsage);
    requireIsolatedLoopback();
    Soak soak;
    soak.minutes = options.number("soak-minutes");
    soak.warmupSeconds = options.number("warmup-seconds");
    soak.sampleSeconds = std::max(1LL, options.number("sample-seconds"));
    soak.flap = options.text("flap");
    const long long driveSeconds = std::max(1LL, options.number("drive-seconds"));
    if (soak.minutes < 1)
        fail("--soak-minutes must be at least 1");
    if (soak.warmupSeconds + 2 * soak.sampleSeconds > soak.minutes * 60)
        fail("the warm-up leaves no room for two samples");

    QCoreApplication application(argc, argv);
    // Its lines are stamped on its clock, which runs from its start: the flap
    // phases run from about then.
    test::UnitSim sim;
    if (!sim.start(QString::fromStdString(options.text("sim")), QStringLiteral("127.0.0.1"), kUnitPort,
                   {QStringLiteral("--flap"), QString::fromStdString(soak.flap)}))
        fail("veloxa2-unit-sim did not start listening on 127.0.0.1:37829");

    test::PanelProcess panel;
    panel.environment.seed({{QStringLiteral("IP Address"), QStringLiteral("127.0.0.1")}});
    panel.environment.start(panel.process, QString::fromStdString(options.text("gui")), {QStringLiteral("--control")},
                            panel.environment.config.filePath(QStringLiteral("panel.txt")));

    const bool panelRan = runSoak(soak, sim, panel, driveSeconds);
    for (qsizetype i = 0; i < sim.lines().size(); ++i)
        soak.log.take(sim.lines().at(i), sim.lineMs().at(i));
    test::stopPolitely(panel.process);
    const bool panelEndedCleanly = panel.process.exitStatus() == QProcess::NormalExit && panel.process.exitCode() == 0;
    test::stopPolitely(sim.process());
    if (!panelRan)
        fail("the panel ended during the soak");
    report(soak, options.text("csv-dir"), panelEndedCleanly);
    return 0;
}
