// veloxa2-ctl's command line read without starting the program: the plan each
// line makes (the datagrams, by the panel's own builders, and where they go),
// the one line that refuses a bad one, where the unit is when --host is not
// given, and the help text. tests/system/test_ctl.cpp runs the program.

#include "command_line.h"

#include "core/link/datagrams.h"
#include "core/link/link_log.h"
#include "core/rules/tuning_word.h"
#include "core/settings/store.h"
#include "support/bytes.h"
#include "support/panel_process.h"

#include <QFile>
#include <QScopeGuard>
#include <QTest>

#include <optional>

using namespace veloxa;
using test::hexList;

namespace {

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

// The plan of `commandLine`; fails the test on a refusal.
std::optional<ctl::Plan> planOf(const QString &commandLine)
{
    const ctl::ParseResult result = ctl::parseCommandLine(words(commandLine));
    if (!result.plan)
        qWarning("refused: %s", qPrintable(result.error));
    return result.plan;
}

} // namespace

class TestCtlCommandLine : public QObject {
    Q_OBJECT

private slots:
    void plans_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QList<QByteArray>>("expected");
        QTest::addColumn<QString>("host"); // empty: none given, the store names the unit
        QTest::addColumn<int>("port");
        const auto row = [](const char *name, const char *commandLine, const QList<QByteArray> &expected,
                            const char *host = "", int port = 37829) {
            QTest::newRow(name) << QString::fromLatin1(commandLine) << expected << QString::fromLatin1(host) << port;
        };
        row("freq 12.34 then polarity -", "freq 12.34 --polarity -", {frequency("12.34"), polarity(1)});
        row("freq 12.34 then polarity +", "freq 12.34 --polarity +", {frequency("12.34"), polarity(0)});
        row("polarity -- as the panel writes it", "freq 12.34 --polarity --", {frequency("12.34"), polarity(1)});
        row("freq without polarity", "freq 12.34", {frequency("12.34")});
        row("negative freq sends its magnitude", "freq -12.34 --polarity=+", {frequency("-12.34"), polarity(0)});
        row("freq exactly half the clock", "freq 500", {frequency("500")});
        row("freq minus half the clock", "freq -500", {frequency("-500")});
        row("freq in exponent form", "freq 1e2", {frequency("1e2")});
        row("freq 499.999999", "freq 499.999999", {frequency("499.999999")});
        row("freq at clock 100", "--sysclk=100 freq 50", {frequency("50", "100")});
        row("freq at a fractional clock", "--sysclk 999.5 freq 499.75", {frequency("499.75", "999.5")});
        row("options after the command", "freq 7 --sysclk 800", {frequency("7", "800")});
        row("ramp", "ramp --step 1 --rate 1 --stop 15", {rampStart("1", "1", "15")});
        row("ramp then polarity -", "ramp --step 1 --rate 1 --stop 15 --polarity -",
            {rampStart("1", "1", "15"), polarity(1)});
        row("ramp with the largest words", "ramp --stop -500 --step 4294967295 --rate 65535",
            {rampStart("4294967295", "65535", "-500")});
        row("ramp with zeros at clock 100", "--sysclk 100 ramp --step 0 --rate 0 --stop 50",
            {rampStart("0", "0", "50", "100")});
        row("ramp step in exponent form", "ramp --step=1e3 --rate=2 --stop=0.5", {rampStart("1e3", "2", "0.5")});
        row("ramp-stop", "ramp-stop", {link::rampStopCommand()});
        row("polarity +", "polarity +", {polarity(0)});
        row("polarity -", "polarity -", {polarity(1)});
        row("polarity --", "polarity --", {polarity(1)});
        row("power on", "power on", {link::powerCommand(0)});
        row("power off", "power off", {link::powerCommand(1)});
        row("gain 7", "gain 7", {built(link::gainCommand(7))});
        row("gain 0", "gain 0", {built(link::gainCommand(0))});
        row("contrast 99", "contrast 99", {built(link::contrastCommand(99))});
        row("contrast 0", "contrast 0", {built(link::contrastCommand(0))});
        row("dds-reg", "dds-reg", {link::registerDumpCommand()});
        row("heartbeat", "heartbeat", {link::heartbeatCommand()});
        row("seq clear", "seq clear", {link::sequenceClearCommand()});
        row("seq add-freq", "seq add-freq 12.34", {link::sequenceAdd(frequency("12.34"))});
        row("seq add-freq negative at clock 800", "--sysclk 800 seq add-freq -400",
            {link::sequenceAdd(frequency("-400", "800"))});
        row("seq add-ramp", "seq add-ramp --step 1 --rate 1 --stop 15", {link::sequenceAdd(rampStart("1", "1", "15"))});
        row("seq add-wait", "seq add-wait", {link::sequenceAdd(link::adwinWaitCommand())});
        row("seq execute", "seq execute", {link::sequenceExecuteCommand()});
        row("seq restart", "seq restart", {link::sequenceRestartCommand()});
        row("--host", "--host 127.0.0.41 heartbeat", {link::heartbeatCommand()}, "127.0.0.41");
        row("--port", "--port 1 heartbeat", {link::heartbeatCommand()}, "", 1);
        row("another port", "--port=40129 gain 3", {built(link::gainCommand(3))}, "", 40129);
        row("both, after the command", "heartbeat --port 65535 --host=10.0.0.1", {link::heartbeatCommand()}, "10.0.0.1",
            65535);
    }

    // The datagrams of a command line, in the order they go, and where: to the
    // unit the store names (no --host) on its default port unless told.
    void plans()
    {
        QFETCH(QString, commandLine);
        QFETCH(QList<QByteArray>, expected);
        QFETCH(QString, host);
        QFETCH(int, port);
        const auto plan = planOf(commandLine);
        QVERIFY(plan);
        QVERIFY(plan->action == ctl::Plan::Action::Send);
        QVERIFY(!plan->panel);
        QCOMPARE(hexList(plan->datagrams), hexList(expected));
        QCOMPARE(plan->host ? plan->host->toString() : QString(), host);
        QCOMPARE(int(plan->port), port);
    }

    void refuses_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("named"); // what the one line must name
        QTest::addColumn<bool>("pointsToHelp");
        const auto values = [](std::initializer_list<const char *> commandLines, const char *named) {
            for (const char *commandLine : commandLines)
                QTest::newRow(commandLine) << QString::fromLatin1(commandLine) << QString::fromLatin1(named) << false;
        };
        const auto usage = [](const char *commandLine, const char *named) {
            QTest::newRow(commandLine) << QString::fromLatin1(commandLine) << QString::fromLatin1(named) << true;
        };

        values({"gain 8", "gain -1", "gain 2.5", "gain x"}, "gain");
        values({"contrast -1", "contrast 100"}, "contrast");
        values({"freq 600", "freq -600", "freq 500.001", "--sysclk 500 freq 250.1", "--sysclk 100 freq -51",
                "freq 12abc", "freq inf", "freq 0x10"},
               "freq");
        values({"seq add-freq 600"}, "add-freq");
        values({"--sysclk 99 freq 10", "--sysclk 1001 freq 10", "--sysclk 1GHz heartbeat"}, "--sysclk");
        values({"ramp --step 1 --rate 65536 --stop 15", "ramp --step 1 --rate 1.5 --stop 15"}, "--rate");
        values({"ramp --step -1 --rate 1 --stop 15", "ramp --step 4294967296 --rate 1 --stop 15",
                "ramp --step 12abc --rate 1 --stop 15"},
               "--step");
        values({"ramp --step 1 --rate 1 --stop 501", "ramp --step 1 --rate 1 --stop 12abc",
                "seq add-ramp --step 1 --rate 1 --stop -501"},
               "--stop");
        values({"ramp --step 1 --rate 1 --stop 15 --polarity x"}, "--polarity");
        values({"--host 192.168.1 heartbeat", "--host 256.1.1.1 heartbeat", "--host unit.lab heartbeat"}, "--host");
        values({"--port 0 heartbeat", "--port 65536 heartbeat", "--port 80x heartbeat"}, "--port");
        values({"--listen -1 heartbeat"}, "--listen");
        values({"polarity x"}, "polarity");
        values({"power maybe"}, "power");
        values({"--unit a/b heartbeat", "--unit .. heartbeat", "--panel --unit + get"}, "--unit");
        values({"--mqtt broker:1883 --unit a get", "--mqtt mqtt://me:pw@broker --unit a get"}, "--mqtt");

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
        usage("--mqtt mqtt://lab get", "--unit NAME");
        usage("--mqtt mqtt://lab --unit + get", "--unit +");
        usage("--mqtt mqtt://lab --unit a units", "units");
        usage("--panel units", "units goes with --mqtt");
        usage("--panel --mqtt mqtt://lab --unit a get", "--panel and --mqtt");
        usage("--mqtt mqtt://lab --unit a --host 10.0.0.1 gain 1", "--host");
        usage("--mqtt-credentials c.txt gain 1", "--mqtt-credentials");
    }

    // No plan, and one line that names what was wrong; a mistake in the shape of
    // the line, rather than in a value, points to --help.
    void refuses()
    {
        QFETCH(QString, commandLine);
        QFETCH(QString, named);
        QFETCH(bool, pointsToHelp);
        const ctl::ParseResult result = ctl::parseCommandLine(words(commandLine));
        QVERIFY2(!result.plan, "accepted");
        QVERIFY2(!result.error.contains(QLatin1Char('\n')), qPrintable(result.error));
        QVERIFY2(result.error.contains(named), qPrintable(result.error));
        QCOMPARE(result.error.contains(QLatin1String("veloxa2-ctl --help")), pointsToHelp);
    }

    void dryRunLines_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QStringList>("lines");
        const auto row = [](const char *name, const char *commandLine, const QStringList &lines) {
            QTest::newRow(name) << QString::fromLatin1(commandLine) << lines;
        };
        row("freq with polarity", "--dry-run freq 12.34 --polarity -",
            {"A5 00 D8 B6 28 03 | frequency FTW=52999896 (0x0328B6D8)", "70 01 | polarity --"});
        row("ramp", "ramp --step 1 --rate 1 --stop 15 --dry-run",
            {"AC 00 00 01 00 00 00 00 01 00 00 00 3D 0A D7 03 | ramp-start step=1 rate=1 stopFTW=64424509 "
             "(0x03D70A3D)"});
        row("sequence ramp", "--dry-run seq add-ramp --step 4294967295 --rate 65535 --stop 500",
            {"C1 AC 00 00 FF FF FF FF 00 FF FF 00 00 00 00 00 80 | sequence-add ramp-start step=4294967295 "
             "rate=65535 stopFTW=2147483648 (0x80000000)"});
        row("gain", "--dry-run gain 7", {"67 E0 | gain 7 (byte 0xe0)"});
        row("sequence execute", "--dry-run seq execute", {"C4 00 | sequence-execute"});
    }

    // What --dry-run prints: each planned datagram in hex with what it means.
    void dryRunLines()
    {
        QFETCH(QString, commandLine);
        QFETCH(QStringList, lines);
        const auto plan = planOf(commandLine);
        QVERIFY(plan);
        QVERIFY(plan->dryRun);
        QVERIFY(!plan->listenSeconds);
        QStringList printed;
        for (const link::Datagram &datagram : plan->datagrams)
            printed << link::datagramLine(datagram);
        QCOMPARE(printed, lines);
    }

    void helpAndVersion_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<bool>("help"); // else the version
        QTest::newRow("--help") << "--help" << true;
        QTest::newRow("-h") << "-h" << true;
        QTest::newRow("--help after a bad command") << "gain 8 --help" << true;
        QTest::newRow("--version") << "--version" << false;
        QTest::newRow("--version with a command") << "heartbeat --version" << false;
        QTest::newRow("--help beats --version") << "--version -h" << true;
    }

    // Help and version are answered whatever else the line holds; nothing is sent.
    void helpAndVersion()
    {
        QFETCH(QString, commandLine);
        QFETCH(bool, help);
        const auto plan = planOf(commandLine);
        QVERIFY(plan);
        QVERIFY(plan->action == (help ? ctl::Plan::Action::Help : ctl::Plan::Action::Version));
        QVERIFY(plan->datagrams.isEmpty());
    }

    void helpNamesEverything()
    {
        const QString help = ctl::helpText();
        for (const char *text : {"freq MHZ",         "ramp --step N --rate N --stop MHZ",
                                 "ramp-stop",        "polarity +|-",
                                 "power on|off",     "gain 0..7",
                                 "contrast 0..99",   "dds-reg",
                                 "heartbeat",        "seq clear",
                                 "seq add-freq MHZ", "seq add-ramp --step N --rate N --stop MHZ",
                                 "seq add-wait",     "seq execute",
                                 "seq restart",      "--host H",
                                 "--port P",         "--sysclk MHZ",
                                 "--dry-run",        "--listen SECONDS",
                                 "--verbose",        "--polarity +|-",
                                 "Examples:"})
            QVERIFY2(help.contains(QLatin1String(text)), text);
    }

    void defaultHost_data()
    {
        QTest::addColumn<QString>("storedIp"); // null: nothing stored
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("origin");
        const auto row = [](const char *name, const QString &storedIp, const char *address, const QString &origin) {
            QTest::newRow(name) << storedIp << QString::fromLatin1(address) << origin;
        };
        const QString stored = QStringLiteral("the panel's stored IP Address");
        const QString noQuad = QStringLiteral("the default; the panel's stored IP Address \"%1\" is no dotted quad");
        row("nothing stored", {}, "192.168.1.133", QStringLiteral("the default; the panel has no stored IP Address"));
        row("stored address", QStringLiteral("127.0.0.42"), "127.0.0.42", stored);
        row("stored address with blanks", QStringLiteral("  127.0.0.42\t"), "127.0.0.42", stored);
        row("stored short form is no address", QStringLiteral("127.1"), "192.168.1.133", noQuad.arg(u"127.1"));
        row("stored host name is no address", QStringLiteral("unit.lab"), "192.168.1.133", noQuad.arg(u"unit.lab"));
    }

    // Where the datagrams go without --host: the address the panel stored.
    void defaultHost()
    {
        QFETCH(QString, storedIp);
        QFETCH(QString, address);
        QFETCH(QString, origin);
        // The panel's store in a folder of this test's own while it runs.
        const test::PanelEnvironment environment;
        QVERIFY(environment.config.isValid());
        if (!storedIp.isNull())
            environment.seed({{settings::names::IpAddress, storedIp}});
        const char *const variable = "XDG_CONFIG_HOME";
        const std::optional<QByteArray> saved =
            qEnvironmentVariableIsSet(variable) ? std::optional(qgetenv(variable)) : std::nullopt;
        qputenv(variable, QFile::encodeName(environment.config.path()));
        const auto restore = qScopeGuard([&] { saved ? qputenv(variable, *saved) : qunsetenv(variable); });
        const ctl::DefaultHost host = ctl::defaultHost();
        QCOMPARE(host.address.toString(), address);
        QCOMPARE(host.origin, origin);
        // --unit reads that unit's panel's store, never the default one.
        QCOMPARE(ctl::defaultHost(QStringLiteral("b")).address.toString(), QStringLiteral("192.168.1.133"));
        environment.seed({{settings::names::IpAddress, QStringLiteral("127.0.0.43")}}, QStringLiteral("b"));
        QCOMPARE(ctl::defaultHost(QStringLiteral("b")).address.toString(), QStringLiteral("127.0.0.43"));
    }
};

QTEST_GUILESS_MAIN(TestCtlCommandLine)
#include "test_ctl_command_line.moc"
