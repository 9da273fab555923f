// The simulated unit, run as the built program on 127.0.0.1: it logs every
// datagram it hears and answers its sender on the socket, in time as its
// options say, ends on a signal with its state, and refuses to run with one
// line. What it makes of each datagram and of its options, without a socket,
// is tests/tools/test_unit_state.cpp and test_sim_options.cpp.

#include "core/link/datagrams.h"
#include "support/bytes.h"
#include "support/panel_process.h"
#include "support/unit_sim.h"

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

// One run of the simulator on 127.0.0.1 and a free port.
struct Sim : test::UnitSim {
    quint16 port = freePort();

    // Starts it and waits until it listens.
    bool start(const QStringList &arguments = {})
    {
        return port != 0
            && UnitSim::start(QStringLiteral(VELOXA_SIM_PATH), QStringLiteral("127.0.0.1"), port, arguments,
                              kStartTimeoutMs);
    }
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

    // The answers waiting after waitMs, taken in. The simulator answers
    // before it logs, so once the line of a datagram is seen its answer would
    // already be here; the wait only covers a slow delivery.
    qsizetype answersWithin(int waitMs = 300)
    {
        QTest::qWait(waitMs);
        qsizetype answers = 0;
        while (socket.hasPendingDatagrams() && socket.receiveDatagram().isValid())
            ++answers;
        return answers;
    }
};

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
        panel.send(link::heartbeatCommand(), sim.port);
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
    return panel.answersWithin(200) == 0 ? pattern : QStringLiteral("an answer too many");
}

} // namespace

class TestUnitSim : public QObject {
    Q_OBJECT

private slots:
    void answersItsSender_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("line"); // "%1": the panel's port
        QTest::addColumn<QByteArray>("answer"); // empty: none, to this or to a heartbeat after it
        QTest::newRow("a command") << QStringList() << *link::frequencyCommand(52999896)
                                   << "frequency FTW=52999896 (0x0328B6D8)" << QByteArrayLiteral("ok\xA5");
        // All of a long datagram is read, not the first part of it.
        const QByteArray longDatagram(2000, '\xFF');
        QTest::newRow("a long malformed datagram")
            << QStringList() << longDatagram
            << QStringLiteral("malformed from 127.0.0.1:%1: unknown opcode 0xff [") + hex(longDatagram) + "]"
            << QByteArrayLiteral("no\xFF");
        QTest::newRow("--silent") << QStringList{"--silent"} << QByteArray()
                                  << "malformed from 127.0.0.1:%1: empty datagram []" << QByteArray();
    }

    // One line for each datagram, and the answer goes back to its sender from the
    // simulator's port (--silent: never); it goes on working.
    void answersItsSender()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, datagram);
        QFETCH(QString, line);
        QFETCH(QByteArray, answer);
        Sim sim;
        QVERIFY2(sim.start(arguments), qPrintable(sim.output()));
        Panel panel;

        QVERIFY(panel.send(datagram, sim.port));
        const QString expected = line.contains(QLatin1String("%1")) ? line.arg(panel.port()) : line;
        QVERIFY2(sim.waitForLine(expected), qPrintable(sim.output()));
        if (answer.isEmpty()) {
            QVERIFY2(panel.answersWithin() == 0, "the silent unit answered");
        } else {
            const QNetworkDatagram heard = panel.answer();
            QVERIFY2(heard.isValid(), "no answer");
            QCOMPARE(hex(heard.data()), hex(answer));
            QCOMPARE(heard.senderPort(), int(sim.port));
        }
        QCOMPARE(sim.lines().size(), 2); // the listening line and the datagram's

        QVERIFY(panel.send(link::heartbeatCommand(), sim.port));
        QVERIFY2(sim.waitForLine(QStringLiteral("heartbeat")), qPrintable(sim.output()));
        QCOMPARE(panel.answersWithin(), qsizetype(answer.isEmpty() ? 0 : 1));
        QCOMPARE(sim.lines().size(), 3);
        QCOMPARE(sim.process().state(), QProcess::Running);
    }

    void endsCleanlyOnSignal_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void endsCleanlyOnSignal()
    {
        QFETCH(int, signal);
        Sim sim;
        QVERIFY2(sim.start({QStringLiteral("--state-on-exit")}), qPrintable(sim.output()));
        Panel panel;
        QVERIFY(panel.send(*link::contrastCommand(99), sim.port));
        QVERIFY(sim.waitForLine(QStringLiteral("contrast 99")));

        QCOMPARE(::kill(pid_t(sim.process().processId()), signal), 0);
        QVERIFY(sim.waitForExit());
        QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.process().exitCode(), 0);
        QVERIFY2(sim.lines().last().startsWith(QLatin1String("state: ")), qPrintable(sim.output()));
        QVERIFY2(sim.lines().last().contains(QLatin1String("| contrast 99 |")), qPrintable(sim.output()));
    }

    void silentAfterStopsAnswering()
    {
        Sim sim;
        QVERIFY2(sim.start({QStringLiteral("--silent-after"), QStringLiteral("1")}), qPrintable(sim.output()));
        Panel panel;

        QVERIFY(panel.send(link::heartbeatCommand(), sim.port));
        const QNetworkDatagram early = panel.answer();
        QVERIFY2(early.isValid(), "no answer in the first second");
        QCOMPARE(hex(early.data()), QStringLiteral("6F 6B 7F"));

        QVERIFY2(sim.waitForLine(QStringLiteral("answers stopped after 1000 ms"), 5000), qPrintable(sim.output()));
        QVERIFY(panel.send(link::heartbeatCommand(), sim.port));
        QVERIFY2(sim.waitForLine(QStringLiteral("heartbeat"), kLineTimeoutMs, 2), qPrintable(sim.output()));
        QVERIFY2(panel.answersWithin() == 0, "answered after the silence began");
        QCOMPARE(sim.process().state(), QProcess::Running);
    }

    void dropsAShareOfAnswers_data()
    {
        QTest::addColumn<QStringList>("first");
        QTest::addColumn<QStringList>("second"); // a second run, compared with the first
        QTest::addColumn<QString>("expect");
        const auto row = [](const char *name, const QStringList &first, const QStringList &second, const char *expect) {
            QTest::newRow(name) << first << second << QString::fromLatin1(expect);
        };
        const QStringList seed7{"--drop", "0.5", "--seed", "7"};
        row("--drop 0", {"--drop", "0"}, {}, "none");
        row("--drop 1", {"--drop", "1"}, {}, "all");
        row("the same seed twice", seed7, seed7, "same");
        row("another seed", seed7, {"--drop", "0.5", "--seed", "8"}, "different");
    }
    void dropsAShareOfAnswers()
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

    void delayHoldsAnswersBack_data()
    {
        QTest::addColumn<int>("delayMs");
        QTest::newRow("300 ms") << 300;
        QTest::newRow("1000 ms") << 1000;
    }
    void delayHoldsAnswersBack()
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
            QVERIFY(panel.send(datagram, sim.port));
        }
        // Each comes back in the order sent, and none before its time.
        for (qsizetype i = 0; i < sent.size(); ++i) {
            const QNetworkDatagram answer = panel.answer(delayMs + kLineTimeoutMs);
            QVERIFY2(answer.isValid(), "no answer");
            QVERIFY2(clock.elapsed() - sentAtMs.at(i) >= delayMs, qPrintable(QString::number(clock.elapsed())));
            QCOMPARE(hex(answer.data()), hex(QByteArrayLiteral("ok") + sent.at(i).left(1)));
        }
    }

    void flapAnswersThenPausesThenAnswers()
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
            QVERIFY2(waited.elapsed() < qint64{4} * kLineTimeoutMs, qPrintable(sim.output()));
            QVERIFY(panel.send(link::heartbeatCommand(), sim.port));
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
        QCOMPARE(panel.answersWithin(200), before + after);
    }

    void restartForgetsTheState_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("restarted");
        QTest::addColumn<int>("answers");
        const QString restarted =
            QStringLiteral("restarted after 2000 ms, as after a power cycle: every setting forgotten");
        QTest::newRow("no answer waiting") << QStringList{"--restart-at", "2"} << restarted << 2;
        // The answer to the contrast, due at about 3 s, is lost with the restart;
        // the gain's is due after the look at 3.5 s.
        QTest::newRow("a late answer waiting") << QStringList{"--restart-at", "2", "--delay", "3000"}
                                               << restarted + QStringLiteral(", late answers lost: 1") << 0;
    }

    void restartForgetsTheState()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, restarted);
        QFETCH(int, answers);
        Sim sim;
        QVERIFY2(sim.start(arguments + QStringList{QStringLiteral("--verbose")}), qPrintable(sim.output()));
        Panel panel;
        // The state line that follows a command's line.
        const auto stateAfter = [&](const QByteArray &datagram, const QString &line) {
            if (!panel.send(datagram, sim.port) || !sim.waitForLine(line))
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
        QCOMPARE(panel.answersWithin(1500), answers);
    }

    void refusesToRun_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("holder"); // what holds the port already
        QTest::addColumn<QStringList>("more"); // further arguments
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("says"); // "%1": the port
        const auto row = [](const char *name, const char *address, const char *holder, const QStringList &more,
                            int exitCode,
                            const char *says) { QTest::newRow(name) << address << holder << more << exitCode << says; };
        row("port held by another simulator", "127.0.0.1", "simulator", {}, 1, "cannot bind 127.0.0.1:%1");
        // A socket that lets others share its port must not be joined either:
        // the unit's datagrams would go to only one of the two.
        row("port held by a sharing socket", "127.0.0.1", "sharing socket", {}, 1, "cannot bind 127.0.0.1:%1");
        // Not an address of this machine (documentation range).
        row("foreign address", "192.0.2.1", "", {}, 1, "cannot bind 192.0.2.1:%1");
        // On a free port, so that the option is the only reason not to run.
        row("a bad option", "127.0.0.1", "", {"--drop", "1.5"}, 2,
            "veloxa2-unit-sim: --drop needs a share from 0 to 1, got \"1.5\"");
    }

    // It ends at once with its exit status and one line on stderr, nothing on stdout.
    void refusesToRun()
    {
        QFETCH(QString, address);
        QFETCH(QString, holder);
        QFETCH(QStringList, more);
        QFETCH(int, exitCode);
        QFETCH(QString, says);
        Sim first;
        QUdpSocket sharing;
        quint16 port = 0;
        if (holder == QLatin1String("simulator")) {
            QVERIFY2(first.start(), qPrintable(first.output()));
            port = first.port;
        } else if (holder == QLatin1String("sharing socket")) {
            QVERIFY(sharing.bind(QHostAddress::LocalHost, 0, QAbstractSocket::ShareAddress));
            port = sharing.localPort();
        } else {
            port = freePort();
        }

        const test::ProgramRun run = test::runProgram(
            QStringLiteral(VELOXA_SIM_PATH),
            QStringList{QStringLiteral("--bind"), address, QStringLiteral("--port"), QString::number(port)} + more, {},
            {}, kStartTimeoutMs);
        QVERIFY2(run.finished, qPrintable(run.describe()));
        QCOMPARE(run.exitCode, exitCode); // -1 had it crashed
        QCOMPARE(run.out, QString());
        QVERIFY2(run.err.startsWith(QLatin1String("veloxa2-unit-sim: ")) && run.err.endsWith(QLatin1Char('\n'))
                     && run.err.count(QLatin1Char('\n')) == 1,
                 qPrintable(run.err));
        const QString expected = says.contains(QLatin1String("%1")) ? says.arg(port) : says;
        QVERIFY2(run.err.contains(expected), qPrintable(run.err));
    }
};

QTEST_GUILESS_MAIN(TestUnitSim)
#include "test_unit_sim.moc"
