// The simulated unit, run as the built program on 127.0.0.1: it logs every
// datagram as the command it is, answers its sender, keeps the state the
// commands imply, and survives whatever it is sent.

#include "core/link/datagrams.h"
#include "support/bytes.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QUdpSocket>

#include <memory>
#include <signal.h>
#include <sys/types.h>

using namespace veloxa;
using veloxa::test::bytes;
using veloxa::test::hex;

namespace {

constexpr int kStartTimeoutMs = 15000;
constexpr int kLineTimeoutMs = 10000;

quint16 freePort()
{
    QUdpSocket probe;
    if (!probe.bind(QHostAddress::LocalHost, 0))
        return 0;
    return probe.localPort(); // closed again when probe goes
}

// One run of the simulator. Killed when it goes, however the test ends.
class Sim {
public:
    Sim()
    {
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] { collect(); });
    }
    ~Sim()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    Sim(const Sim &) = delete;
    Sim &operator=(const Sim &) = delete;

    // Starts it on 127.0.0.1 and a free port and waits until it listens.
    bool start(const QStringList &extraArguments = {})
    {
        m_port = freePort();
        if (m_port == 0)
            return false;
        m_process.start(QStringLiteral(VELOXA_SIM_PATH),
                        QStringList{QStringLiteral("--bind"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                                    QString::number(m_port)}
                            + extraArguments);
        if (!m_process.waitForStarted(kStartTimeoutMs))
            return false;
        return waitForLine(QStringLiteral("listening on 127.0.0.1:%1").arg(m_port), kStartTimeoutMs);
    }

    quint16 port() const { return m_port; }
    QProcess &process() { return m_process; }
    const QStringList &lines() const { return m_lines; }

    // Waits until the output holds `line` for the `occurrence`-th time.
    bool waitForLine(const QString &line, int timeoutMs = kLineTimeoutMs, int occurrence = 1)
    {
        return QTest::qWaitFor([&] { return m_lines.count(line) >= occurrence; }, timeoutMs);
    }

    // Waits for the end and collects the last of the output.
    bool waitForExit()
    {
        if (!QTest::qWaitFor([&] { return m_process.state() == QProcess::NotRunning; }, kLineTimeoutMs))
            return false;
        collect();
        return true;
    }

    QString output() const { return m_lines.join(QLatin1Char('\n')); }

private:
    void collect()
    {
        m_partial += m_process.readAllStandardOutput();
        qsizetype end;
        while ((end = m_partial.indexOf('\n')) >= 0) {
            m_lines << QString::fromUtf8(m_partial.left(end));
            m_partial.remove(0, end + 1);
        }
    }

    QProcess m_process;
    quint16 m_port = 0;
    QByteArray m_partial;
    QStringList m_lines;
};

// The panel's side: one socket on 127.0.0.1 that sends and hears answers.
struct Panel {
    QUdpSocket socket;

    Panel() { QVERIFY(socket.bind(QHostAddress::LocalHost, 0)); }
    quint16 port() const { return socket.localPort(); }

    bool send(const QByteArray &datagram, quint16 to)
    {
        return socket.writeDatagram(datagram, QHostAddress::LocalHost, to) == datagram.size();
    }

    // The next answer, or an invalid datagram when none came in time.
    QNetworkDatagram answer(int timeoutMs = kLineTimeoutMs)
    {
        if (!QTest::qWaitFor([this] { return socket.hasPendingDatagrams(); }, timeoutMs))
            return {};
        return socket.receiveDatagram();
    }

    // True when no answer came within the time. The simulator answers before
    // it logs, so once the line of the datagram is seen an answer would already
    // be here; the wait only covers a slow delivery.
    bool quiet(int waitMs = 300)
    {
        QTest::qWait(waitMs);
        return !socket.hasPendingDatagrams();
    }
};

QByteArray ok(const QByteArray &datagram)
{
    return QByteArrayLiteral("ok") + datagram.left(1);
}

// `count` heartbeats, one at a time, to a simulator started with `arguments`:
// '+' for each answered, '-' for each dropped, as its line says; an answer
// that disagrees with the line makes it "disagrees at N".
QString answerPattern(const QStringList &arguments, int count = 32)
{
    Sim sim;
    if (!sim.start(arguments))
        return QStringLiteral("did not start: ") + sim.output();
    Panel panel;
    QString pattern;
    for (int i = 0; i < count; ++i) {
        const qsizetype before = sim.lines().size();
        panel.send(link::heartbeatCommand(), sim.port());
        // The heartbeat's own line: the start-up's option lines may still be coming in.
        if (!QTest::qWaitFor(
                [&] {
                    return sim.lines().size() > before && sim.lines().last().startsWith(QLatin1String("heartbeat"));
                },
                kLineTimeoutMs))
            return QStringLiteral("no line for heartbeat %1").arg(i);
        const bool dropped = sim.lines().last() == QLatin1String("heartbeat (answer dropped)");
        // Sent before the line was written: already here when not dropped.
        if (dropped == panel.socket.hasPendingDatagrams())
            return QStringLiteral("disagrees at %1").arg(i);
        if (!dropped)
            panel.socket.receiveDatagram();
        pattern += dropped ? QLatin1Char('-') : QLatin1Char('+');
    }
    return panel.quiet(200) ? pattern : QStringLiteral("an answer too many");
}

} // namespace

class TestUnitSim : public QObject {
    Q_OBJECT

private slots:
    void logsAndAnswersEveryCommand_data();
    void logsAndAnswersEveryCommand();
    void reportsAndAnswersMalformedDatagrams_data();
    void reportsAndAnswersMalformedDatagrams();
    void keepsTheStateTheCommandsImply();
    void printsStateAfterEachDatagramWhenVerbose();
    void endsCleanlyOnSignal_data();
    void endsCleanlyOnSignal();
    void silentNeverAnswers();
    void silentAfterStopsAnswering();
    void dropsAShareOfAnswers_data();
    void dropsAShareOfAnswers();
    void delayHoldsAnswersBack_data();
    void delayHoldsAnswersBack();
    void flapAnswersThenPausesThenAnswers();
    void restartForgetsTheState_data();
    void restartForgetsTheState();
    void refusesWhatItCannotBind_data();
    void refusesWhatItCannotBind();
    void refusesBadOptions_data();
    void refusesBadOptions();
};

void TestUnitSim::logsAndAnswersEveryCommand_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("line");

    QTest::newRow("frequency") << *link::frequencyCommand(52999896) << "frequency FTW=52999896 (0x0328B6D8)";
    QTest::newRow("frequency, largest word")
        << *link::frequencyCommand(4294967295.0) << "frequency FTW=4294967295 (0xFFFFFFFF)";
    QTest::newRow("ramp start") << *link::rampStartCommand(1, 1, 64424509)
                                << "ramp-start step=1 rate=1 stopFTW=64424509 (0x03D70A3D)";
    QTest::newRow("ramp start, largest fields")
        << *link::rampStartCommand(4294967295.0, 65535, 2147483648.0)
        << "ramp-start step=4294967295 rate=65535 stopFTW=2147483648 (0x80000000)";
    QTest::newRow("ramp stop") << link::rampStopCommand() << "ramp-stop";
    QTest::newRow("register dump") << link::registerDumpCommand() << "register-dump";
    QTest::newRow("heartbeat") << link::heartbeatCommand() << "heartbeat";
    QTest::newRow("power on") << link::powerCommand(0) << "power on";
    QTest::newRow("power off") << link::powerCommand(1) << "power off";
    QTest::newRow("polarity +") << *link::polarityCommand(0) << "polarity +";
    QTest::newRow("polarity --") << *link::polarityCommand(1) << "polarity --";
    QTest::newRow("gain 0") << *link::gainCommand(0) << "gain 0 (byte 0x00)";
    QTest::newRow("gain 7") << *link::gainCommand(7) << "gain 7 (byte 0xe0)";
    QTest::newRow("contrast 80") << *link::contrastCommand(80) << "contrast 80";
    QTest::newRow("sequence clear") << link::sequenceClearCommand() << "sequence-clear";
    QTest::newRow("sequence-add frequency")
        << link::sequenceAdd(*link::frequencyCommand(52999896)) << "sequence-add frequency FTW=52999896 (0x0328B6D8)";
    QTest::newRow("sequence-add ramp") << link::sequenceAdd(*link::rampStartCommand(1, 1, 64424509))
                                       << "sequence-add ramp-start step=1 rate=1 stopFTW=64424509 (0x03D70A3D)";
    QTest::newRow("sequence-add ADwin wait")
        << link::sequenceAdd(link::adwinWaitCommand()) << "sequence-add ADwin-wait";
    QTest::newRow("sequence execute") << link::sequenceExecuteCommand() << "sequence-execute";
    QTest::newRow("sequence restart") << link::sequenceRestartCommand() << "sequence-restart";
}

void TestUnitSim::logsAndAnswersEveryCommand()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QString, line);

    Sim sim;
    QVERIFY2(sim.start(), qPrintable(sim.output()));
    Panel panel;

    QVERIFY(panel.send(datagram, sim.port()));
    QVERIFY2(sim.waitForLine(line), qPrintable(sim.output()));
    const QNetworkDatagram answer = panel.answer();
    QVERIFY2(answer.isValid(), "no answer");
    QCOMPARE(hex(answer.data()), hex(ok(datagram)));
    QCOMPARE(answer.senderPort(), int(sim.port()));

    // One line per datagram: nothing else was logged for it.
    QCOMPARE(sim.lines().size(), 2);
}

void TestUnitSim::reportsAndAnswersMalformedDatagrams_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("why");

    QTest::newRow("empty") << QByteArray() << "empty datagram";
    QTest::newRow("unknown opcode") << bytes("12 34") << "unknown opcode 0x12";
    QTest::newRow("frequency cut short") << bytes("A5 00 D8") << "frequency command needs 6 bytes, got 3";
    QTest::newRow("heartbeat with a tail") << bytes("7F 00") << "heartbeat command needs 1 bytes, got 2";
    QTest::newRow("gain off the steps") << bytes("67 50") << "gain command: byte 0x50 is not a multiple of 0x20";
    QTest::newRow("ADwin wait alone") << bytes("A4") << "ADwin-wait command outside the sequence-add prefix";
    QTest::newRow("bare sequence-add") << bytes("C1") << "sequence-add prefix without a command";
    QTest::newRow("sequence-add heartbeat")
        << bytes("C1 7F") << "sequence-add prefix before opcode 0x7f, which cannot be added";
    QTest::newRow("long datagram") << QByteArray(2000, '\xFF') << "unknown opcode 0xff";
}

void TestUnitSim::reportsAndAnswersMalformedDatagrams()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QString, why);

    Sim sim;
    QVERIFY2(sim.start(), qPrintable(sim.output()));
    Panel panel;

    QVERIFY(panel.send(datagram, sim.port()));
    const QString line =
        QStringLiteral("malformed from 127.0.0.1:%1: %2 [%3]").arg(panel.port()).arg(why, hex(datagram));
    QVERIFY2(sim.waitForLine(line), qPrintable(sim.output()));
    const QNetworkDatagram answer = panel.answer();
    QVERIFY2(answer.isValid(), "no answer");
    QCOMPARE(hex(answer.data()), hex(QByteArrayLiteral("no") + datagram.left(1)));

    // It goes on working.
    QVERIFY(panel.send(link::heartbeatCommand(), sim.port()));
    QVERIFY2(sim.waitForLine(QStringLiteral("heartbeat")), qPrintable(sim.output()));
    QVERIFY(panel.answer().isValid());
    QCOMPARE(sim.process().state(), QProcess::Running);
}

void TestUnitSim::keepsTheStateTheCommandsImply()
{
    Sim sim;
    QVERIFY2(sim.start({QStringLiteral("--state-on-exit")}), qPrintable(sim.output()));
    Panel panel;

    const QList<QByteArray> session{
        *link::frequencyCommand(52999896),
        *link::polarityCommand(1),
        link::powerCommand(1),
        *link::gainCommand(3),
        *link::contrastCommand(42),
        link::sequenceAdd(link::adwinWaitCommand()), // cleared below
        link::sequenceClearCommand(),
        link::sequenceAdd(*link::frequencyCommand(1000)),
        link::sequenceAdd(link::adwinWaitCommand()),
        link::sequenceAdd(*link::rampStartCommand(10, 2, 64424509)),
        link::sequenceExecuteCommand(),
        link::sequenceRestartCommand(),
        link::sequenceRestartCommand(),
        *link::rampStartCommand(5, 7, 2147483648.0),
        link::heartbeatCommand(),
        link::heartbeatCommand(),
        link::registerDumpCommand(),
        bytes("12"),
        // The last of each setting wins.
        *link::frequencyCommand(64424509),
        *link::contrastCommand(80),
    };
    for (const QByteArray &datagram : session) {
        QVERIFY(panel.send(datagram, sim.port()));
        QVERIFY2(panel.answer().isValid(), qPrintable(hex(datagram))); // taken in order, one at a time
    }
    QTRY_COMPARE_WITH_TIMEOUT(sim.lines().size(), 1 + session.size(), kLineTimeoutMs);

    sim.process().terminate();
    QVERIFY(sim.waitForExit());
    QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process().exitCode(), 0);
    QCOMPARE(sim.lines().size(), 1 + session.size() + 1);
    QCOMPARE(
        sim.lines().last(),
        QStringLiteral("state: frequency FTW=64424509 (0x03D70A3D) | polarity -- | power off | gain 3 (byte 0x60) | "
                       "contrast 80 | ramp running step=5 rate=7 stopFTW=2147483648 (0x80000000) | "
                       "sequence 3 [frequency FTW=1000 (0x000003E8), ADwin-wait, "
                       "ramp-start step=10 rate=2 stopFTW=64424509 (0x03D70A3D)] executed 1 restarted 2 | "
                       "heartbeats 2 | register-dumps 1 | malformed 1"));
}

void TestUnitSim::printsStateAfterEachDatagramWhenVerbose()
{
    Sim sim;
    QVERIFY2(sim.start({QStringLiteral("--verbose")}), qPrintable(sim.output()));
    Panel panel;

    struct Step {
        QByteArray datagram;
        QString line;
        QString inState; // a part the state line after it must hold
    };
    const QList<Step> steps{
        {*link::rampStartCommand(1, 1, 64424509),
         QStringLiteral("ramp-start step=1 rate=1 stopFTW=64424509 (0x03D70A3D)"),
         QStringLiteral("| ramp running step=1 rate=1 stopFTW=64424509 (0x03D70A3D) |")},
        {link::rampStopCommand(), QStringLiteral("ramp-stop"),
         QStringLiteral("| ramp stopped step=1 rate=1 stopFTW=64424509 (0x03D70A3D) |")},
        {link::sequenceAdd(link::adwinWaitCommand()), QStringLiteral("sequence-add ADwin-wait"),
         QStringLiteral("| sequence 1 [ADwin-wait] executed 0 restarted 0 |")},
        {link::sequenceClearCommand(), QStringLiteral("sequence-clear"),
         QStringLiteral("| sequence 0 [] executed 0 restarted 0 |")},
        {link::powerCommand(0), QStringLiteral("power on"), QStringLiteral("| power on |")},
    };
    for (const Step &step : steps) {
        const qsizetype before = sim.lines().size();
        QVERIFY(panel.send(step.datagram, sim.port()));
        QTRY_COMPARE_WITH_TIMEOUT(sim.lines().size(), before + 2, kLineTimeoutMs);
        QCOMPARE(sim.lines().at(before), step.line);
        const QString state = sim.lines().at(before + 1);
        QVERIFY2(state.startsWith(QLatin1String("state: ")), qPrintable(state));
        QVERIFY2(state.contains(step.inState), qPrintable(state));
    }
}

void TestUnitSim::endsCleanlyOnSignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestUnitSim::endsCleanlyOnSignal()
{
    QFETCH(int, signal);

    Sim sim;
    QVERIFY2(sim.start({QStringLiteral("--state-on-exit")}), qPrintable(sim.output()));
    Panel panel;
    QVERIFY(panel.send(*link::contrastCommand(99), sim.port()));
    QVERIFY(sim.waitForLine(QStringLiteral("contrast 99")));

    QCOMPARE(::kill(pid_t(sim.process().processId()), signal), 0);
    QVERIFY(sim.waitForExit());
    QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process().exitCode(), 0);
    QVERIFY2(sim.lines().last().startsWith(QLatin1String("state: ")), qPrintable(sim.output()));
    QVERIFY2(sim.lines().last().contains(QLatin1String("| contrast 99 |")), qPrintable(sim.output()));
}

void TestUnitSim::silentNeverAnswers()
{
    Sim sim;
    QVERIFY2(sim.start({QStringLiteral("--silent")}), qPrintable(sim.output()));
    Panel panel;

    QVERIFY(panel.send(link::heartbeatCommand(), sim.port()));
    QVERIFY(panel.send(QByteArray(), sim.port()));
    QVERIFY2(sim.waitForLine(QStringLiteral("heartbeat")), qPrintable(sim.output()));
    QVERIFY2(sim.waitForLine(QStringLiteral("malformed from 127.0.0.1:%1: empty datagram []").arg(panel.port())),
             qPrintable(sim.output()));
    QVERIFY2(panel.quiet(), "the silent unit answered");
}

void TestUnitSim::silentAfterStopsAnswering()
{
    Sim sim;
    QVERIFY2(sim.start({QStringLiteral("--silent-after"), QStringLiteral("1")}), qPrintable(sim.output()));
    Panel panel;

    QVERIFY(panel.send(link::heartbeatCommand(), sim.port()));
    const QNetworkDatagram early = panel.answer();
    QVERIFY2(early.isValid(), "no answer in the first second");
    QCOMPARE(hex(early.data()), QStringLiteral("6F 6B 7F"));

    QVERIFY2(sim.waitForLine(QStringLiteral("answers stopped after 1000 ms"), 5000), qPrintable(sim.output()));
    QVERIFY(panel.send(link::heartbeatCommand(), sim.port()));
    QVERIFY2(sim.waitForLine(QStringLiteral("heartbeat"), kLineTimeoutMs, 2), qPrintable(sim.output()));
    QVERIFY2(panel.quiet(), "answered after the silence began");
    QCOMPARE(sim.process().state(), QProcess::Running);
}

void TestUnitSim::dropsAShareOfAnswers_data()
{
    QTest::addColumn<QStringList>("first");
    QTest::addColumn<QStringList>("second"); // a second run, compared with the first
    QTest::addColumn<QString>("expect");

    QTest::newRow("--drop 0") << QStringList{"--drop", "0"} << QStringList{} << "none";
    QTest::newRow("--drop 1") << QStringList{"--drop", "1"} << QStringList{} << "all";
    QTest::newRow("the same seed twice") << QStringList{"--drop", "0.5", "--seed", "7"}
                                         << QStringList{"--drop", "0.5", "--seed", "7"} << "same";
    QTest::newRow("another seed") << QStringList{"--drop", "0.5", "--seed", "7"}
                                  << QStringList{"--drop", "0.5", "--seed", "8"} << "different";
}

void TestUnitSim::dropsAShareOfAnswers()
{
    QFETCH(QStringList, first);
    QFETCH(QStringList, second);
    QFETCH(QString, expect);

    const QRegularExpression wellFormed(QStringLiteral("^[+-]{32}$"));
    const QString pattern = answerPattern(first);
    QVERIFY2(wellFormed.match(pattern).hasMatch(), qPrintable(pattern));
    if (expect == QLatin1String("none") || expect == QLatin1String("all")) {
        QCOMPARE(pattern, QString(32, expect == QLatin1String("none") ? QLatin1Char('+') : QLatin1Char('-')));
        return;
    }
    QVERIFY2(pattern.contains(QLatin1Char('+')) && pattern.contains(QLatin1Char('-')), qPrintable(pattern));
    const QString again = answerPattern(second);
    QVERIFY2(wellFormed.match(again).hasMatch(), qPrintable(again));
    QCOMPARE(again == pattern, expect == QLatin1String("same"));
}

void TestUnitSim::delayHoldsAnswersBack_data()
{
    QTest::addColumn<int>("delayMs");
    QTest::newRow("300 ms") << 300;
    QTest::newRow("1000 ms") << 1000;
}

void TestUnitSim::delayHoldsAnswersBack()
{
    QFETCH(int, delayMs);

    Sim sim;
    QVERIFY2(sim.start({QStringLiteral("--delay"), QString::number(delayMs)}), qPrintable(sim.output()));
    QVERIFY(sim.waitForLine(QStringLiteral("answering %1 ms late").arg(delayMs)));
    Panel panel;
    const QList<QByteArray> sent{link::heartbeatCommand(), link::registerDumpCommand(), link::rampStopCommand()};
    QElapsedTimer clock;
    clock.start();
    QList<qint64> sentAtMs;
    for (const QByteArray &datagram : sent) {
        sentAtMs << clock.elapsed();
        QVERIFY(panel.send(datagram, sim.port()));
    }
    // Each comes back in the order sent, and none before its time.
    for (qsizetype i = 0; i < sent.size(); ++i) {
        const QNetworkDatagram answer = panel.answer(delayMs + kLineTimeoutMs);
        QVERIFY2(answer.isValid(), "no answer");
        QVERIFY2(clock.elapsed() - sentAtMs.at(i) >= delayMs, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(hex(answer.data()), hex(ok(sent.at(i))));
    }
}

void TestUnitSim::flapAnswersThenPausesThenAnswers()
{
    Sim sim;
    QVERIFY2(sim.start({QStringLiteral("--flap"), QStringLiteral("2:1")}), qPrintable(sim.output()));
    QVERIFY(sim.waitForLine(QStringLiteral("flapping: answering 2000 ms, then silent 1000 ms, over and over")));
    Panel panel;
    const QString resumed = QStringLiteral("answers resumed for 2000 ms");
    const QString pausedLine = QStringLiteral("answers paused for 1000 ms");
    // A heartbeat every 100 ms until a few have been logged after the unit came back.
    QElapsedTimer waited;
    waited.start();
    while (!(sim.lines().contains(resumed) && sim.lines().size() - sim.lines().indexOf(resumed) > 4)) {
        QVERIFY2(waited.elapsed() < 4 * kLineTimeoutMs, qPrintable(sim.output()));
        QVERIFY(panel.send(link::heartbeatCommand(), sim.port()));
        QTest::qWait(100);
    }
    // Heartbeats logged while answering, while silent and while answering again;
    // exactly those logged in the answering phases were answered.
    const qsizetype paused = sim.lines().indexOf(pausedLine);
    const qsizetype back = sim.lines().indexOf(resumed);
    QVERIFY2(paused > 0 && back > paused, qPrintable(sim.output()));
    const qsizetype pausedAgain = sim.lines().indexOf(pausedLine, back);
    const auto heartbeats = [&](qsizetype from, qsizetype to) {
        return sim.lines().mid(from, to - from).count(QStringLiteral("heartbeat"));
    };
    const qsizetype before = heartbeats(0, paused);
    const qsizetype during = heartbeats(paused, back);
    const qsizetype after = heartbeats(back, pausedAgain < 0 ? sim.lines().size() : pausedAgain);
    QVERIFY2(before > 0 && during > 0 && after > 0, qPrintable(sim.output()));
    QTest::qWait(200);
    qsizetype answers = 0;
    while (panel.socket.hasPendingDatagrams() && panel.socket.receiveDatagram().isValid())
        ++answers;
    QCOMPARE(answers, before + after);
}

void TestUnitSim::restartForgetsTheState_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("restarted");
    QTest::addColumn<int>("answers");
    QTest::newRow("no answer waiting") << QStringList{"--restart-at", "2"}
                                       << "restarted after 2000 ms, as after a power cycle: every setting forgotten"
                                       << 2;
    // The answer to the contrast, due at about 3 s, is lost with the restart;
    // the gain's is due after the look at 3.5 s.
    QTest::newRow("a late answer waiting")
        << QStringList{"--restart-at", "2", "--delay", "3000"}
        << "restarted after 2000 ms, as after a power cycle: every setting forgotten, late answers lost: 1" << 0;
}

void TestUnitSim::restartForgetsTheState()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, restarted);
    QFETCH(int, answers);

    Sim sim;
    QVERIFY2(sim.start(arguments + QStringList{QStringLiteral("--verbose")}), qPrintable(sim.output()));
    Panel panel;
    // The state line that follows a command's line.
    const auto stateAfter = [&](const QByteArray &datagram, const QString &line) {
        if (!panel.send(datagram, sim.port()) || !sim.waitForLine(line))
            return QString();
        const qsizetype at = sim.lines().indexOf(line);
        if (!QTest::qWaitFor([&] { return sim.lines().size() > at + 1; }, kLineTimeoutMs))
            return QString();
        return sim.lines().at(at + 1);
    };
    const QString before = stateAfter(*link::contrastCommand(42), QStringLiteral("contrast 42"));
    QVERIFY2(before.contains(QLatin1String("| contrast 42 |")), qPrintable(sim.output()));

    QVERIFY2(sim.waitForLine(restarted), qPrintable(sim.output()));
    const QString after = stateAfter(*link::gainCommand(3), QStringLiteral("gain 3 (byte 0x60)"));
    QVERIFY2(after.contains(QLatin1String("| gain 3 (byte 0x60) | contrast unset |")), qPrintable(sim.output()));
    QTest::qWait(1500);
    int received = 0;
    while (panel.socket.hasPendingDatagrams() && panel.socket.receiveDatagram().isValid())
        ++received;
    QCOMPARE(received, answers);
}

void TestUnitSim::refusesWhatItCannotBind_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("holder"); // what holds the port already

    QTest::newRow("port held by another simulator") << "127.0.0.1" << "simulator";
    // A socket that lets others share its port must not be joined either:
    // the unit's datagrams would go to only one of the two.
    QTest::newRow("port held by a sharing socket") << "127.0.0.1" << "sharing socket";
    // Not an address of this machine (documentation range).
    QTest::newRow("foreign address") << "192.0.2.1" << "";
}

void TestUnitSim::refusesWhatItCannotBind()
{
    QFETCH(QString, address);
    QFETCH(QString, holder);

    Sim first;
    QUdpSocket sharing;
    quint16 port = 0;
    if (holder == QLatin1String("simulator")) {
        QVERIFY2(first.start(), qPrintable(first.output()));
        port = first.port();
    } else if (holder == QLatin1String("sharing socket")) {
        QVERIFY(sharing.bind(QHostAddress::LocalHost, 0, QAbstractSocket::ShareAddress));
        port = sharing.localPort();
    } else {
        port = freePort();
    }

    QProcess process;
    process.start(QStringLiteral(VELOXA_SIM_PATH),
                  {QStringLiteral("--bind"), address, QStringLiteral("--port"), QString::number(port)});
    const bool ended = process.waitForFinished(kStartTimeoutMs);
    if (!ended)
        process.kill();
    QVERIFY2(ended, process.readAllStandardOutput().constData());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    QCOMPARE(process.readAllStandardOutput(), QByteArray());
    const QList<QByteArray> errors = process.readAllStandardError().trimmed().split('\n');
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.first().contains(QStringLiteral("cannot bind %1:%2").arg(address).arg(port).toUtf8()),
             errors.first().constData());
}

void TestUnitSim::refusesBadOptions_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("port too large") << QStringList{"--port", "65536"};
    QTest::newRow("port negative") << QStringList{"--port", "-1"};
    QTest::newRow("port not a number") << QStringList{"--port", "unit"};
    QTest::newRow("short address") << QStringList{"--bind", "127.1"};
    QTest::newRow("host name") << QStringList{"--bind", "localhost"};
    QTest::newRow("negative silence") << QStringList{"--silent-after", "-1"};
    QTest::newRow("silence not a number") << QStringList{"--silent-after", "soon"};
    QTest::newRow("silent twice over") << QStringList{"--silent", "--silent-after", "1"};
    QTest::newRow("unknown option") << QStringList{"--loud"};
    QTest::newRow("flap without OFF") << QStringList{"--flap", "5"};
    QTest::newRow("flap with three parts") << QStringList{"--flap", "5:3:1"};
    QTest::newRow("flap never answering") << QStringList{"--flap", "0:3"};
    QTest::newRow("flap never silent") << QStringList{"--flap", "5:0"};
    QTest::newRow("flap not numbers") << QStringList{"--flap", "on:off"};
    QTest::newRow("flap without a value") << QStringList{"--flap"};
    QTest::newRow("flap and silent") << QStringList{"--flap", "5:3", "--silent"};
    QTest::newRow("flap and silent-after") << QStringList{"--flap", "5:3", "--silent-after", "2"};
    QTest::newRow("drop above 1") << QStringList{"--drop", "1.5"};
    QTest::newRow("drop negative") << QStringList{"--drop", "-0.1"};
    QTest::newRow("drop not a number") << QStringList{"--drop", "nan"};
    QTest::newRow("delay negative") << QStringList{"--delay", "-1"};
    QTest::newRow("delay not whole") << QStringList{"--delay", "1.5"};
    QTest::newRow("delay above an hour") << QStringList{"--delay", "3600001"};
    QTest::newRow("restart negative") << QStringList{"--restart-at", "-1"};
    QTest::newRow("restart not a number") << QStringList{"--restart-at", "later"};
    QTest::newRow("seed negative") << QStringList{"--seed", "-1"};
    QTest::newRow("seed above 32 bits") << QStringList{"--seed", "4294967296"};
}

void TestUnitSim::refusesBadOptions()
{
    QFETCH(QStringList, arguments);

    // A free port, so that a refused option is the only reason not to run.
    QProcess process;
    process.start(QStringLiteral(VELOXA_SIM_PATH),
                  QStringList{QStringLiteral("--port"), QString::number(freePort())} + arguments);
    const bool ended = process.waitForFinished(kStartTimeoutMs);
    if (!ended)
        process.kill();
    QVERIFY2(ended, process.readAllStandardOutput().constData());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 2);
    QCOMPARE(process.readAllStandardOutput(), QByteArray());
    const QByteArray error = process.readAllStandardError();
    QVERIFY2(error.startsWith("veloxa2-unit-sim: ") && error.count('\n') == 1, error.constData());
}

QTEST_GUILESS_MAIN(TestUnitSim)
#include "test_unit_sim.moc"
