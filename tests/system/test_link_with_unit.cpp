// The heartbeat and the link display with the real UDP channel, against the
// simulated unit on loopback: heard, re-synced, then silent.

#include "app/lifecycle.h"
#include "core/link/udp_channel.h"
#include "core/settings/memory_store.h"
#include "gui/window/form_main.h"
#include "gui/window/link_view.h"
#include "support/panel_harness.h"
#include "support/panel_process.h"
#include "support/unit_sim.h"

using namespace veloxa;

namespace {

// The window on the real channel and the steady clock.
using UnitPanel = test::Panel<link::UdpChannel, settings::MemoryStore, link::SteadyClock>;

} // namespace

class TestLinkWithUnit : public QObject {
    Q_OBJECT

private:
    static bool addressBoxWhite(const window::FormMain &form)
    {
        return window::backgroundOf(form.controls().txtIP) == window::kWhite;
    }

    // Start-up's contrast and gain are answered: the re-sync sends them again.
    static void answeredThenResynced(const window::FormMain &form, const QStringList &log)
    {
        QTRY_VERIFY_WITH_TIMEOUT(addressBoxWhite(form), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("contrast 80")), 2, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("gain 7 (byte 0xe0)")), 2, 5000);
    }

    // A heartbeat a second; the unit falls silent after three seconds and
    // the box is tinted two to three seconds later. The heartbeats the unit
    // had logged when it fell silent go to `heartbeatsWhenSilent`.
    static void silentThenTinted(const window::FormMain &form, const QStringList &log, qsizetype &heartbeatsWhenSilent)
    {
        QTRY_VERIFY_WITH_TIMEOUT(log.contains(QStringLiteral("answers stopped after 3000 ms")), 8000);
        heartbeatsWhenSilent = log.count(QStringLiteral("heartbeat"));
        QVERIFY(heartbeatsWhenSilent >= 2);
        QTRY_VERIFY_WITH_TIMEOUT(!addressBoxWhite(form), 5000);
        QCOMPARE(window::backgroundOf(form.controls().txtIP), window::kLinkLostTint);
    }

private slots:
    void heardThenSilent()
    {
        const QString unitAddress = QStringLiteral("127.0.0.31");
        test::UnitSim unit;
        QVERIFY(unit.start(QStringLiteral(VELOXA_SIM_PATH), unitAddress, 37829, {"--silent-after", "3"}));
        const QStringList &log = unit.lines();

        UnitPanel panel;
        panel.store.values.insert(settings::names::IpAddress, unitAddress);
        window::FormMain &form = *panel.form;
        panel.lifecycle->startUp();

        answeredThenResynced(form, log);
        if (QTest::currentTestFailed())
            return;
        qsizetype heartbeatsWhenSilent = 0;
        silentThenTinted(form, log, heartbeatsWhenSilent);
        if (QTest::currentTestFailed())
            return;
        // The panel goes on sending, and nothing but the heartbeat.
        QTRY_VERIFY_WITH_TIMEOUT(log.count(QStringLiteral("heartbeat")) >= heartbeatsWhenSilent + 2, 5000);
        QCOMPARE(log.count(QStringLiteral("contrast 80")), 2);

        form.close();
        unit.process().terminate();
        QVERIFY(unit.process().waitForFinished(5000));
    }

    void editingTheAddressDoesNotRedirect()
    {
        // The destination is set once at start-up: what the user types into
        // the address box later changes nothing about where datagrams go.
        const QHostAddress unit(QStringLiteral("127.0.0.41"));
        const QHostAddress typed(QStringLiteral("127.0.0.42"));
        test::FakeUnit atUnit;
        test::FakeUnit atTyped;
        QVERIFY(atUnit.bind(unit));
        QVERIFY(atTyped.bind(typed));
        const auto next = [](test::FakeUnit &socket) { return socket.next().data().toHex(' '); };

        UnitPanel panel;
        panel.store.values.insert(settings::names::IpAddress, unit.toString());
        window::FormMain &form = *panel.form;
        panel.lifecycle->startUp();
        form.controls().tmrHB.stop();
        QCOMPARE(next(atUnit), QByteArray("63 50"));
        QCOMPARE(next(atUnit), QByteArray("67 e0"));

        form.controls().txtIP.setFocus();
        form.controls().txtIP.selectAll();
        QTest::keyClicks(&form.controls().txtIP, typed.toString());
        QCOMPARE(form.controls().txtIP.text(), typed.toString());
        QTest::mouseClick(&form.controls().cmdDdsReg, Qt::LeftButton);
        QCOMPARE(next(atUnit), QByteArray("b0"));
        QVERIFY(atTyped.nothingWaiting());
        form.close();
    }
};

QTEST_MAIN(TestLinkWithUnit)
#include "test_link_with_unit.moc"
