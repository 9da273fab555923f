// The UDP channel over loopback: what leaves is exactly what was built, what
// arrives is counted, and a flood of arrivals does not hold the event loop.

#include "core/link/datagrams.h"
#include "core/link/udp_channel.h"
#include "support/bytes.h"
#include "support/flood.h"
#include "support/unit_socket.h"
#include "support/watchdog.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>

#include <atomic>
#include <memory>

using namespace veloxa;
using veloxa::test::bytes;
using veloxa::test::hex;

namespace {

// The unit on 127.0.0.1, on a free port.
struct Receiver : test::FakeUnit {
    Receiver() { QVERIFY(bind(QHostAddress::LocalHost, 0)); }
};

constexpr int kFlood = 50000;
constexpr int kInFlight = 100; // paced: datagrams let be on the way at once
constexpr qint64 kFlatOutMs = 500; // flat out: at least this long

// What the flood's sender thread and the test share.
struct FloodCounts {
    std::atomic<int> sent{0};
    std::atomic<int> arrivals{0}; // counted by the channel
    std::atomic<bool> abandon{false};
};

// Heartbeats to the channel's port, a few in flight at a time, until
// kFlood have gone.
void sendPaced(quint16 channelPort, FloodCounts &counts)
{
    const link::Datagram payload = link::heartbeatCommand();
    QUdpSocket socket;
    while (!counts.abandon && counts.sent < kFlood) {
        // A datagram lost on the way would keep the count short for
        // ever, so stop waiting for it after a while.
        QElapsedTimer waiting;
        waiting.start();
        while (counts.sent - counts.arrivals >= kInFlight && waiting.elapsed() < 200 && !counts.abandon)
            QThread::yieldCurrentThread();
        if (socket.writeDatagram(payload, QHostAddress::LocalHost, channelPort) == payload.size())
            ++counts.sent;
    }
}

// Heartbeats to the channel's port as fast as they go, until kFlood have
// gone and kFlatOutMs have passed.
void sendFlatOut(quint16 channelPort, FloodCounts &counts)
{
    test::Burst burst(QHostAddress(QHostAddress::LocalHost), channelPort);
    const QList<QByteArray> payloads = {link::heartbeatCommand()};
    QElapsedTimer flooding;
    flooding.start();
    while (!counts.abandon && (counts.sent < kFlood || flooding.elapsed() < kFlatOutMs)) {
        counts.sent += burst.send(payloads);
        // Still hundreds of times what the reader takes, and the
        // event loop under test keeps a processor to run on.
        QThread::usleep(100);
    }
}

// The ticks of the 10 ms timer that the flood must not starve: how many, in
// how many of them the channel had counted arrivals since the last, and the
// worst gap between them.
struct Ticks {
    int count = 0;
    int withArrivals = 0;
    qint64 worstGapMs = 0;
};

// Runs the event loop, the timer ticking, while the sender floods; at most
// two minutes. Whether the sender ended.
bool runWhileFlooding(QThread &sender, const FloodCounts &counts, Ticks &ticks)
{
    int arrivalsAtLastTick = 0;
    test::LoopWatch watch([&] {
        ++ticks.count;
        ticks.withArrivals += counts.arrivals != arrivalsAtLastTick ? 1 : 0;
        arrivalsAtLastTick = counts.arrivals;
    });
    QEventLoop loop;
    QObject::connect(&sender, &QThread::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    sender.start();
    loop.exec();
    watch.stop();
    ticks.worstGapMs = watch.worstGapMs;
    return sender.isFinished();
}

} // namespace

class TestChannel : public QObject {
    Q_OBJECT

    // The unit answers to where `heard` came from. The empty reply goes first:
    // it counts, and is consumed rather than left to block the ones behind it.
    // Any sender counts, not only the destination.
    static void repliesAndStrangersCount(Receiver &receiver, link::UdpChannel &channel, QSignalSpy &arrivals,
                                         const QNetworkDatagram &heard)
    {
        const QList<QByteArray> replies{QByteArray(), "ok\x7f", "a longer answer of the unit", bytes("00")};
        for (const QByteArray &reply : replies)
            QCOMPARE(receiver.socket.writeDatagram(reply, heard.senderAddress(), quint16(heard.senderPort())),
                     qint64(reply.size()));
        QTRY_COMPARE(arrivals.size(), replies.size());

        QUdpSocket stranger;
        QVERIFY(stranger.bind(QHostAddress::LocalHost, 0));
        QCOMPARE(stranger.writeDatagram(QByteArray("hello"), QHostAddress::LocalHost, channel.localPort()), 5);
        QTRY_COMPARE(arrivals.size(), replies.size() + 1);
    }

private slots:
    void parseDottedQuad_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("address"); // empty: refused
        QTest::newRow("lab unit") << "192.168.1.133" << "192.168.1.133";
        QTest::newRow("blanks around") << " 10.0.0.1 " << "10.0.0.1";
        QTest::newRow("tab and line feed around") << "\t127.0.0.1\n" << "127.0.0.1";
        QTest::newRow("all zero") << "0.0.0.0" << "0.0.0.0";
        QTest::newRow("all 255") << "255.255.255.255" << "255.255.255.255";
        // Read as the decimal the user sees, not as octal 8.
        QTest::newRow("leading zero is decimal") << "010.0.0.1" << "10.0.0.1";

        QTest::newRow("three parts") << "192.168.1" << "";
        QTest::newRow("two parts") << "127.1" << "";
        QTest::newRow("one number") << "2130706433" << "";
        QTest::newRow("hex part") << "0x7f.0.0.1" << "";
        QTest::newRow("part above 255") << "1.2.3.256" << "";
        QTest::newRow("four-digit part") << "1.2.3.0004" << "";
        QTest::newRow("five parts") << "1.2.3.4.5" << "";
        QTest::newRow("trailing dot") << "1.2.3.4." << "";
        QTest::newRow("leading dot") << ".1.2.3" << "";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("blank") << "   " << "";
        QTest::newRow("letters") << "a.b.c.d" << "";
        QTest::newRow("empty part") << "1..2.3" << "";
        QTest::newRow("negative part") << "-1.2.3.4" << "";
        QTest::newRow("plus sign") << "+1.2.3.4" << "";
        QTest::newRow("blank inside") << "1.2.3. 4" << "";
        QTest::newRow("fullwidth digits") << QString::fromUtf8("１.２.３.４") << "";
        QTest::newRow("host name") << "localhost" << "";
        QTest::newRow("dotted host name") << "unit.lab.example" << "";
        QTest::newRow("IPv6 literal") << "::1" << "";
        QTest::newRow("port attached") << "127.0.0.1:37829" << "";
    }
    void parseDottedQuad()
    {
        QFETCH(QString, text);
        QFETCH(QString, address);
        const auto parsed = link::parseDottedQuad(text);
        if (address.isEmpty()) {
            // The message is built whether or not the check fails.
            QVERIFY2(!parsed,
                     qPrintable(QStringLiteral("accepted as %1").arg(parsed ? parsed->toString() : QString())));
        } else {
            QVERIFY(parsed);
            QCOMPARE(parsed->toString(), address);
            QCOMPARE(parsed->protocol(), QAbstractSocket::IPv4Protocol);
        }
    }

    void destinationRefusedOrNoneSet_data()
    {
        QTest::addColumn<QString>("host"); // null: none set
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("none set") << QString() << 0 << false;
        QTest::newRow("port 0") << "127.0.0.1" << 0 << false;
        QTest::newRow("port 65536") << "127.0.0.1" << 65536 << false;
        QTest::newRow("port -1") << "127.0.0.1" << -1 << false;
        QTest::newRow("short host") << "127.1" << 37829 << false;
        QTest::newRow("host name") << "localhost" << 37829 << false;
        QTest::newRow("empty host") << "" << 37829 << false;
        QTest::newRow("port 1") << "127.0.0.1" << 1 << true;
        QTest::newRow("port 65535") << "127.0.0.1" << 65535 << true;
    }
    void destinationRefusedOrNoneSet()
    {
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(bool, accepted);
        link::UdpChannel channel;
        if (!host.isNull())
            QCOMPARE(channel.setDestination(host, port), accepted);
        // A refused destination leaves the channel without one: every send
        // fails, and a failed send does not bind either.
        QCOMPARE(channel.send(link::heartbeatCommand()), accepted);
        QCOMPARE(channel.localPort() != 0, accepted);
    }

    void sendArrivesIntact_data()
    {
        QTest::addColumn<link::Datagram>("datagram");
        QTest::newRow("heartbeat") << link::heartbeatCommand();
        QTest::newRow("frequency") << *link::frequencyCommand(52999896);
        QTest::newRow("frequency all ones") << *link::frequencyCommand(4294967295.0);
        QTest::newRow("ramp start") << *link::rampStartCommand(1, 1, 64424509);
        QTest::newRow("sequence-add ramp, 17 bytes")
            << link::sequenceAdd(*link::rampStartCommand(4294967295.0, 65535, 2147483648.0));
        QTest::newRow("contrast") << *link::contrastCommand(80);
        QTest::newRow("gain 7") << *link::gainCommand(7);
        QTest::newRow("sequence-execute ends in 00") << link::sequenceExecuteCommand();
        // Raw bytes that a text encoding would change or cut.
        QTest::newRow("nul first") << bytes("00 FF 00");
        QTest::newRow("high bytes") << bytes("80 81 C3 A9 E2 82 AC FF FE");
        QTest::newRow("every byte value") << [] {
            QByteArray all;
            for (int value = 0; value < 256; ++value)
                all += static_cast<char>(value);
            return all;
        }();
    }
    void sendArrivesIntact()
    {
        QFETCH(link::Datagram, datagram);
        Receiver receiver;
        link::UdpChannel channel;
        QVERIFY(channel.setDestination(QStringLiteral("127.0.0.1"), receiver.port()));

        // A second datagram right behind the first: each must arrive whole and
        // on its own, neither split nor merged with its neighbour.
        QVERIFY(channel.send(datagram));
        QVERIFY(channel.send(link::heartbeatCommand()));

        const QNetworkDatagram first = receiver.next();
        QVERIFY(first.isValid());
        QCOMPARE(hex(first.data()), hex(datagram));
        const QNetworkDatagram second = receiver.next();
        QVERIFY(second.isValid());
        QCOMPARE(hex(second.data()), QStringLiteral("7F"));
        QCOMPARE(second.senderPort(), first.senderPort()); // one socket for every send
    }

    void bindsOnFirstSendAndCountsReplies()
    {
        Receiver receiver;
        link::UdpChannel channel;
        QSignalSpy arrivals(&channel, &link::Channel::arrived);
        QVERIFY(channel.setDestination(QStringLiteral("127.0.0.1"), receiver.port()));
        QCOMPARE(channel.localPort(), 0); // setting the destination does not bind

        QVERIFY(channel.send(link::heartbeatCommand()));
        QVERIFY(channel.localPort() != 0);

        const QNetworkDatagram heard = receiver.next();
        QVERIFY(heard.isValid());
        QCOMPARE(heard.senderPort(), int(channel.localPort()));

        repliesAndStrangersCount(receiver, channel, arrivals, heard);
        if (QTest::currentTestFailed())
            return;

        // The socket is still the one bound by the first send.
        QVERIFY(channel.send(link::heartbeatCommand()));
        const QNetworkDatagram again = receiver.next();
        QVERIFY(again.isValid());
        QCOMPARE(again.senderPort(), heard.senderPort());
    }

    void sendsFailAfterClose()
    {
        Receiver receiver;
        link::UdpChannel channel;
        QVERIFY(channel.setDestination(QStringLiteral("127.0.0.1"), receiver.port()));
        QVERIFY(channel.send(link::heartbeatCommand()));
        QVERIFY(receiver.next().isValid());

        channel.close();
        QVERIFY(!channel.send(link::heartbeatCommand()));
        QVERIFY(!channel.send(link::sequenceClearCommand()));
        // Setting the destination again does not reopen it.
        channel.setDestination(QStringLiteral("127.0.0.1"), receiver.port());
        QVERIFY(!channel.send(link::heartbeatCommand()));
        QVERIFY(receiver.nothingWaiting());
    }

    void floodDoesNotHoldTheEventLoop_data()
    {
        QTest::addColumn<bool>("paced");
        QTest::addColumn<int>("handlingMicroseconds");
        // The sender keeps a few datagrams in flight, so the channel's socket never
        // runs dry and never overflows: every datagram must be counted.
        QTest::newRow("paced, every datagram counted") << true << 0;
        // The sender goes flat out for half a second while each arrival costs its
        // handler some time, as the panel's own handling does: the socket never
        // runs dry, so a drain that reads until it is empty would not return
        // before the flood ends. The socket overflows; only part is counted.
        QTest::newRow("flat out, slow handler") << false << 50;
    }
    void floodDoesNotHoldTheEventLoop()
    {
        QFETCH(bool, paced);
        QFETCH(int, handlingMicroseconds);
        Receiver receiver;
        link::UdpChannel channel;
        QVERIFY(channel.setDestination(QStringLiteral("127.0.0.1"), receiver.port()));
        QVERIFY(channel.send(link::heartbeatCommand()));
        const quint16 channelPort = channel.localPort();
        QVERIFY(channelPort != 0);

        FloodCounts counts;
        connect(&channel, &link::Channel::arrived, this, [&counts, handlingMicroseconds] {
            ++counts.arrivals;
            QElapsedTimer busy;
            busy.start();
            while (busy.nsecsElapsed() < handlingMicroseconds * 1000LL) {}
        });
        std::unique_ptr<QThread> sender(QThread::create([&counts, paced, channelPort] {
            if (paced)
                sendPaced(channelPort, counts);
            else
                sendFlatOut(channelPort, counts);
        }));

        Ticks ticks;
        const bool floodEnded = runWhileFlooding(*sender, counts, ticks);
        counts.abandon = true;
        sender->wait();
        QVERIFY2(floodEnded, "the flood did not end within two minutes");

        if (paced)
            QTRY_COMPARE_WITH_TIMEOUT(int(counts.arrivals), int(counts.sent), 5000);
        qInfo("flood: %d sent, %d counted, %d ticks, %d with arrivals, worst gap %lld ms", int(counts.sent),
              int(counts.arrivals), ticks.count, ticks.withArrivals, ticks.worstGapMs);

        QVERIFY(counts.sent >= kFlood);
        if (paced)
            QCOMPARE(int(counts.arrivals), kFlood);
        QVERIFY2(ticks.worstGapMs < 100,
                 qPrintable(QStringLiteral("the timer stood still for %1 ms").arg(ticks.worstGapMs)));
        QVERIFY2(ticks.withArrivals >= 5, "the channel did not count arrivals while the timer ran");
    }
};

QTEST_GUILESS_MAIN(TestChannel)
#include "test_channel.moc"
