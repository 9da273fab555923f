// veloxa2-ctl run as the built program against a socket playing the unit on a
// loopback address of its own: what each command line puts on the wire (the
// panel's own builders say what that must be), what it refuses, and what it
// prints.

#include "core/link/datagrams.h"
#include "core/rules/tuning_word.h"
#include "core/settings/store.h"
#include "gui/ramp/ramp_control.h"
#include "support/bytes.h"
#include "support/panel_process.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <optional>

using namespace veloxa;
using test::hexList;

namespace {

const QHostAddress kUnitAddress(QStringLiteral("127.0.0.41"));
const QHostAddress kStoredUnitAddress(QStringLiteral("127.0.0.42"));
constexpr quint16 kDefaultPort = 37829;
constexpr quint16 kOtherPort = 40129;
constexpr int kRunTimeoutMs = 30000;

struct Run {
    bool finished = false;
    int exitCode = -1;
    QString out;
    QString err;

    QStringList outLines() const { return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

// Runs the tool to its end, with the event loop turning so that a FakeUnit
// can answer while it runs.
Run runCtl(const test::PanelEnvironment &environment, const QStringList &arguments)
{
    QProcess process;
    process.setProcessEnvironment(environment.processEnvironment());
    process.start(QStringLiteral(VELOXA_CTL_PATH), arguments);
    Run run;
    if (!process.waitForStarted(kRunTimeoutMs))
        return run;
    run.finished = QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, kRunTimeoutMs);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(5000);
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QStringList words(const QString &commandLine)
{
    return commandLine.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

QByteArray built(const std::optional<QByteArray> &datagram)
{
    return datagram.value_or(QByteArray()); // an empty datagram is no command and never matches
}

QByteArray frequency(const char *mhz, const char *clock = "1000")
{
    return built(rules::buildFrequencyCommand(QLatin1String(mhz), QLatin1String(clock)));
}

QByteArray rampStart(const char *step, const char *rate, const char *stop, const char *clock = "1000")
{
    return built(rules::buildRampStartCommand(QLatin1String(step), QLatin1String(rate), QLatin1String(stop),
                                              QLatin1String(clock)));
}

QByteArray polarity(int index)
{
    return built(link::polarityCommand(index));
}

} // namespace

class TestCtl : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(QFileInfo(QStringLiteral(VELOXA_CTL_PATH)).isExecutable(), VELOXA_CTL_PATH); }

    void sends_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("storedIp"); // the panel's stored "IP Address"; empty for none
        QTest::addColumn<QHostAddress>("unitAddress");
        QTest::addColumn<int>("unitPort");
        QTest::addColumn<QList<QByteArray>>("expected");

        const QString host = QStringLiteral("--host 127.0.0.41 ");
        const auto row = [&](const char *name, const QString &commandLine, const QList<QByteArray> &expected) {
            QTest::newRow(name) << host + commandLine << QString() << kUnitAddress << int(kDefaultPort) << expected;
        };

        row("freq 12.34 then polarity -", QStringLiteral("freq 12.34 --polarity -"), {frequency("12.34"), polarity(1)});
        row("freq 12.34 then polarity +", QStringLiteral("freq 12.34 --polarity +"), {frequency("12.34"), polarity(0)});
        row("polarity -- as the panel writes it", QStringLiteral("freq 12.34 --polarity --"),
            {frequency("12.34"), polarity(1)});
        row("freq without polarity", QStringLiteral("freq 12.34"), {frequency("12.34")});
        row("negative freq sends its magnitude", QStringLiteral("freq -12.34 --polarity=+"),
            {frequency("-12.34"), polarity(0)});
        row("freq exactly half the clock", QStringLiteral("freq 500"), {frequency("500")});
        row("freq minus half the clock", QStringLiteral("freq -500"), {frequency("-500")});
        row("freq in exponent form", QStringLiteral("freq 1e2"), {frequency("1e2")});
        row("freq 499.999999", QStringLiteral("freq 499.999999"), {frequency("499.999999")});
        row("freq at clock 500", QStringLiteral("--sysclk 500 freq 100"), {frequency("100", "500")});
        row("freq at clock 100", QStringLiteral("--sysclk=100 freq 50"), {frequency("50", "100")});
        row("freq at a fractional clock", QStringLiteral("--sysclk 999.5 freq 499.75"), {frequency("499.75", "999.5")});
        row("options after the command", QStringLiteral("freq 7 --sysclk 800"), {frequency("7", "800")});
        row("ramp", QStringLiteral("ramp --step 1 --rate 1 --stop 15"), {rampStart("1", "1", "15")});
        row("ramp then polarity -", QStringLiteral("ramp --step 1 --rate 1 --stop 15 --polarity -"),
            {rampStart("1", "1", "15"), polarity(1)});
        row("ramp with the largest words", QStringLiteral("ramp --stop -500 --step 4294967295 --rate 65535"),
            {rampStart("4294967295", "65535", "-500")});
        row("ramp with zeros at clock 100", QStringLiteral("--sysclk 100 ramp --step 0 --rate 0 --stop 50"),
            {rampStart("0", "0", "50", "100")});
        row("ramp step in exponent form", QStringLiteral("ramp --step=1e3 --rate=2 --stop=0.5"),
            {rampStart("1e3", "2", "0.5")});
        row("ramp-stop", QStringLiteral("ramp-stop"), {link::rampStopCommand()});
        row("polarity +", QStringLiteral("polarity +"), {polarity(0)});
        row("polarity -", QStringLiteral("polarity -"), {polarity(1)});
        row("polarity --", QStringLiteral("polarity --"), {polarity(1)});
        row("power on", QStringLiteral("power on"), {link::powerCommand(0)});
        row("power off", QStringLiteral("power off"), {link::powerCommand(1)});
        row("gain 7", QStringLiteral("gain 7"), {built(link::gainCommand(7))});
        row("gain 0", QStringLiteral("gain 0"), {built(link::gainCommand(0))});
        row("gain 5", QStringLiteral("gain 5"), {built(link::gainCommand(5))});
        row("contrast 80", QStringLiteral("contrast 80"), {built(link::contrastCommand(80))});
        row("contrast 99", QStringLiteral("contrast 99"), {built(link::contrastCommand(99))});
        row("contrast 0", QStringLiteral("contrast 0"), {built(link::contrastCommand(0))});
        row("dds-reg", QStringLiteral("dds-reg"), {link::registerDumpCommand()});
        row("heartbeat", QStringLiteral("heartbeat"), {link::heartbeatCommand()});
        row("seq clear", QStringLiteral("seq clear"), {link::sequenceClearCommand()});
        row("seq add-freq", QStringLiteral("seq add-freq 12.34"), {link::sequenceAdd(frequency("12.34"))});
        row("seq add-freq negative at clock 800", QStringLiteral("--sysclk 800 seq add-freq -400"),
            {link::sequenceAdd(frequency("-400", "800"))});
        row("seq add-ramp", QStringLiteral("seq add-ramp --step 1 --rate 1 --stop 15"),
            {link::sequenceAdd(rampStart("1", "1", "15"))});
        row("seq add-wait", QStringLiteral("seq add-wait"), {link::sequenceAdd(link::adwinWaitCommand())});
        row("seq execute", QStringLiteral("seq execute"), {link::sequenceExecuteCommand()});
        row("seq restart", QStringLiteral("seq restart"), {link::sequenceRestartCommand()});

        QTest::newRow("another port") << host + QStringLiteral("--port 40129 gain 3") << QString() << kUnitAddress
                                      << int(kOtherPort) << QList<QByteArray>{built(link::gainCommand(3))};
        QTest::newRow("host from the stored IP Address")
            << QStringLiteral("freq 12.34 --polarity -") << QStringLiteral(" 127.0.0.42 ") << kStoredUnitAddress
            << int(kDefaultPort) << QList<QByteArray>{frequency("12.34"), polarity(1)};
        QTest::newRow("--host beats the stored IP Address")
            << host + QStringLiteral("heartbeat") << QStringLiteral("127.0.0.42") << kUnitAddress << int(kDefaultPort)
            << QList<QByteArray>{link::heartbeatCommand()};
    }

    void sends()
    {
        QFETCH(QString, commandLine);
        QFETCH(QString, storedIp);
        QFETCH(QHostAddress, unitAddress);
        QFETCH(int, unitPort);
        QFETCH(QList<QByteArray>, expected);

        test::PanelEnvironment environment;
        if (!storedIp.isEmpty())
            environment.seed({{settings::names::IpAddress, storedIp}});
        test::FakeUnit unit;
        QVERIFY(unit.bind(unitAddress, static_cast<quint16>(unitPort)));

        const Run run = runCtl(environment, words(commandLine));
        QVERIFY(run.finished);
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QString()); // quiet on success
        QTRY_COMPARE(hexList(unit.payloads()), hexList(expected));
    }

    void rejects_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("named"); // what the one line must name
        QTest::addColumn<bool>("pointsToHelp");

        const auto value = [](const char *commandLine, const char *named) {
            QTest::newRow(commandLine) << QString::fromLatin1(commandLine) << QString::fromLatin1(named) << false;
        };
        const auto usage = [](const char *commandLine, const char *named) {
            QTest::newRow(commandLine) << QString::fromLatin1(commandLine) << QString::fromLatin1(named) << true;
        };

        value("gain 8", "gain");
        value("gain -1", "gain");
        value("gain 2.5", "gain");
        value("gain x", "gain");
        value("contrast -1", "contrast");
        value("contrast 100", "contrast");
        value("freq 600", "freq");
        value("freq -600", "freq");
        value("freq 500.001", "freq");
        value("--sysclk 500 freq 250.1", "freq");
        value("--sysclk 100 freq -51", "freq");
        value("freq 12abc", "freq");
        value("freq inf", "freq");
        value("freq 0x10", "freq");
        value("seq add-freq 600", "add-freq");
        value("--sysclk 99 freq 10", "--sysclk");
        value("--sysclk 1001 freq 10", "--sysclk");
        value("--sysclk 1GHz heartbeat", "--sysclk");
        value("ramp --step 1 --rate 65536 --stop 15", "--rate");
        value("ramp --step 1 --rate 1.5 --stop 15", "--rate");
        value("ramp --step -1 --rate 1 --stop 15", "--step");
        value("ramp --step 4294967296 --rate 1 --stop 15", "--step");
        value("ramp --step 12abc --rate 1 --stop 15", "--step");
        value("ramp --step 1 --rate 1 --stop 501", "--stop");
        value("ramp --step 1 --rate 1 --stop 12abc", "--stop");
        value("seq add-ramp --step 1 --rate 1 --stop -501", "--stop");
        value("ramp --step 1 --rate 1 --stop 15 --polarity x", "--polarity");
        value("--host 192.168.1 heartbeat", "--host");
        value("--host 256.1.1.1 heartbeat", "--host");
        value("--host unit.lab heartbeat", "--host");
        value("--port 0 heartbeat", "--port");
        value("--port 65536 heartbeat", "--port");
        value("--port 80x heartbeat", "--port");
        value("--listen -1 heartbeat", "--listen");
        value("polarity x", "polarity");
        value("power maybe", "power");

        usage("ramp --step 1 --rate 1", "--stop");
        usage("freq", "freq");
        usage("gain 7 8", "gain");
        usage("gain 7 --polarity +", "--polarity");
        usage("freq 10 --step 1", "--step");
        usage("--dry-run --listen 1 heartbeat", "--listen");
        usage("--port 1 --port 2 heartbeat", "--port");
        usage("--port", "--port");
        usage("frequency 12", "frequency");
        usage("--frequency 12", "--frequency");
        usage("-x heartbeat", "-x");
        usage("seq", "seq");
        usage("seq add-frequency 10", "add-frequency");
        usage("seq clear now", "now");
        usage("--verbose", "no command");
    }

    // Nothing is sent, and one line says what was wrong. The stored IP Address
    // is the unit's, so a run that sent anyway, wherever, would be seen.
    void rejects()
    {
        QFETCH(QString, commandLine);
        QFETCH(QString, named);
        QFETCH(bool, pointsToHelp);

        test::PanelEnvironment environment;
        environment.seed({{settings::names::IpAddress, kUnitAddress.toString()}});
        test::FakeUnit unit;
        QVERIFY(unit.bind(kUnitAddress));

        const Run run = runCtl(environment, words(commandLine));
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(run.out, QString());
        QVERIFY2(run.err.startsWith(QLatin1String("veloxa2-ctl: ")), qPrintable(run.err));
        QVERIFY2(run.err.endsWith(QLatin1Char('\n')) && run.err.count(QLatin1Char('\n')) == 1, qPrintable(run.err));
        QVERIFY2(run.err.contains(named), qPrintable(run.err));
        QCOMPARE(run.err.contains(QLatin1String("veloxa2-ctl --help")), pointsToHelp);

        // A datagram sent on the loopback is queued for its socket before the
        // send returns, so by now anything sent would be waiting.
        QVERIFY(!unit.socket.hasPendingDatagrams());
        QCOMPARE(hexList(unit.payloads()), QString());
    }

    void dryRun_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QStringList>("lines");

        QTest::newRow("freq with polarity")
            << QStringLiteral("--dry-run freq 12.34 --polarity -")
            << QStringList{QStringLiteral("A5 00 D8 B6 28 03 | frequency FTW=52999896 (0x0328B6D8)"),
                           QStringLiteral("70 01 | polarity --")};
        QTest::newRow("ramp") << QStringLiteral("ramp --step 1 --rate 1 --stop 15 --dry-run")
                              << QStringList{QStringLiteral(
                                     "AC 00 00 01 00 00 00 00 01 00 00 00 3D 0A D7 03 | ramp-start step=1 "
                                     "rate=1 stopFTW=64424509 (0x03D70A3D)")};
        QTest::newRow("sequence ramp")
            << QStringLiteral("--dry-run seq add-ramp --step 4294967295 --rate 65535 --stop 500")
            << QStringList{QStringLiteral("C1 AC 00 00 FF FF FF FF 00 FF FF 00 00 00 00 00 80 | sequence-add "
                                          "ramp-start step=4294967295 rate=65535 stopFTW=2147483648 (0x80000000)")};
        QTest::newRow("gain") << QStringLiteral("--dry-run gain 7")
                              << QStringList{QStringLiteral("67 E0 | gain 7 (byte 0xe0)")};
        QTest::newRow("sequence execute")
            << QStringLiteral("--dry-run seq execute") << QStringList{QStringLiteral("C4 00 | sequence-execute")};
    }

    void dryRun()
    {
        QFETCH(QString, commandLine);
        QFETCH(QStringList, lines);

        test::PanelEnvironment environment;
        test::FakeUnit unit;
        QVERIFY(unit.bind(kUnitAddress));

        const Run run =
            runCtl(environment, QStringList{QStringLiteral("--host"), kUnitAddress.toString()} + words(commandLine));
        QVERIFY(run.finished);
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.outLines(), lines);
        QVERIFY(!unit.socket.hasPendingDatagrams());
        QCOMPARE(hexList(unit.payloads()), QString());
    }

    // Where a send would fail, a dry run still succeeds: it does not try.
    void dryRunSendsNothingAnywhere()
    {
        if (!test::isolatedNetwork())
            QSKIP("needs a network namespace with the loopback as its only interface");
        test::PanelEnvironment environment;
        const Run run = runCtl(environment, words(QStringLiteral("--host 10.9.9.9 --dry-run heartbeat")));
        QVERIFY(run.finished);
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.outLines(), QStringList{QStringLiteral("7F | heartbeat")});
    }

    void destination_data()
    {
        QTest::addColumn<QString>("storedIp");
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("destination");

        QTest::newRow("nothing stored") << QString() << QStringLiteral("heartbeat")
                                        << QStringLiteral("192.168.1.133:37829");
        QTest::newRow("stored address") << QStringLiteral("127.0.0.42") << QStringLiteral("heartbeat")
                                        << QStringLiteral("127.0.0.42:37829");
        QTest::newRow("stored address with blanks")
            << QStringLiteral("  127.0.0.42\t") << QStringLiteral("heartbeat") << QStringLiteral("127.0.0.42:37829");
        QTest::newRow("stored short form is no address")
            << QStringLiteral("127.1") << QStringLiteral("heartbeat") << QStringLiteral("192.168.1.133:37829");
        QTest::newRow("stored host name is no address")
            << QStringLiteral("unit.lab") << QStringLiteral("heartbeat") << QStringLiteral("192.168.1.133:37829");
        QTest::newRow("--host beats the store")
            << QStringLiteral("127.0.0.42") << QStringLiteral("--host 127.0.0.41 heartbeat")
            << QStringLiteral("127.0.0.41:37829");
        QTest::newRow("--port") << QString() << QStringLiteral("--port 1 heartbeat")
                                << QStringLiteral("192.168.1.133:1");
    }

    // Checked with --dry-run --verbose, which names the destination and sends
    // nothing: the default address is a real unit's.
    void destination()
    {
        QFETCH(QString, storedIp);
        QFETCH(QString, commandLine);
        QFETCH(QString, destination);

        test::PanelEnvironment environment;
        if (!storedIp.isNull())
            environment.seed({{settings::names::IpAddress, storedIp}});
        const Run run = runCtl(
            environment, QStringList{QStringLiteral("--dry-run"), QStringLiteral("--verbose")} + words(commandLine));
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, 0);
        const QStringList lines = run.outLines();
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines.at(0).startsWith(QStringLiteral("destination %1 (").arg(destination)), qPrintable(lines.at(0)));
        QCOMPARE(lines.at(1), QStringLiteral("7F | heartbeat"));
    }

    void verboseSend()
    {
        test::PanelEnvironment environment;
        test::FakeUnit unit;
        QVERIFY(unit.bind(kUnitAddress));
        const Run run = runCtl(environment, words(QStringLiteral("--host 127.0.0.41 --verbose polarity -")));
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.outLines(),
                 (QStringList{QStringLiteral("destination 127.0.0.41:37829 (--host)"),
                              QStringLiteral("sent to 127.0.0.41:37829: 70 01 | polarity --")}));
        QTRY_COMPARE(hexList(unit.payloads()), QStringLiteral("70 01"));
    }

    void listenReportsAnswers()
    {
        test::PanelEnvironment environment;
        test::FakeUnit unit;
        QVERIFY(unit.bind(kUnitAddress));
        // The unit answers every datagram at once, twice: some bytes, then nothing.
        QObject::connect(&unit.socket, &QUdpSocket::readyRead, &unit.socket, [&unit] {
            unit.answer(QByteArray("ok\xA5"));
            unit.answer(QByteArray());
        });

        const Run run = runCtl(environment, words(QStringLiteral("--host 127.0.0.41 --listen 3 freq 12.34")));
        QVERIFY(run.finished);
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.outLines(),
                 (QStringList{QStringLiteral("arrived from 127.0.0.41:37829, 3 bytes: 6F 6B A5"),
                              QStringLiteral("arrived from 127.0.0.41:37829, 0 bytes")}));
        QCOMPARE(hexList(unit.payloads()), hexList({frequency("12.34")}));
    }

    // The one test here about time: --listen waits as long as it is told.
    void listenWaitsItsTime()
    {
        test::PanelEnvironment environment;
        test::FakeUnit unit; // never answers
        QVERIFY(unit.bind(kUnitAddress));
        QElapsedTimer elapsed;
        elapsed.start();
        const Run run = runCtl(environment, words(QStringLiteral("--host 127.0.0.41 --listen 1 heartbeat")));
        QVERIFY(run.finished);
        QVERIFY2(elapsed.elapsed() >= 950, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QString());
        QTRY_COMPARE(hexList(unit.payloads()), QStringLiteral("7F"));
    }

    void failedSend()
    {
        if (!test::isolatedNetwork())
            QSKIP("needs a network namespace with the loopback as its only interface");
        test::PanelEnvironment environment;
        // No route leads to 10.9.9.9 in the namespace: the system refuses the datagram.
        const Run run = runCtl(environment, words(QStringLiteral("--host 10.9.9.9 freq 12.34 --polarity +")));
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, QString());
        QVERIFY2(run.err.startsWith(QLatin1String("veloxa2-ctl: ")) && run.err.count(QLatin1Char('\n')) == 1,
                 qPrintable(run.err));
        QVERIFY2(run.err.contains(QLatin1String("10.9.9.9:37829")), qPrintable(run.err));
        QVERIFY2(run.err.contains(QLatin1String("A5 00 D8 B6 28 03")), qPrintable(run.err));
    }

    void helpNamesEverything()
    {
        test::PanelEnvironment environment;
        const Run run = runCtl(environment, {QStringLiteral("--help")});
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err, QString());
        const QStringList expected{
            QStringLiteral("freq MHZ"),         QStringLiteral("ramp --step N --rate N --stop MHZ"),
            QStringLiteral("ramp-stop"),        QStringLiteral("polarity +|-"),
            QStringLiteral("power on|off"),     QStringLiteral("gain 0..7"),
            QStringLiteral("contrast 0..99"),   QStringLiteral("dds-reg"),
            QStringLiteral("heartbeat"),        QStringLiteral("seq clear"),
            QStringLiteral("seq add-freq MHZ"), QStringLiteral("seq add-ramp --step N --rate N --stop MHZ"),
            QStringLiteral("seq add-wait"),     QStringLiteral("seq execute"),
            QStringLiteral("seq restart"),      QStringLiteral("--host H"),
            QStringLiteral("--port P"),         QStringLiteral("--sysclk MHZ"),
            QStringLiteral("--dry-run"),        QStringLiteral("--listen SECONDS"),
            QStringLiteral("--verbose"),        QStringLiteral("--polarity +|-"),
            QStringLiteral("Examples:"),
        };
        for (const QString &text : expected)
            QVERIFY2(run.out.contains(text), qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(TestCtl)
#include "test_ctl.moc"
