// The system clock box and the DDS frequency box, typed key by key into the
// real window: corrections, the laser offset label and the datagrams sent;
// and for every number box, that an assigned text runs its own rules.

#include "support/panel_harness.h"

#include <QSignalBlocker>

using namespace veloxa;
using test::PanelHarness;

class TestFrequency : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<PanelHarness> harness;

    // Types all but the last character, forgets what was sent, then types the
    // last one: what the test sees is what that one keystroke caused.
    void typeEndingWithLastKey(QLineEdit *box, const QString &text)
    {
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, text.left(text.size() - 1));
        harness->clear();
        QTest::keyClicks(box, text.right(1));
    }

private slots:
    void init()
    {
        harness = std::make_unique<PanelHarness>();
        harness->startAndClear();
    }
    void cleanup() { harness.reset(); }

    void typedFrequency_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("minus"); // "--" selected
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("lastKeySent");
        const QString twice = QStringLiteral("A5 00 00 00 00 80 | 70 00 | A5 00 00 00 00 80 | 70 00");
        QTest::newRow("12.34") << "12.34" << false << "12.34" << "(394.88MHz)" << "A5 00 D8 B6 28 03 | 70 00";
        QTest::newRow("12.34 with --") << "12.34" << true << "12.34" << "(394.88MHz)" << "A5 00 D8 B6 28 03 | 70 01";
        QTest::newRow("100") << "100" << false << "100" << "(3.2GHz)" << "A5 00 99 99 99 19 | 70 00";
        QTest::newRow("31.25") << "31.25" << false << "31.25" << "(1GHz)" << "A5 00 00 00 00 08 | 70 00";
        QTest::newRow("31.2") << "31.2" << false << "31.2" << "(998.4MHz)" << "A5 00 23 B9 FC 07 | 70 00";
        QTest::newRow("600 clamps") << "600" << false << "500" << "(16GHz)" << twice;
        QTest::newRow("-600 clamps") << "-600" << false << "-500" << "(-16000MHz)" << twice;
        QTest::newRow("499.999999") << "499.999999" << false << "499.999999" << "(15.999999968GHz)"
                                    << "A5 00 FB FF FF 7F | 70 00";
        QTest::newRow("lone minus") << "-" << false << "-" << "(0MHz)" << "A5 00 00 00 00 00 | 70 00";
        QTest::newRow("emptied") << "" << false << "" << "(0MHz)" << "A5 00 00 00 00 00 | 70 00";
    }
    void typedFrequency()
    {
        // Typed into a box whose text is selected, the first key replaces it.
        QFETCH(QString, typed);
        QFETCH(bool, minus);
        QFETCH(QString, text);
        QFETCH(QString, label);
        QFETCH(QString, lastKeySent);
        if (minus)
            harness->form->controls().optDdsPolarity.select(1);
        if (typed.isEmpty()) {
            harness->form->controls().txtFreq.setFocus();
            harness->form->controls().txtFreq.selectAll();
            QTest::keyClick(&harness->form->controls().txtFreq, Qt::Key_Delete);
        } else {
            typeEndingWithLastKey(&harness->form->controls().txtFreq, typed);
        }
        QCOMPARE(harness->form->controls().txtFreq.text(), text);
        QCOMPARE(harness->form->controls().lblLaserFreq.text(), label);
        QCOMPARE(harness->sentHex(), lastKeySent);
    }

    void everyKeystrokeSends()
    {
        QVERIFY(test::typeOver(&harness->form->controls().txtFreq, QStringLiteral("12")));
        // "1" replaces the selected text, then "12": each sends its pair.
        QCOMPARE(harness->sentHex(), QStringLiteral("A5 00 37 89 41 00 | 70 00 | A5 00 97 6E 12 03 | 70 00"));
        QCOMPARE(harness->form->controls().lblLaserFreq.text(), QStringLiteral("(384MHz)"));
    }

    void updateButtonAndEnter_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("sent");
        QTest::newRow("12.34") << "12.34" << "A5 00 D8 B6 28 03 | 70 00";
        QTest::newRow("12.34abc") << "12.34abc" << "A5 00 D8 B6 28 03 | 70 00";
        QTest::newRow("empty") << "" << "A5 00 00 00 00 00 | 70 00";
    }
    void updateButtonAndEnter()
    {
        QFETCH(QString, text);
        QFETCH(QString, sent);
        controls::TextBox *frequency = &harness->form->controls().txtFreq;
        QVERIFY(test::typeOver(frequency, text));

        harness->clear();
        PanelHarness::click(&harness->form->controls().cmdUpdateFreq);
        QCOMPARE(harness->sentHex(), sent);

        const std::pair<Qt::Key, Qt::KeyboardModifiers> enters[] = {
            {Qt::Key_Return, Qt::NoModifier},
            {Qt::Key_Enter, Qt::KeypadModifier},
            {Qt::Key_Return, Qt::ShiftModifier},
            {Qt::Key_Return, Qt::ControlModifier},
            {Qt::Key_Enter, Qt::AltModifier | Qt::KeypadModifier}};
        for (const auto &[key, modifiers] : enters) {
            frequency->setFocus();
            harness->clear();
            QTest::keyClick(frequency, key, modifiers);
            QCOMPARE(harness->sentHex(), sent);
            QCOMPARE(frequency->text(), text);
        }
    }

    void failedFrequencySendSkipsPolarity()
    {
        harness->channel.failSends = true;
        PanelHarness::click(&harness->form->controls().cmdUpdateFreq);
        QCOMPARE(harness->channel.attempts, 1);
    }

    // The clock's rules key by key and on leaving; the rules' own table is
    // test_rules and test_rule_fixed_points.
    void typedClock_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("whileFocused");
        QTest::addColumn<QString>("afterFocusLoss");
        QTest::newRow("1200") << "1200" << "1000" << "1000";
        QTest::newRow("99.9") << "99.9" << "99.9" << "100";
        QTest::newRow("emptied") << "" << "0" << "100";
        QTest::newRow("a minus alone becomes 0") << "-" << "0" << "100";
        QTest::newRow("1e typed becomes 1") << "1e" << "1" << "100";
        QTest::newRow("250.5") << "250.5" << "250.5" << "250.5";
    }
    void typedClock()
    {
        QFETCH(QString, typed);
        QFETCH(QString, whileFocused);
        QFETCH(QString, afterFocusLoss);
        controls::TextBox *clock = &harness->form->controls().txtSysClk;
        QVERIFY(test::typeOver(clock, typed));
        QCOMPARE(clock->text(), whileFocused);
        PanelHarness::click(&harness->form->controls().cmdHb);
        QCOMPARE(clock->text(), afterFocusLoss);
        QCOMPARE(harness->channel.attempts, 0); // the clock itself sends nothing
    }

    void clockLoweredBelowFrequency()
    {
        window::FormMain &form = *harness->form;
        QVERIFY(test::typeOver(&form.controls().txtFreq, QStringLiteral("200")));
        QVERIFY(test::typeOver(&form.controls().txtSysClk, QStringLiteral("100")));
        harness->clear();
        PanelHarness::click(&form.controls().cmdUpdateFreq); // FTW 2^33 cannot be sent
        QCOMPARE(harness->channel.attempts, 0);
        QCOMPARE(form.controls().txtFreq.text(), QStringLiteral("200"));
        QCOMPARE(form.controls().lblLaserFreq.text(), QStringLiteral("(6.4GHz)"));

        // The next change of the box clamps to half the new clock.
        form.controls().txtFreq.setFocus();
        form.controls().txtFreq.end(false);
        QTest::keyClick(&form.controls().txtFreq, Qt::Key_0);
        QCOMPARE(form.controls().txtFreq.text(), QStringLiteral("50"));
    }

    // A negative clock written whole stays until the box is left; the
    // frequency's clamps meanwhile leave the box alone instead of undoing each
    // other.
    void negativeClockWhileTyped()
    {
        window::FormMain &form = *harness->form;
        QVERIFY(test::typeOver(&form.controls().txtSysClk, QStringLiteral("5")));
        QTest::keyClick(&form.controls().txtSysClk, Qt::Key_Home);
        QTest::keyClick(&form.controls().txtSysClk, Qt::Key_Minus);
        QCOMPARE(form.controls().txtSysClk.text(), QStringLiteral("-5"));
        form.controls().txtFreq.assign(QStringLiteral("7"));
        QCOMPARE(form.controls().txtFreq.text(), QStringLiteral("7"));
        form.controls().txtFreq.assign(QStringLiteral("-7"));
        QCOMPARE(form.controls().txtFreq.text(), QStringLiteral("-7"));
        PanelHarness::click(&form.controls().cmdHb);
        QCOMPARE(form.controls().txtSysClk.text(), QStringLiteral("100"));
    }

    // One row a number box: an assigned text runs the box's own rules, in as
    // many runs (changed()) as its corrections start, to the text they settle
    // on; each run sends and stores what the box holds, and no other box
    // changes. Assigned again, the settled text runs the rules once and stays.
    // Which texts settle where is test_rule_fixed_points' on the rules alone;
    // these rows hold the window's handlers to the same steps.
    void assignedTextSettlesInItsBox_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("clock"); // put in place without its rules first
        QTest::addColumn<QString>("assigned");
        QTest::addColumn<QString>("settled");
        QTest::addColumn<int>("runs");
        QTest::addColumn<QString>("sentByARun");
        QTest::addColumn<QString>("storedAs"); // the setting a run writes the text to, if any
        const auto row = [](const char *box, const char *clock, const char *assigned, const char *settled, int runs,
                            const char *sent, const QString &storedAs) {
            QTest::newRow(box) << box << clock << assigned << settled << runs << sent << storedAs;
        };
        row("txtFreq", "1000", "600", "500", 2, "A5 00 00 00 00 80 | 70 00", {});
        row("txtSysClk", "1000", "-2000x", "1000", 3, "", {});
        row("txtRampRate", "1000", "70000.5", "65535", 2, "", settings::names::RampRate);
        row("txtRampStep", "1000", "-2.5", "0", 2, "", settings::names::RampStep);
        row("txtStopFreq", "250", "-200", "-125", 2, "", settings::names::RampStopFreq);
    }
    void assignedTextSettlesInItsBox()
    {
        QFETCH(QString, box);
        QFETCH(QString, clock);
        QFETCH(QString, assigned);
        QFETCH(QString, settled);
        QFETCH(int, runs);
        QFETCH(QString, sentByARun);
        QFETCH(QString, storedAs);
        const window::PanelControls &panel = harness->form->controls();
        const QList<controls::TextBox *> boxes{&panel.txtFreq, &panel.txtSysClk, &panel.txtRampRate, &panel.txtRampStep,
                                               &panel.txtStopFreq};
        controls::TextBox *target = harness->form->findChild<controls::TextBox *>(box);
        QVERIFY(boxes.contains(target));
        {
            const QSignalBlocker quiet(&panel.txtSysClk);
            panel.txtSysClk.setText(clock);
        }
        QStringList before;
        QMap<controls::TextBox *, int> runsOf;
        QObject counting;
        for (controls::TextBox *each : boxes) {
            before << each->text();
            connect(each, &controls::TextBox::changed, &counting, [&runsOf, each] { ++runsOf[each]; });
        }

        for (const auto &[text, expectedRuns] : {std::pair{assigned, runs}, std::pair{settled, 1}}) {
            harness->clear();
            runsOf.clear();
            target->assign(text);
            QCOMPARE(target->text(), settled);
            QCOMPARE(runsOf.keys(), QList<controls::TextBox *>{target});
            QCOMPARE(runsOf.value(target), expectedRuns);
            for (qsizetype i = 0; i < boxes.size(); ++i)
                QVERIFY(boxes.at(i) == target || boxes.at(i)->text() == before.at(i));
            QCOMPARE(harness->sentHex(),
                     QStringList(sentByARun.isEmpty() ? 0 : expectedRuns, sentByARun).join(QLatin1String(" | ")));
            using Writes = QList<QPair<QString, QString>>;
            QCOMPARE(harness->store.writes, storedAs.isEmpty() ? Writes() : Writes(expectedRuns, {storedAs, settled}));
        }
    }
};

QTEST_MAIN(TestFrequency)
#include "test_frequency.moc"
