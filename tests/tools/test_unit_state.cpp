// What the simulated unit makes of the datagrams it hears, without a socket:
// the line it logs for each, the answer it gives, and the state the commands
// imply. tests/system/test_unit_sim.cpp runs the program on a real socket.

#include "unit_sim.h"
#include "unit_state.h"

#include "core/link/datagrams.h"
#include "support/bytes.h"

#include <QTest>

using namespace veloxa;
using test::bytes;
using test::hex;

namespace {

const QHostAddress kSender(QStringLiteral("127.0.0.1"));
constexpr quint16 kSenderPort = 40000;

// The state after `datagrams`, heard one after the other from kSender.
QString summaryAfter(const QList<QByteArray> &datagrams)
{
    sim::UnitState state;
    for (const QByteArray &datagram : datagrams)
        sim::hear(state, datagram, kSender, kSenderPort);
    return state.summary();
}

} // namespace

class TestUnitState : public QObject {
    Q_OBJECT

private slots:
    void hears_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QHostAddress>("sender");
        const auto row = [](const char *name, const QByteArray &datagram, const char *line,
                            const QHostAddress &sender = kSender) {
            QTest::newRow(name) << datagram << QString::fromLatin1(line) << sender;
        };
        row("frequency", *link::frequencyCommand(52999896), "frequency FTW=52999896 (0x0328B6D8)");
        row("frequency, largest word", *link::frequencyCommand(4294967295.0), "frequency FTW=4294967295 (0xFFFFFFFF)");
        row("ramp start", *link::rampStartCommand(1, 1, 64424509),
            "ramp-start step=1 rate=1 stopFTW=64424509 (0x03D70A3D)");
        row("ramp start, largest fields", *link::rampStartCommand(4294967295.0, 65535, 2147483648.0),
            "ramp-start step=4294967295 rate=65535 stopFTW=2147483648 (0x80000000)");
        row("ramp stop", link::rampStopCommand(), "ramp-stop");
        row("register dump", link::registerDumpCommand(), "register-dump");
        row("heartbeat", link::heartbeatCommand(), "heartbeat");
        row("power on", link::powerCommand(0), "power on");
        row("power off", link::powerCommand(1), "power off");
        row("polarity +", *link::polarityCommand(0), "polarity +");
        row("polarity --", *link::polarityCommand(1), "polarity --");
        row("gain 0", *link::gainCommand(0), "gain 0 (byte 0x00)");
        row("gain 7", *link::gainCommand(7), "gain 7 (byte 0xe0)");
        row("contrast 80", *link::contrastCommand(80), "contrast 80");
        row("sequence clear", link::sequenceClearCommand(), "sequence-clear");
        row("sequence-add frequency", link::sequenceAdd(*link::frequencyCommand(52999896)),
            "sequence-add frequency FTW=52999896 (0x0328B6D8)");
        row("sequence-add ramp", link::sequenceAdd(*link::rampStartCommand(1, 1, 64424509)),
            "sequence-add ramp-start step=1 rate=1 stopFTW=64424509 (0x03D70A3D)");
        row("sequence-add ADwin wait", link::sequenceAdd(link::adwinWaitCommand()), "sequence-add ADwin-wait");
        row("sequence execute", link::sequenceExecuteCommand(), "sequence-execute");
        row("sequence restart", link::sequenceRestartCommand(), "sequence-restart");

        const auto malformed = [](const char *name, const QByteArray &datagram, const QString &why) {
            QTest::newRow(name) << datagram
                                << QStringLiteral("malformed from 127.0.0.1:40000: %1 [%2]").arg(why, hex(datagram))
                                << kSender;
        };
        malformed("empty", QByteArray(), QStringLiteral("empty datagram"));
        malformed("unknown opcode", bytes("12 34"), QStringLiteral("unknown opcode 0x12"));
        malformed("frequency cut short", bytes("A5 00 D8"), QStringLiteral("frequency command needs 6 bytes, got 3"));
        malformed("heartbeat with a tail", bytes("7F 00"), QStringLiteral("heartbeat command needs 1 bytes, got 2"));
        malformed("gain off the steps", bytes("67 50"),
                  QStringLiteral("gain command: byte 0x50 is not a multiple of 0x20"));
        malformed("ADwin wait alone", bytes("A4"),
                  QStringLiteral("ADwin-wait command outside the sequence-add prefix"));
        malformed("bare sequence-add", bytes("C1"), QStringLiteral("sequence-add prefix without a command"));
        malformed("sequence-add heartbeat", bytes("C1 7F"),
                  QStringLiteral("sequence-add prefix before opcode 0x7f, which cannot be added"));
        malformed("long datagram", QByteArray(2000, '\xFF'), QStringLiteral("unknown opcode 0xff"));
        // The sender as the simulator's socket may see it.
        row("IPv4 sender seen through an IPv6 socket", bytes("12"),
            "malformed from 127.0.0.1:40000: unknown opcode 0x12 [12]",
            QHostAddress(QStringLiteral("::ffff:127.0.0.1")));
        row("IPv6 sender", bytes("12"), "malformed from [::1]:40000: unknown opcode 0x12 [12]",
            QHostAddress(QStringLiteral("::1")));
    }

    // A command is logged as what it is and answered "ok" and its opcode. A
    // malformed datagram is logged with its sender, why and its bytes, counted,
    // and answered "no" and its first byte.
    void hears()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(QString, line);
        QFETCH(QHostAddress, sender);
        const bool malformed = line.startsWith(QLatin1String("malformed "));

        sim::UnitState state;
        const sim::Heard heard = sim::hear(state, datagram, sender, kSenderPort);
        QCOMPARE(heard.line, line);
        QCOMPARE(hex(heard.answer), hex(QByteArray(malformed ? "no" : "ok") + datagram.left(1)));
        const QString counted = malformed ? QStringLiteral("| malformed 1") : QStringLiteral("| malformed 0");
        QVERIFY2(state.summary().endsWith(counted), qPrintable(state.summary()));
    }

    void summary_data()
    {
        QTest::addColumn<QList<QByteArray>>("datagrams");
        // The whole state line, or a part of it the line must hold ("| ... |").
        QTest::addColumn<QString>("expected");
        QTest::newRow("nothing heard") << QList<QByteArray>{}
                                       << QStringLiteral("state: frequency unset | polarity unset | power unset | gain "
                                                         "unset | contrast unset | ramp never started | sequence 0 [] "
                                                         "executed 0 restarted 0 | heartbeats 0 | register-dumps 0 | "
                                                         "malformed 0");
        // The last of each setting wins; the wait added first is cleared.
        QTest::newRow("a session")
            << QList<QByteArray>{*link::frequencyCommand(52999896),
                                 *link::polarityCommand(1),
                                 link::powerCommand(1),
                                 *link::gainCommand(3),
                                 *link::contrastCommand(42),
                                 link::sequenceAdd(link::adwinWaitCommand()),
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
                                 *link::frequencyCommand(64424509),
                                 *link::contrastCommand(80)}
            << QStringLiteral(
                   "state: frequency FTW=64424509 (0x03D70A3D) | polarity -- | power off | gain 3 (byte 0x60) | "
                   "contrast 80 | ramp running step=5 rate=7 stopFTW=2147483648 (0x80000000) | "
                   "sequence 3 [frequency FTW=1000 (0x000003E8), ADwin-wait, "
                   "ramp-start step=10 rate=2 stopFTW=64424509 (0x03D70A3D)] executed 1 restarted 2 | "
                   "heartbeats 2 | register-dumps 1 | malformed 1");

        const QByteArray ramp = *link::rampStartCommand(1, 1, 64424509);
        const QByteArray wait = link::sequenceAdd(link::adwinWaitCommand());
        const auto part = [](const char *name, const QList<QByteArray> &datagrams, const char *expected) {
            QTest::newRow(name) << datagrams << QString::fromLatin1(expected);
        };
        part("ramp started", {ramp}, "| ramp running step=1 rate=1 stopFTW=64424509 (0x03D70A3D) |");
        part("ramp stopped", {ramp, link::rampStopCommand()},
             "| ramp stopped step=1 rate=1 stopFTW=64424509 (0x03D70A3D) |");
        part("ramp stopped, never started", {link::rampStopCommand()}, "| ramp never started |");
        part("a wait added", {wait}, "| sequence 1 [ADwin-wait] executed 0 restarted 0 |");
        part("the sequence cleared", {wait, link::sequenceClearCommand()}, "| sequence 0 [] executed 0 restarted 0 |");
        part("power on", {link::powerCommand(0)}, "| power on |");
    }
    void summary()
    {
        QFETCH(QList<QByteArray>, datagrams);
        QFETCH(QString, expected);
        const QString summary = summaryAfter(datagrams);
        if (expected.startsWith(QLatin1String("state: "))) {
            QCOMPARE(summary, expected);
            return;
        }
        QVERIFY2(summary.startsWith(QLatin1String("state: ")), qPrintable(summary));
        QVERIFY2(summary.contains(expected), qPrintable(summary));
    }
};

QTEST_GUILESS_MAIN(TestUnitState)
#include "test_unit_state.moc"
