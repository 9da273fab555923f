// The simulator's command line read without starting it: what each option
// sets, and the one line that refuses a bad one. tests/system/test_unit_sim.cpp
// checks that the program ends on such a line with exit status 2.

#include "sim_options.h"

#include <QTest>

#include <algorithm>
#include <variant>

using namespace veloxa;

namespace {

sim::ParsedArguments parsed(const QStringList &arguments)
{
    return sim::parseArguments(QStringList{QStringLiteral("veloxa2-unit-sim")} + arguments);
}

QString milliseconds(const std::optional<std::chrono::milliseconds> &time)
{
    return time ? QString::number(time->count()) : QStringLiteral("-");
}

// Every field but the seed, one line, so that a failed comparison reads well.
QString shown(const sim::SimArguments &arguments)
{
    const sim::SimOptions &o = arguments.options;
    const QString flap =
        o.flap ? QStringLiteral("%1:%2").arg(o.flap->on.count()).arg(o.flap->off.count()) : QStringLiteral("-");
    return QStringLiteral("bind %1, port %2, window %3, flap %4, drop %5, delay %6, restart %7, verbose %8, state %9")
        .arg(o.address.toString())
        .arg(o.port)
        .arg(milliseconds(o.answerWindow), flap, QString::number(o.dropShare))
        .arg(o.delay.count())
        .arg(milliseconds(o.restartAt))
        .arg(int(o.verbose))
        .arg(int(arguments.stateOnExit));
}

} // namespace

class TestSimOptions : public QObject {
    Q_OBJECT

private slots:
    void reads_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("options"); // as shown()
        QTest::addColumn<qint64>("seed"); // -1: drawn, not compared
        // Each row names the fields that differ from what nothing given reads as.
        const auto row = [](const char *name, const QStringList &arguments, const QStringList &changed,
                            qint64 seed = -1) {
            QStringList fields = QStringLiteral("bind 127.0.0.1, port 37829, window -, flap -, drop 0, delay 0, "
                                                "restart -, verbose 0, state 0")
                                     .split(QStringLiteral(", "));
            for (const QString &field : changed) {
                const auto named = [&](const QString &shownField) {
                    return shownField.section(QLatin1Char(' '), 0, 0) == field.section(QLatin1Char(' '), 0, 0);
                };
                const auto at = std::find_if(fields.begin(), fields.end(), named);
                if (at == fields.end())
                    qFatal("no field like %s", qPrintable(field)); // a misspelt row would expect the defaults
                *at = field;
            }
            QTest::newRow(name) << arguments << fields.join(QStringLiteral(", ")) << seed;
        };
        row("nothing given", {}, {});
        row("any port on every address", {"--bind", "0.0.0.0", "--port", "0"}, {"bind 0.0.0.0", "port 0"});
        row("IPv6 and the last port", {"--bind=::1", "--port=65535"}, {"bind ::1", "port 65535"});
        row("silent", {"--silent"}, {"window 0"});
        row("silent after 1.5 s", {"--silent-after", "1.5"}, {"window 1500"});
        row("flap", {"--flap", "20:5"}, {"flap 20000:5000"});
        row("flap of a millisecond each", {"--flap", "0.001:0.001"}, {"flap 1:1"});
        row("drop with a seed", {"--drop", "0.25", "--seed", "7"}, {"drop 0.25"}, 7);
        row("drop all, the largest seed", {"--drop", "1", "--seed", "4294967295"}, {"drop 1"}, 4294967295);
        row("the longest delay", {"--delay", "3600000"}, {"delay 3600000"});
        row("restart", {"--restart-at", "2"}, {"restart 2000"});
        row("verbose, state on exit", {"--verbose", "--state-on-exit"}, {"verbose 1", "state 1"});
    }
    void reads()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, options);
        QFETCH(qint64, seed);
        const sim::ParsedArguments result = parsed(arguments);
        if (const auto *error = std::get_if<sim::UsageError>(&result))
            QFAIL(qPrintable(error->message));
        const auto *read = std::get_if<sim::SimArguments>(&result);
        QVERIFY(read);
        QCOMPARE(shown(*read), options);
        if (seed >= 0)
            QCOMPARE(qint64(read->options.seed), seed);
    }

    void refuses_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("named"); // the option the line must name
        const auto row = [](const char *name, const QStringList &arguments, const char *named) {
            QTest::newRow(name) << arguments << QString::fromLatin1(named);
        };
        row("port too large", {"--port", "65536"}, "port");
        row("port negative", {"--port", "-1"}, "port");
        row("port not a number", {"--port", "unit"}, "port");
        row("short address", {"--bind", "127.1"}, "bind");
        row("host name", {"--bind", "localhost"}, "bind");
        row("negative silence", {"--silent-after", "-1"}, "silent-after");
        row("silence not a number", {"--silent-after", "soon"}, "silent-after");
        row("silent twice over", {"--silent", "--silent-after", "1"}, "silent-after");
        row("unknown option", {"--loud"}, "loud");
        row("an argument besides options", {"loud"}, "loud");
        row("flap without OFF", {"--flap", "5"}, "flap");
        row("flap with three parts", {"--flap", "5:3:1"}, "flap");
        row("flap never answering", {"--flap", "0:3"}, "flap");
        row("flap never silent", {"--flap", "5:0"}, "flap");
        row("flap not numbers", {"--flap", "on:off"}, "flap");
        row("flap without a value", {"--flap"}, "flap");
        row("flap and silent", {"--flap", "5:3", "--silent"}, "flap");
        row("flap and silent-after", {"--flap", "5:3", "--silent-after", "2"}, "flap");
        row("drop above 1", {"--drop", "1.5"}, "drop");
        row("drop negative", {"--drop", "-0.1"}, "drop");
        row("drop not a number", {"--drop", "nan"}, "drop");
        row("delay negative", {"--delay", "-1"}, "delay");
        row("delay not whole", {"--delay", "1.5"}, "delay");
        row("delay above an hour", {"--delay", "3600001"}, "delay");
        row("restart negative", {"--restart-at", "-1"}, "restart-at");
        row("restart not a number", {"--restart-at", "later"}, "restart-at");
        row("seed negative", {"--seed", "-1"}, "seed");
        row("seed above 32 bits", {"--seed", "4294967296"}, "seed");
    }

    // One line that names what is wrong; the program prints it after its name.
    void refuses()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, named);
        const sim::ParsedArguments result = parsed(arguments);
        const auto *error = std::get_if<sim::UsageError>(&result);
        QVERIFY2(error, "accepted");
        QVERIFY2(!error->message.isEmpty() && !error->message.contains(QLatin1Char('\n')), qPrintable(error->message));
        QVERIFY2(error->message.contains(named), qPrintable(error->message));
    }

    // --help is answered whatever else the line holds.
    void helpIsText()
    {
        const sim::ParsedArguments result =
            parsed({QStringLiteral("--port"), QStringLiteral("x"), QStringLiteral("-h")});
        const auto *help = std::get_if<sim::ShowText>(&result);
        QVERIFY(help);
        QVERIFY2(help->text.contains(QLatin1String("--restart-at <SECONDS>")), qPrintable(help->text));
    }
};

QTEST_GUILESS_MAIN(TestSimOptions)
#include "test_sim_options.moc"
