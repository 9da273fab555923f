// The command log of the UDP channel (category "veloxa.link"): silent unless
// its debug level is switched on, then one line for every datagram the panel
// sends, tries to send, or receives.

#include "core/link/datagrams.h"
#include "core/link/link_log.h"
#include "core/link/udp_channel.h"
#include "support/bytes.h"
#include "support/panel_process.h"

#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTest>

using namespace veloxa;
using test::bytes;

namespace {

QStringList linkLines;
QtMessageHandler previousHandler = nullptr;

void collectLinkMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (context.category && qstrcmp(context.category, "veloxa.link") == 0) {
        linkLines.append(message);
        return;
    }
    previousHandler(type, context, message);
}

// The unit on 127.0.0.1, on a free port.
struct Unit : test::FakeUnit {
    bool bind() { return FakeUnit::bind(QHostAddress::LocalHost, 0); }
};

// A channel aimed at a unit of its own, its arrivals counted.
struct Link {
    Unit unit;
    link::UdpChannel channel;
    QSignalSpy arrived{&channel, &link::Channel::arrived};

    bool open() { return unit.bind() && channel.setDestination(QStringLiteral("127.0.0.1"), unit.port()); }
};

} // namespace

class TestLinkLog : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsSet("QT_LOGGING_RULES"))
            QSKIP("QT_LOGGING_RULES is set: the category's default cannot be seen");
        previousHandler = qInstallMessageHandler(collectLinkMessages);
    }

    void cleanupTestCase() { qInstallMessageHandler(previousHandler); }

    void init()
    {
        QLoggingCategory::setFilterRules(QString());
        linkLines.clear();
    }

    void silentByDefault()
    {
        QVERIFY(!link::linkLog().isDebugEnabled());
        QVERIFY(link::linkLog().isWarningEnabled());

        Unit unit;
        QVERIFY(unit.bind());
        link::UdpChannel channel;
        QSignalSpy arrivals(&channel, &link::Channel::arrived);

        QVERIFY(!channel.send(link::heartbeatCommand())); // no destination yet
        QVERIFY(channel.setDestination(QStringLiteral("127.0.0.1"), unit.port()));
        QVERIFY(channel.send(*link::frequencyCommand(52999896)));
        QTRY_COMPARE(unit.received.size(), 1);
        unit.answer();
        QVERIFY(arrivals.wait());
        channel.close();
        QVERIFY(!channel.send(link::heartbeatCommand()));

        QCOMPARE(linkLines, QStringList());
    }

    void sentDatagrams_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("logged"); // after "sent to <unit>: "
        QTest::newRow("frequency") << *link::frequencyCommand(52999896)
                                   << QStringLiteral("A5 00 D8 B6 28 03 | frequency FTW=52999896 (0x0328B6D8)");
        QTest::newRow("ramp start") << *link::rampStartCommand(1, 1, 64424509)
                                    << QStringLiteral("AC 00 00 01 00 00 00 00 01 00 00 00 3D 0A D7 03 | ramp-start "
                                                      "step=1 rate=1 stopFTW=64424509 (0x03D70A3D)");
        QTest::newRow("polarity --") << *link::polarityCommand(1) << QStringLiteral("70 01 | polarity --");
        QTest::newRow("gain") << *link::gainCommand(7) << QStringLiteral("67 E0 | gain 7 (byte 0xe0)");
        QTest::newRow("contrast") << *link::contrastCommand(80) << QStringLiteral("63 50 | contrast 80");
        QTest::newRow("heartbeat") << link::heartbeatCommand() << QStringLiteral("7F | heartbeat");
        QTest::newRow("sequence-add wait")
            << link::sequenceAdd(link::adwinWaitCommand()) << QStringLiteral("C1 A4 | sequence-add ADwin-wait");
        QTest::newRow("no command") << bytes("41 42") << QStringLiteral("41 42 | not a command: unknown opcode 0x41");
    }
    void sentDatagrams()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(QString, logged);
        QLoggingCategory::setFilterRules(QStringLiteral("veloxa.link.debug=true"));
        Link wire;
        QVERIFY(wire.open());

        QVERIFY(wire.channel.send(datagram));
        QCOMPARE(linkLines, QStringList{QStringLiteral("sent to %1: %2").arg(wire.unit.endpoint(), logged)});
        QTRY_COMPARE(wire.unit.payloads(), QList<QByteArray>{datagram});
    }

    void sendsThatDidNotGo()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("veloxa.link.debug=true"));
        link::UdpChannel channel;
        QVERIFY(!channel.send(link::heartbeatCommand()));
        QVERIFY(channel.setDestination(QStringLiteral("127.0.0.1"), 9));
        channel.close();
        QVERIFY(!channel.send(*link::contrastCommand(80)));
        QCOMPARE(linkLines,
                 (QStringList{QStringLiteral("not sent, no destination yet: 7F | heartbeat"),
                              QStringLiteral("not sent, channel closed: 63 50 | contrast 80")}));
    }

    void refusedSend()
    {
        if (!test::isolatedNetwork())
            QSKIP("needs a network namespace with the loopback as its only interface");
        QLoggingCategory::setFilterRules(QStringLiteral("veloxa.link.debug=true"));
        link::UdpChannel channel;
        // No route leads to 10.9.9.9 in the namespace: the system refuses the datagram.
        QVERIFY(channel.setDestination(QStringLiteral("10.9.9.9"), 37829));
        QVERIFY(!channel.send(*link::frequencyCommand(52999896)));
        QCOMPARE(linkLines.size(), 1);
        const QString &line = linkLines.constFirst();
        QVERIFY2(line.startsWith(QLatin1String("send to 10.9.9.9:37829 failed (")), qPrintable(line));
        QVERIFY2(line.endsWith(QLatin1String("): A5 00 D8 B6 28 03 | frequency FTW=52999896 (0x0328B6D8)")),
                 qPrintable(line));
    }

    void arrivals()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("veloxa.link.debug=true"));
        Link wire;
        QVERIFY(wire.open());
        QVERIFY(wire.channel.send(link::heartbeatCommand()));
        QTRY_COMPARE(wire.unit.received.size(), 1);
        linkLines.clear();

        wire.unit.answer(QByteArray("ok\x7F"));
        wire.unit.answer(QByteArray()); // an empty datagram is an arrival too
        QTRY_COMPARE(wire.arrived.size(), 2);
        QCOMPARE(linkLines,
                 (QStringList{QStringLiteral("arrived from %1, 3 bytes: 6F 6B 7F").arg(wire.unit.endpoint()),
                              QStringLiteral("arrived from %1, 0 bytes").arg(wire.unit.endpoint())}));
    }

    // Switched off again, the channel is silent again and still counts arrivals.
    void offAgain()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("veloxa.link.debug=true"));
        QVERIFY(link::linkLog().isDebugEnabled());
        QLoggingCategory::setFilterRules(QStringLiteral("veloxa.link.debug=false"));

        Link wire;
        QVERIFY(wire.open());
        QVERIFY(wire.channel.send(link::heartbeatCommand()));
        QTRY_COMPARE(wire.unit.received.size(), 1);
        wire.unit.answer();
        QTRY_COMPARE(wire.arrived.size(), 1);
        QCOMPARE(linkLines, QStringList());
    }
};

QTEST_GUILESS_MAIN(TestLinkLog)
#include "test_link_log.moc"
