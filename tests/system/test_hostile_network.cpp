// The real window on the real UDP channel while datagrams pour in from
// sockets that are not the unit: typing goes on as if nothing arrived. What
// the unit hears is exactly what the same typing sends without the flood
// (plus the link's re-sync and the heartbeat), and the boxes end the same.

#include "core/link/udp_channel.h"
#include "support/bytes.h"
#include "support/flood.h"
#include "support/panel_harness.h"
#include "support/panel_process.h"
#include "support/watchdog.h"

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

// Every text box of the window, as "name=text".
QStringList boxTexts(const QWidget &form)
{
    QStringList texts;
    for (const controls::TextBox *box : form.findChildren<controls::TextBox *>())
        texts << box->objectName() + QLatin1Char('=') + box->text();
    return texts;
}

} // namespace

class TestHostileNetwork : public QObject {
    Q_OBJECT

private:
    // The same typing without any arrival, on the recording channel: the
    // reference. What it sent, and the boxes' texts afterwards.
    static void typeWithoutArrivals(QList<QByteArray> &sent, QStringList &texts)
    {
        PanelHarness reference;
        reference.store.values = seededStore().values;
        reference.startAndClear();
        QVERIFY(typeSlowly(&reference.form->controls().txtFreq, kTyped));
        sent = reference.channel.sent;
        texts = boxTexts(*reference.form);
    }

    // Start-up on the real channel: the unit hears contrast and gain.
    static void startHeardByTheUnit(UdpPanel &panel, const FakeUnit &unit)
    {
        panel.lifecycle->startUp();
        QVERIFY(QTest::qWaitForWindowExposed(panel.form.get()));
        panel.form->activateWindow();
        QTRY_COMPARE(unit.payloads().mid(0, 2), QList<QByteArray>({bytes("63 50"), bytes("67 E0")}));
        QVERIFY(panel.channel.localPort() != 0);
    }

    // What the unit heard is what the reference sent (besides the link's own
    // traffic), and the boxes hold what the reference's did.
    static void sameAsWithoutTheFlood(const FakeUnit &unit, const UdpPanel &panel,
                                      const QList<QByteArray> &referenceSent, const QStringList &referenceTexts)
    {
        // All that was sent before the next heartbeat has arrived after it.
        const int heartbeats = static_cast<int>(unit.payloads().count(bytes("7F")));
        QTRY_VERIFY_WITH_TIMEOUT(unit.payloads().count(bytes("7F")) > heartbeats, 5000);

        QString odd;
        const QList<QByteArray> typed = withoutLinkTraffic(unit.payloads(), bytes("63 50"), bytes("67 E0"), odd);
        QVERIFY2(odd.isEmpty(), qPrintable(odd));
        QCOMPARE(hexList(typed), hexList(referenceSent));
        QCOMPARE(boxTexts(*panel.form), referenceTexts);
    }

private slots:
    void floodWhileTypingChangesNothing()
    {
        QStringList referenceTexts;
        QList<QByteArray> referenceSent;
        typeWithoutArrivals(referenceSent, referenceTexts);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(referenceSent.size() >= 2 * kTyped.size());

        FakeUnit unit;
        QVERIFY(unit.bind(QHostAddress(kUnitAddress)));
        UdpPanel panel{seededStore()};
        int arrivals = 0;
        QObject counting;
        connect(&panel.channel, &link::Channel::arrived, &counting, [&arrivals] { ++arrivals; });
        startHeardByTheUnit(panel, unit);
        if (QTest::currentTestFailed())
            return;

        const QList<int> sizes = {0, 1, 17, 18, 1000, 0, 1, 6, 2, kLargestDatagram};
        Flood flood(
            QHostAddress(QHostAddress::LocalHost), panel.channel.localPort(),
            {QHostAddress(QStringLiteral("127.0.0.72")), QHostAddress(QHostAddress::LocalHost), QHostAddress()});
        QVERIFY(flood.ready());
        flood.start(Flood::Plan::sized(sizes, -1, 100, std::chrono::milliseconds(2)));
        QTRY_VERIFY(arrivals > 500);

        const int arrivalsBefore = arrivals;
        QVERIFY(typeSlowly(&panel.form->controls().txtFreq, kTyped));
        QCoreApplication::processEvents();
        const int arrivalsWhileTyping = arrivals - arrivalsBefore;
        flood.stop();
        QVERIFY2(arrivalsWhileTyping > 0, "no arrival was handled between the keys");

        sameAsWithoutTheFlood(unit, panel, referenceSent, referenceTexts);
        if (QTest::currentTestFailed())
            return;
        qInfo("%d datagrams sent by the flood, %d handled while typing", flood.sent(), arrivalsWhileTyping);
    }
};

QTEST_MAIN(TestHostileNetwork)
#include "test_hostile_network.moc"
