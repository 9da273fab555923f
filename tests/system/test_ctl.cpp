// veloxa2-ctl run as the built program against a socket playing the unit on a
// loopback address of its own: that its plan goes on the wire to the right
// place, what it prints and its exit status. What each command line plans or
// refuses is tests/tools/test_ctl_command_line.cpp, with the datagrams built
// by the panel's own builders; here they are the bytes on the wire.

#include "app/version.h"
#include "core/settings/store.h"
#include "support/bytes.h"
#include "support/panel_process.h"

#include <QElapsedTimer>
#include <QTest>

using namespace veloxa;
using test::hexList;
using test::ProgramRun;

namespace {

const QHostAddress kUnitAddress(QStringLiteral("127.0.0.41"));
const QHostAddress kStoredUnitAddress(QStringLiteral("127.0.0.42"));

// Runs the tool to its end in `environment`.
ProgramRun runCtl(const test::PanelEnvironment &environment, const QString &commandLine)
{
    return test::runProgram(QStringLiteral(VELOXA_CTL_PATH), commandLine.split(QLatin1Char(' '), Qt::SkipEmptyParts),
                            environment.processEnvironment());
}

} // namespace

class TestCtl : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(QFileInfo(QStringLiteral(VELOXA_CTL_PATH)).isExecutable(), VELOXA_CTL_PATH); }

    void sendsAndPrints_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("storedIp"); // the panel's stored "IP Address"; empty for none
        QTest::addColumn<int>("unitPort"); // where the socket playing the unit listens on 127.0.0.41
        QTest::addColumn<bool>("answers"); // each datagram twice at once: some bytes, then nothing
        QTest::addColumn<QStringList>("printed"); // nothing unless asked: quiet on success
        QTest::addColumn<QString>("received"); // by the unit, in hex
        const auto row = [](const char *name, const char *commandLine, const QString &storedIp, int unitPort,
                            bool answers, const QStringList &printed, const char *received) {
            QTest::newRow(name) << QString::fromLatin1(commandLine) << storedIp << unitPort << answers << printed
                                << QString::fromLatin1(received);
        };
        const char *both = "A5 00 D8 B6 28 03 | 70 01";
        row("two datagrams to --host", "--host 127.0.0.41 freq 12.34 --polarity -", {}, 37829, false, {}, both);
        row("to the stored IP Address", "freq 12.34 --polarity -", " 127.0.0.41 ", 37829, false, {}, both);
        row("--host beats the stored IP Address", "--host 127.0.0.41 freq 12.34 --polarity -", "127.0.0.42", 37829,
            false, {}, both);
        row("--dry-run", "--host 127.0.0.41 --dry-run freq 12.34 --polarity -", {}, 37829, false,
            {"A5 00 D8 B6 28 03 | frequency FTW=52999896 (0x0328B6D8)", "70 01 | polarity --"}, "");
        // Where a send would fail, a dry run still succeeds: it does not try.
        row("--dry-run with no route", "--host 10.9.9.9 --dry-run heartbeat", {}, 37829, false, {"7F | heartbeat"}, "");
        // The destination line names the port as well; the datagram goes there.
        row("--verbose", "--host 127.0.0.41 --port 40129 --verbose polarity -", {}, 40129, false,
            {"destination 127.0.0.41:40129 (--host)", "sent to 127.0.0.41:40129: 70 01 | polarity --"}, "70 01");
        row("--listen", "--host 127.0.0.41 --listen 3 freq 12.34", {}, 37829, true,
            {"arrived from 127.0.0.41:37829, 3 bytes: 6F 6B A5", "arrived from 127.0.0.41:37829, 0 bytes"},
            "A5 00 D8 B6 28 03");
    }

    // The plan goes to the unit, in its order, and never to a stored address
    // --host beats; what it prints on stdout.
    void sendsAndPrints()
    {
        QFETCH(QString, commandLine);
        QFETCH(QString, storedIp);
        QFETCH(int, unitPort);
        QFETCH(bool, answers);
        QFETCH(QStringList, printed);
        QFETCH(QString, received);
        // No route leads to 10.9.9.9 in the namespace.
        if (commandLine.contains(QLatin1String("10.9.9.9")) && !test::isolatedNetwork())
            QSKIP("needs a network namespace with the loopback as its only interface");
        test::PanelEnvironment environment;
        if (!storedIp.isEmpty())
            environment.seed({{settings::names::IpAddress, storedIp}});
        test::FakeUnit unit;
        QVERIFY(unit.bind(kUnitAddress, quint16(unitPort)));
        test::FakeUnit stored; // where the stored address points when --host beats it
        QVERIFY(stored.bind(kStoredUnitAddress));
        if (answers)
            QObject::connect(&unit.socket, &QUdpSocket::readyRead, &unit.socket, [&unit] {
                unit.answer(QByteArray("ok\xA5"));
                unit.answer(QByteArray());
            });

        const ProgramRun run = runCtl(environment, commandLine);
        QVERIFY(run.finished);
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, printed.isEmpty() ? QString() : printed.join(u'\n') + u'\n');
        QTRY_COMPARE(hexList(unit.payloads()), received);
        QVERIFY(!unit.socket.hasPendingDatagrams());
        QCOMPARE(hexList(stored.payloads()), QString());
    }

    // The one test here about time: --listen waits as long as it is told.
    void listenWaitsItsTime()
    {
        test::PanelEnvironment environment;
        test::FakeUnit unit; // never answers
        QVERIFY(unit.bind(kUnitAddress));
        QElapsedTimer elapsed;
        elapsed.start();
        const ProgramRun run = runCtl(environment, QStringLiteral("--host 127.0.0.41 --listen 1 heartbeat"));
        QVERIFY(run.finished);
        QVERIFY2(elapsed.elapsed() >= 950, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QString());
        QTRY_COMPARE(hexList(unit.payloads()), QStringLiteral("7F"));
    }

    void fails_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("says"); // what the one line on stderr holds
        QTest::newRow("refused command line") << "gain 8" << 2 << QStringList{"veloxa2-ctl: gain: 8 is outside 0..7"};
        // No route leads to 10.9.9.9 in the namespace: the system refuses the datagram.
        QTest::newRow("failed send") << "--host 10.9.9.9 freq 12.34 --polarity +" << 1
                                     << QStringList{"veloxa2-ctl: ", "10.9.9.9:37829", "A5 00 D8 B6 28 03"};
    }

    // Nothing is sent, and one line after the program's name says what was
    // wrong. The stored IP Address is the unit's, so a run that sent there
    // would be seen.
    void fails()
    {
        QFETCH(QString, commandLine);
        QFETCH(int, exitCode);
        QFETCH(QStringList, says);
        if (commandLine.contains(QLatin1String("10.9.9.9")) && !test::isolatedNetwork())
            QSKIP("needs a network namespace with the loopback as its only interface");
        test::PanelEnvironment environment;
        environment.seed({{settings::names::IpAddress, kUnitAddress.toString()}});
        test::FakeUnit unit;
        QVERIFY(unit.bind(kUnitAddress));

        const ProgramRun run = runCtl(environment, commandLine);
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.out, QString());
        QVERIFY2(run.err.startsWith(says.constFirst()) && run.err.count(QLatin1Char('\n')) == 1
                     && run.err.endsWith(QLatin1Char('\n')),
                 qPrintable(run.err));
        for (const QString &part : std::as_const(says))
            QVERIFY2(run.err.contains(part), qPrintable(run.err));
        // A datagram sent on the loopback is queued for its socket before the
        // send returns, so by now anything sent would be waiting.
        QVERIFY(!unit.socket.hasPendingDatagrams());
        QCOMPARE(hexList(unit.payloads()), QString());
    }

    void helpAndVersion_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("starts"); // how stdout starts
        QTest::addColumn<int>("lines"); // of stdout
        QTest::newRow("--help") << "--help" << "Usage: veloxa2-ctl [OPTIONS] COMMAND [ARGS]\n" << 0;
        QTest::newRow("--version") << "--version"
                                   << QStringLiteral("veloxa2-ctl %1\n").arg(QLatin1String(app::kVersionText)) << 1;
    }

    // Printed on stdout, exit status 0; the help text is the library's.
    void helpAndVersion()
    {
        QFETCH(QString, argument);
        QFETCH(QString, starts);
        QFETCH(int, lines);
        test::PanelEnvironment environment;
        const ProgramRun run = runCtl(environment, argument);
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err, QString());
        QVERIFY2(run.out.startsWith(starts), qPrintable(run.out));
        if (lines > 0)
            QCOMPARE(run.outLines().size(), lines);
        else
            QVERIFY2(run.out.contains(QLatin1String("\nExamples:\n")), qPrintable(run.out));
    }
};

QTEST_GUILESS_MAIN(TestCtl)
#include "test_ctl.moc"
