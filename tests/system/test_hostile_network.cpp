// The real window on the real UDP channel while datagrams pour in from
// sockets that are not the unit: typing goes on as if nothing arrived. What
// the unit hears is exactly what the same typing sends without the flood
// (plus the link's re-sync and the heartbeat), and the boxes end the same.

#include "core/link/udp_channel.h"
#include "support/bytes.h"
#include "support/flood.h"
#include "support/panel_harness.h"
#include "support/panel_process.h"

#include <QCoreApplication>

using namespace veloxa;
using namespace veloxa::test;

namespace {

const QString kUnitAddress = QStringLiteral("127.0.0.71");

settings::MemoryStore seededStore()
{
    settings::MemoryStore store;
    store.values.insert(settings::names::IpAddress, kUnitAddress);
    store.values.insert(settings::names::SystemClock, QStringLiteral("500"));
    return store;
}

// The keys of a user retyping the frequency box, with the event loop let run
// after each key, so that arrivals are handled between them.
[[nodiscard]] bool typeSlowly(controls::TextBox *box, const QString &text)
{
    box->setFocus(Qt::OtherFocusReason);
    if (!box->hasFocus())
        return false;
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QCoreApplication::processEvents();
    QTest::keyClick(box, Qt::Key_Delete);
    for (const QChar c : text) {
        QCoreApplication::processEvents();
        QTest::keyClicks(box, QString(c));
    }
    QCoreApplication::processEvents();
    QTest::keyClick(box, Qt::Key_Return);
    return true;
}

const QString kTyped = QStringLiteral("123.456e-1x");

using UdpPanel = test::Panel<link::UdpChannel>;

// What the unit heard, without heartbeats and re-syncs (contrast 80 then gain 7).
QList<QByteArray> withoutLinkTraffic(const QList<QByteArray> &payloads, QString &odd)
{
    QList<QByteArray> rest;
    for (qsizetype i = 0; i < payloads.size(); ++i) {
        const QByteArray &datagram = payloads.at(i);
        if (datagram == bytes("7F"))
            continue;
        if (datagram == bytes("63 50")) {
            if (i + 1 >= payloads.size() || payloads.at(i + 1) != bytes("67 E0"))
                odd = QStringLiteral("contrast without gain at %1").arg(i);
            ++i;
            continue;
        }
        if (datagram.startsWith('\x63') || datagram.startsWith('\x67'))
            odd = QStringLiteral("%1 at %2").arg(hex(datagram)).arg(i);
        rest.append(datagram);
    }
    return rest;
}

} // namespace

class TestHostileNetwork : public QObject {
    Q_OBJECT

private slots:
    void floodWhileTypingChangesNothing()
    {
        // The same typing without any arrival: the reference.
        QStringList referenceTexts;
        QList<QByteArray> referenceSent;
        {
            PanelHarness reference;
            reference.store.values = seededStore().values;
            reference.startAndClear();
            QVERIFY(typeSlowly(&reference.form->controls().txtFreq, kTyped));
            referenceSent = reference.channel.sent;
            for (const controls::TextBox *box : reference.form->findChildren<controls::TextBox *>())
                referenceTexts << box->objectName() + QLatin1Char('=') + box->text();
        }
        QVERIFY(referenceSent.size() >= 2 * kTyped.size());

        FakeUnit unit;
        QVERIFY(unit.bind(QHostAddress(kUnitAddress)));
        UdpPanel panel{seededStore()};
        int arrivals = 0;
        QObject counting;
        connect(&panel.channel, &link::Channel::arrived, &counting, [&arrivals] { ++arrivals; });
        panel.lifecycle->startUp();
        QVERIFY(QTest::qWaitForWindowExposed(panel.form.get()));
        panel.form->activateWindow();
        QTRY_COMPARE(unit.payloads().mid(0, 2), QList<QByteArray>({bytes("63 50"), bytes("67 E0")}));
        QVERIFY(panel.channel.localPort() != 0);

        QList<int> sizes = {0, 1, 17, 18, 1000, 0, 1, 6, 2};
        sizes.append(kLargestDatagram);
        Flood flood(
            QHostAddress(QHostAddress::LocalHost), panel.channel.localPort(),
            {QHostAddress(QStringLiteral("127.0.0.72")), QHostAddress(QHostAddress::LocalHost), QHostAddress()});
        QVERIFY(flood.ready());
        flood.start({sizes, -1, 100, std::chrono::milliseconds(2)});
        QTRY_VERIFY(arrivals > 500);

        const int arrivalsBefore = arrivals;
        QVERIFY(typeSlowly(&panel.form->controls().txtFreq, kTyped));
        QCoreApplication::processEvents();
        const int arrivalsWhileTyping = arrivals - arrivalsBefore;
        flood.stop();
        QVERIFY2(arrivalsWhileTyping > 0, "no arrival was handled between the keys");

        // All that was sent before the next heartbeat has arrived after it.
        const int heartbeats = static_cast<int>(unit.payloads().count(bytes("7F")));
        QTRY_VERIFY_WITH_TIMEOUT(unit.payloads().count(bytes("7F")) > heartbeats, 5000);

        QString odd;
        const QList<QByteArray> typed = withoutLinkTraffic(unit.payloads(), odd);
        QVERIFY2(odd.isEmpty(), qPrintable(odd));
        QCOMPARE(hexList(typed), hexList(referenceSent));
        QStringList texts;
        for (const controls::TextBox *box : panel.form->findChildren<controls::TextBox *>())
            texts << box->objectName() + QLatin1Char('=') + box->text();
        QCOMPARE(texts, referenceTexts);
        qInfo("%d datagrams sent by the flood, %d handled while typing", flood.sent(), arrivalsWhileTyping);
    }
};

QTEST_MAIN(TestHostileNetwork)
#include "test_hostile_network.moc"
