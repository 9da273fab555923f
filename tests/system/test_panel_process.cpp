// The built panel, run as a user runs it: what reaches the unit, what the
// store holds after a polite stop, and that a second copy leaves no trace.
// Runs inside the test command's isolated network namespace; the unit is a
// socket on a loopback address of each test's own.

#include "support/bytes.h"
#include "support/panel_process.h"
#include "support/watchdog.h"

#include "app/version.h"

#include <QDir>
#include <QFileInfo>

#include <csignal>

using namespace veloxa;
using namespace veloxa::test;

class TestPanelProcess : public QObject {
    Q_OBJECT

private:
    // The unit answers: contrast and gain again.
    static void answeredThenResynced(FakeUnit &unit)
    {
        unit.answer();
        QTRY_VERIFY_WITH_TIMEOUT(
            unit.payloads().contains(bytes("67 E0")) && unit.payloads().lastIndexOf(bytes("67 E0")) > 1, 10000);
        const QList<QByteArray> all = unit.payloads();
        const qsizetype resync = all.lastIndexOf(bytes("63 50"));
        QVERIFY(resync > 1);
        QCOMPARE(hex(all.at(resync + 1)), QStringLiteral("67 E0"));
    }

    // The stored values, given as name, value, name, value...; "*": any but none.
    static void storedAre(const PanelEnvironment &environment, const QStringList &namesAndValues)
    {
        QCOMPARE(namesAndValues.size() % 2, 0);
        for (qsizetype i = 0; i < namesAndValues.size(); i += 2) {
            const QString stored = environment.stored(namesAndValues.at(i));
            const QString &expected = namesAndValues.at(i + 1);
            QVERIFY2(expected == QLatin1String("*") ? !stored.isEmpty() : stored == expected,
                     qPrintable(namesAndValues.at(i) + QStringLiteral(": ") + stored));
        }
    }

private slots:
    // The panel's own options are read once Qt has taken its own; help,
    // version and a wrong option end it before any window, lock, store
    // access or datagram.
    void optionsBeforeAnything_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("platform"); // QT_QPA_PLATFORM
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out"); // contained in stdout
        QTest::addColumn<QString>("err"); // contained in stderr's one line, or no stderr at all
        const QString version = QStringLiteral("veloxa2-gui %1\n").arg(QLatin1String(app::kVersionText));
        QTest::newRow("--help") << QStringList{"--help"} << "offscreen" << 0 << "--control" << "";
        QTest::newRow("-h, no display") << QStringList{"-h"} << "xcb" << 0 << "--version" << "";
        QTest::newRow("--version") << QStringList{"--version"} << "offscreen" << 0 << version << "";
        QTest::newRow("Qt's -platform, then ours")
            << QStringList{"-platform", "offscreen", "--version"} << "no-such-platform" << 0 << version << "";
        QTest::newRow("Qt's --help-all is not ours")
            << QStringList{"--help-all"} << "offscreen" << 2 << "" << "'help-all'";
        QTest::newRow("mistyped") << QStringList{"--contorl"} << "offscreen" << 2 << "" << "'contorl'";
        QTest::newRow("value where none is taken")
            << QStringList{"--control=yes"} << "offscreen" << 2 << "" << "'--control'";
        QTest::newRow("stray argument") << QStringList{"--control", "stray"} << "offscreen" << 2 << "" << "'stray'";
        QTest::newRow("unit name with a slash")
            << QStringList{"--unit", "a/b"} << "offscreen" << 2 << "" << "no unit name";
        QTest::newRow("unit name too long")
            << QStringList{"--unit", QString(65, QLatin1Char('u'))} << "offscreen" << 2 << "" << "no unit name";
        QTest::newRow("broker options without --mqtt")
            << QStringList{"--mqtt-commands"} << "offscreen" << 2 << "" << "--mqtt-commands goes with --mqtt";
        QTest::newRow("no broker URL") << QStringList{"--mqtt", "broker:1883"} << "offscreen" << 2 << ""
                                       << "is no broker URL";
        QTest::newRow("password in the URL") << QStringList{"--mqtt", "mqtt://me:pw@broker"} << "offscreen" << 2 << ""
                                             << "--mqtt-credentials FILE";
    }
    void optionsBeforeAnything()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, platform);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        PanelEnvironment environment;
        environment.seed({{"IP Address", "127.0.0.27"}});
        const QByteArray storeBefore = environment.storeBytes();
        FakeUnit unit;
        QVERIFY(unit.bind(QHostAddress(QStringLiteral("127.0.0.27"))));

        QProcessEnvironment variables = environment.processEnvironment();
        variables.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        variables.remove(QStringLiteral("DISPLAY"));
        const ProgramRun run = runProgram(QStringLiteral(VELOXA_GUI_PATH), arguments, variables, {}, 15000);

        QCOMPARE(run.exitCode, exitCode); // -1 had it crashed or hung
        QVERIFY2(run.out.contains(out), qPrintable(run.out));
        if (err.isEmpty()) {
            QCOMPARE(run.err, QString());
        } else {
            QCOMPARE(run.out, QString());
            QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
            QVERIFY2(run.err.startsWith(QLatin1String("veloxa2-gui: ")) && run.err.contains(err), qPrintable(run.err));
        }
        QVERIFY(!unit.socket.hasPendingDatagrams());
        QCOMPARE(environment.storeBytes(), storeBefore);
        QCOMPARE(QDir(environment.runtime.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    }

    void politeStopKeepsSettings_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("unitAddress");
        QTest::newRow("SIGTERM") << int(SIGTERM) << "127.0.0.21";
        QTest::newRow("SIGINT") << int(SIGINT) << "127.0.0.22";
        QTest::newRow("SIGHUP") << int(SIGHUP) << "127.0.0.23";
    }
    void politeStopKeepsSettings()
    {
        QFETCH(int, signal);
        QFETCH(QString, unitAddress);
        PanelEnvironment environment;
        environment.seed({{"IP Address", unitAddress}, {"Frequency", "20.5"}, {"Polarity", "False"}});
        FakeUnit unit;
        QVERIFY(unit.bind(QHostAddress(unitAddress)));

        QProcess panel;
        environment.start(panel, QStringLiteral(VELOXA_GUI_PATH));
        QTRY_VERIFY_WITH_TIMEOUT(unit.received.size() >= 2, 15000);
        QCOMPARE(hexList(unit.payloads().mid(0, 2)), QStringLiteral("63 50 | 67 E0"));

        ::kill(static_cast<pid_t>(panel.processId()), signal);
        QVERIFY(panel.waitForFinished(10000));
        QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(panel.exitCode(), 0);

        storedAre(environment,
                  {"Left", "*", "Top", "*", "IP Address", unitAddress, "Frequency", "20.5", "System Clock", "1000",
                   "Polarity", "False", "Display Contrast", "80", "Gain (CP current)", "7"});
    }

    void secondCopyLeavesNoTrace()
    {
        PanelEnvironment environment;
        environment.seed({{"IP Address", "127.0.0.24"}});
        FakeUnit unit;
        QVERIFY(unit.bind(QHostAddress(QStringLiteral("127.0.0.24"))));

        QProcess first;
        environment.start(first, QStringLiteral(VELOXA_GUI_PATH));
        QTRY_VERIFY_WITH_TIMEOUT(unit.received.size() >= 2, 15000);
        const quint16 firstPort = static_cast<quint16>(unit.received.first().senderPort());
        // The first copy's start-up writes reach the file after its datagrams.
        QTRY_COMPARE_WITH_TIMEOUT(environment.stored("Gain (CP current)"), QStringLiteral("7"), 15000);
        const QByteArray storeBefore = environment.storeBytes();
        const QDateTime modifiedBefore = QFileInfo(environment.storePath()).lastModified();

        // A second copy started beside it ends of its own accord.
        const ProgramRun second =
            runProgram(QStringLiteral(VELOXA_GUI_PATH), {}, environment.processEnvironment(), {}, 10000);
        QVERIFY2(second.exitCode == 0, qPrintable(second.describe()));
        QVERIFY(first.state() == QProcess::Running);

        // Whatever the unit hears comes from the first copy alone.
        QTest::qWait(300);
        for (const QNetworkDatagram &datagram : std::as_const(unit.received))
            QCOMPARE(static_cast<quint16>(datagram.senderPort()), firstPort);
        QCOMPARE(environment.storeBytes(), storeBefore);
        QCOMPARE(QFileInfo(environment.storePath()).lastModified(), modifiedBefore);

        stopPolitely(first);
    }

    // The first start of a new installation, against the unit's real address,
    // which exists only inside the test's own network namespace.
    void firstStartAtTheDefaultAddress()
    {
        const QHostAddress unitAddress(QStringLiteral("192.168.1.133"));
        if (!isolatedNetwork() || !hasLocalAddress(unitAddress))
            QSKIP("needs an isolated network namespace with 192.168.1.133 on lo (scripts/test sets one up)");

        PanelEnvironment environment;
        FakeUnit unit;
        QVERIFY(unit.bind(unitAddress));
        QProcess panel;
        environment.start(panel, QStringLiteral(VELOXA_GUI_PATH));

        // Contrast and gain first, then the heartbeat once a second.
        QTRY_VERIFY_WITH_TIMEOUT(unit.received.size() >= 4, 15000);
        QCOMPARE(hexList(unit.payloads().mid(0, 4)), QStringLiteral("63 50 | 67 E0 | 7F | 7F"));

        answeredThenResynced(unit);
        if (QTest::currentTestFailed())
            return;
        QVERIFY2(heartbeatStall(unit).isEmpty(), qPrintable(heartbeatStall(unit)));

        stopPolitely(panel);
        QCOMPARE(panel.exitCode(), 0);
        storedAre(environment,
                  {"IP Address", "192.168.1.133", "Frequency", "12.34", "System Clock", "1000", "Polarity", "True",
                   "Display Contrast", "80", "Gain (CP current)", "7", "Left", "*", "Top", "*"});
    }

    void seededStoreSendsOnlyContrastAndGain()
    {
        PanelEnvironment environment;
        environment.seed({{"IP Address", "127.0.0.26"},
                          {"Frequency", "20"},
                          {"System Clock", "500"},
                          {"Polarity", "False"},
                          {"Display Contrast", "42"},
                          {"Gain (CP current)", "2"},
                          {"Ramp Rate", "65536"},
                          {"Ramp Step", "1e3"},
                          {"Ramp Stop Freq", "-30"}});
        FakeUnit unit;
        QVERIFY(unit.bind(QHostAddress(QStringLiteral("127.0.0.26"))));
        QProcess panel;
        environment.start(panel, QStringLiteral(VELOXA_GUI_PATH));
        QTRY_VERIFY_WITH_TIMEOUT(unit.received.size() >= 3, 15000);
        const QList<QByteArray> all = unit.payloads();
        QCOMPARE(hexList(all.mid(0, 2)), QStringLiteral("63 2A | 67 40"));
        for (const QByteArray &later : all.mid(2))
            QCOMPARE(hex(later), QStringLiteral("7F"));

        storedAre(environment,
                  {"Ramp Rate", "65535", "Ramp Step", "1000", "Ramp Stop Freq", "-30", "Display Contrast", "42",
                   "Gain (CP current)", "2"});
        stopPolitely(panel);
        storedAre(environment, {"Frequency", "20", "System Clock", "500", "Polarity", "False"});
    }
};

QTEST_GUILESS_MAIN(TestPanelProcess)
#include "test_panel_process.moc"
