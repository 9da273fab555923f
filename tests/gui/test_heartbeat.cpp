// The heartbeat and the link display, on a hand-driven clock: which ticks
// send 0x7F, when the IP box is tinted, and the re-sync when the unit is heard.

#include "support/panel_harness.h"

using namespace veloxa;
using namespace std::chrono_literals;
using test::PanelHarness;

class TestHeartbeat : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<PanelHarness> harness;

    void tick() { harness->form->linkSupervisor().tick(); }
    void arrival() { harness->channel.simulateArrival(); }
    bool white() const { return window::backgroundOf(harness->form->controls().txtIP) == window::kWhite; }
    bool tinted() const { return window::backgroundOf(harness->form->controls().txtIP) == window::kLinkLostTint; }

private slots:
    void init()
    {
        harness = std::make_unique<PanelHarness>();
        harness->startAndClear();
    }
    void cleanup() { harness.reset(); }

    void captionRule_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("on");
        QTest::addColumn<QString>("toggled");
        QTest::newRow("on") << "HB is on" << true << "HB is off";
        QTest::newRow("off") << "HB is off" << false << "HB is on";
        QTest::newRow("upper case is not on") << "HB is ON" << false << "HB is on";
        QTest::newRow("ends in on") << "anything on" << true << "HB is off";
        QTest::newRow("empty") << "" << false << "HB is on";
    }
    void captionRule()
    {
        QFETCH(QString, caption);
        QFETCH(bool, on);
        QFETCH(QString, toggled);
        QCOMPARE(link::heartbeatIsOn(caption), on);
        QCOMPARE(link::toggledHeartbeatCaption(caption), toggled);
    }

    void unitAbsent()
    {
        for (int second = 0; second < 5; ++second) {
            harness->clock.advance(1s);
            tick();
            QVERIFY(tinted());
        }
        QCOMPARE(harness->sentHex(), QStringLiteral("7F | 7F | 7F | 7F | 7F"));
    }

    void firstArrivalResyncsThenNothing()
    {
        harness->form->controls().sldContrast.assign(42);
        harness->form->controls().sldGain.assign(3);
        harness->clear();
        arrival();
        QCOMPARE(harness->sentHex(), QStringLiteral("63 2A | 67 60"));
        QVERIFY(white());
        QCOMPARE(harness->store.writes.size(), 2);
        QCOMPARE(harness->store.writes.at(0), qMakePair(settings::names::DisplayContrast, QStringLiteral("42")));
        QCOMPARE(harness->store.writes.at(1), qMakePair(settings::names::Gain, QStringLiteral("3")));

        harness->clear();
        arrival();
        arrival();
        QCOMPARE(harness->channel.attempts, 0);
        QVERIFY(white());
    }

    void silenceThreshold_data()
    {
        QTest::addColumn<qint64>("silenceNs");
        QTest::addColumn<bool>("tintedAfterTick");
        QTest::newRow("1 s") << qint64(1'000'000'000) << false;
        QTest::newRow("exactly 2 s") << qint64(2'000'000'000) << false;
        QTest::newRow("2 s and 1 ns") << qint64(2'000'000'001) << true;
        QTest::newRow("3 s") << qint64(3'000'000'000) << true;
    }
    void silenceThreshold()
    {
        QFETCH(qint64, silenceNs);
        QFETCH(bool, tintedAfterTick);
        arrival();
        QVERIFY(white());
        harness->clock.advance(std::chrono::nanoseconds(silenceNs));
        tick();
        QCOMPARE(tinted(), tintedAfterTick);
        QCOMPARE(white(), !tintedAfterTick); // a tick never turns the box white, nor any third colour
    }

    void silenceThenHeardAgain()
    {
        arrival();
        // Ticks at 1, 2 and 3 s after the last arrival: tinted at the third.
        harness->clear();
        for (int second = 1; second <= 3; ++second) {
            harness->clock.advance(1s);
            tick();
            QCOMPARE(tinted(), second == 3);
        }
        QCOMPARE(harness->sentHex(), QStringLiteral("7F | 7F | 7F"));

        harness->clear();
        arrival();
        QCOMPARE(harness->sentHex(), QStringLiteral("63 50 | 67 E0"));
        QVERIFY(white());
        arrival();
        QCOMPARE(harness->sentHex(), QStringLiteral("63 50 | 67 E0"));
    }

    void heartbeatSwitchedOff()
    {
        window::FormMain &form = *harness->form;
        PanelHarness::click(&form.controls().cmdHb);
        QCOMPARE(form.controls().cmdHb.text(), QStringLiteral("HB is off"));
        QCOMPARE(harness->channel.attempts, 0); // the click sends nothing

        arrival();
        harness->clear();
        for (int second = 1; second <= 3; ++second) {
            harness->clock.advance(1s);
            tick();
        }
        QCOMPARE(harness->channel.attempts, 0);
        QVERIFY(tinted());

        PanelHarness::click(&form.controls().cmdHb);
        QCOMPARE(form.controls().cmdHb.text(), QStringLiteral("HB is on"));
        tick();
        QCOMPARE(harness->sentHex(), QStringLiteral("7F"));
    }

    void failedHeartbeatStillChecksTheLink()
    {
        harness->channel.failSends = true;
        arrival(); // re-sync fails to send, the box turns white all the same
        QVERIFY(white());
        QCOMPARE(harness->form->controls().sldContrast.toolTip(), QStringLiteral("80%")); // from start-up
        harness->clock.advance(3s);
        tick();
        QVERIFY(tinted());
        QCOMPARE(harness->channel.attempts, 3);
    }

    void resyncWithFailingSendsTurnsWhite()
    {
        harness->channel.failSends = true;
        harness->form->controls().sldGain.assign(4); // stored, not sent: the hint stays
        harness->clear();
        arrival();
        QVERIFY(white());
        QCOMPARE(harness->channel.attempts, 2);
        QCOMPARE(harness->form->controls().sldGain.toolTip(), QStringLiteral("7"));
        QCOMPARE(harness->store.values.value(settings::names::Gain), QStringLiteral("4"));
    }

    void arrivalDuringATickIsHandledAfterIt()
    {
        // The unit answers the heartbeat at once; the answer is an event of
        // its own and cannot spare the box the tint of this tick.
        harness->clock.advance(1s);
        bool answered = false;
        QMetaObject::invokeMethod(
            &harness->channel,
            [&] {
                answered = true;
                harness->channel.simulateArrival();
            },
            Qt::QueuedConnection);
        tick();
        QVERIFY(!answered);
        QVERIFY(tinted());
        QTRY_VERIFY(answered);
        QVERIFY(white());
    }
};

QTEST_MAIN(TestHeartbeat)
#include "test_heartbeat.moc"
