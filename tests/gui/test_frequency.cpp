// The system clock box and the DDS frequency box, typed key by key into the
// real window: corrections, the laser offset label and the datagrams sent.

#include "core/link/decoder.h"
#include "core/rules/tuning_word.h"
#include "support/panel_harness.h"

#include <QRandomGenerator>

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

    void tuningWord_data()
    {
        QTest::addColumn<QString>("frequency");
        QTest::addColumn<QString>("clock");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<double>("ftw");
        QTest::newRow("12.34 at 1000") << "12.34" << "1000" << true << 52999896.0;
        QTest::newRow("sign dropped") << "-12.34" << "1000" << true << 52999896.0;
        QTest::newRow("leading number") << "12.34abc" << "1000" << true << 52999896.0;
        QTest::newRow("empty is 0") << "" << "1000" << true << 0.0;
        QTest::newRow("half the clock") << "500" << "1000" << true << 2147483648.0;
        QTest::newRow("above the word") << "200" << "100" << true << 8589934592.0;
        QTest::newRow("clock not a number") << "12.34" << "12x" << false << 0.0;
        QTest::newRow("clock empty") << "12.34" << "" << false << 0.0;
        QTest::newRow("clock 0") << "12.34" << "0" << false << 0.0;
        QTest::newRow("clock with blanks") << "100" << " 1000 " << true << 429496729.0;
    }

    void tuningWord()
    {
        QFETCH(QString, frequency);
        QFETCH(QString, clock);
        QFETCH(bool, ok);
        QFETCH(double, ftw);
        const auto result = rules::tuningWordFromTexts(frequency, clock);
        QCOMPARE(result.has_value(), ok);
        if (ok)
            QCOMPARE(*result, ftw);
    }

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
        QTest::newRow("500 stays") << "500" << false << "500" << "(16GHz)" << "A5 00 00 00 00 80 | 70 00";
        QTest::newRow("-12.34") << "-12.34" << false << "-12.34" << "(-394.88MHz)" << "A5 00 D8 B6 28 03 | 70 00";
        QTest::newRow("499.999999") << "499.999999" << false << "499.999999" << "(15.999999968GHz)"
                                    << "A5 00 FB FF FF 7F | 70 00";
        QTest::newRow("12.34abc") << "12.34abc" << false << "12.34abc" << "(394.88MHz)"
                                  << "A5 00 D8 B6 28 03 | 70 00";
        QTest::newRow("lone minus") << "-" << false << "-" << "(0MHz)" << "A5 00 00 00 00 00 | 70 00";
        QTest::newRow("emptied") << "" << false << "" << "(0MHz)" << "A5 00 00 00 00 00 | 70 00";
        QTest::newRow("1e3 clamps") << "1e3" << false << "500" << "(16GHz)" << twice;
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

    void typedClock_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("whileFocused");
        QTest::addColumn<QString>("afterFocusLoss");
        QTest::newRow("1200") << "1200" << "1000" << "1000";
        QTest::newRow("1000.5") << "1000.5" << "1000" << "1000";
        QTest::newRow("1000") << "1000" << "1000" << "1000";
        QTest::newRow("250") << "250" << "250" << "250";
        QTest::newRow("99.9") << "99.9" << "99.9" << "100";
        QTest::newRow("emptied") << "" << "0" << "100";
        QTest::newRow("12x") << "12x" << "12" << "100";
        QTest::newRow("-12x") << "-12x" << "12" << "100";
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

    void negativeClockWrittenWholeStaysUntilFocusLoss()
    {
        controls::TextBox *clock = &harness->form->controls().txtSysClk;
        QVERIFY(test::typeOver(clock, QStringLiteral("5")));
        QTest::keyClick(clock, Qt::Key_Home);
        QTest::keyClick(clock, Qt::Key_Minus);
        QCOMPARE(clock->text(), QStringLiteral("-5"));
        PanelHarness::click(&harness->form->controls().cmdHb);
        QCOMPARE(clock->text(), QStringLiteral("100"));
    }

    void clockAssignedWhole_data()
    {
        QTest::addColumn<QString>("assigned");
        QTest::addColumn<QString>("text");
        QTest::newRow("1e3 stays") << "1e3" << "1e3";
        QTest::newRow("1e4 capped") << "1e4" << "1000";
        QTest::newRow("1,000 becomes 1") << "1,000" << "1";
        QTest::newRow("blanks inside") << "1 000" << "1000";
        QTest::newRow("overflow") << "1e999" << "1000";
        QTest::newRow("nan") << "nan" << "0";
        QTest::newRow("surrounding blanks stay") << " 500 " << " 500 ";
    }

    void clockAssignedWhole()
    {
        QFETCH(QString, assigned);
        QFETCH(QString, text);
        harness->form->controls().txtSysClk.assign(assigned);
        QCOMPARE(harness->form->controls().txtSysClk.text(), text);
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

    void clickRaisesClockBeforeTheButtonActs()
    {
        window::FormMain &form = *harness->form;
        QVERIFY(test::typeOver(&form.controls().txtSysClk, QStringLiteral("99.9")));
        harness->clear();
        PanelHarness::click(&form.controls().cmdUpdateFreq);
        QCOMPARE(form.controls().txtSysClk.text(), QStringLiteral("100"));
        // 12.34 MHz at a clock of 100 MHz, not 99.9.
        QCOMPARE(harness->sentHex(), QStringLiteral("A5 00 74 24 97 1F | 70 00"));
    }

    void negativeClockDoesNotLoopTheClamps()
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
    }

    // Random texts in both boxes: every handling ends after a few nested runs,
    // leaves a text its rules no longer change, and sends only well-formed
    // datagrams.
    void fixedPoint()
    {
        window::FormMain &form = *harness->form;
        QRandomGenerator random(20261208);
        const QString alphabet = QStringLiteral("0123456789-+.eE xa,");
        auto randomText = [&](int maxLength) {
            QString text;
            const int length = random.bounded(maxLength + 1);
            for (int i = 0; i < length; ++i)
                text += alphabet.at(random.bounded(alphabet.size()));
            return text;
        };
        const QStringList clocks = {"1000", "100", "0", "-5", "-1e308", "1e308", "250.5", "", "x", "12x", "1e-300"};

        int changes = 0;
        QObject counter;
        connect(&form.controls().txtFreq, &controls::TextBox::changed, &counter, [&] { ++changes; });
        connect(&form.controls().txtSysClk, &controls::TextBox::changed, &counter, [&] { ++changes; });

        for (int round = 0; round < 3000; ++round) {
            controls::TextBox *box = round % 3 == 0 ? &form.controls().txtSysClk : &form.controls().txtFreq;
            const QString clock = round % 2 ? clocks.at(random.bounded(clocks.size())) : randomText(8);
            // Put the clock text in place without its rules, as a box that has
            // the focus can hold one for a while.
            {
                const QSignalBlocker quiet(&form.controls().txtSysClk);
                form.controls().txtSysClk.setText(clock);
            }
            const QString text = randomText(12);
            harness->clear();
            changes = 0;
            box->assign(text);
            QVERIFY2(changes <= 4,
                     qPrintable(QStringLiteral("%1 runs for '%2' at clock '%3'").arg(changes).arg(text, clock)));
            const QString settled = box->text();
            box->assign(settled);
            QVERIFY2(box->text() == settled, qPrintable(text + QLatin1String(" / ") + clock));
            for (const QByteArray &datagram : std::as_const(harness->channel.sent))
                QVERIFY2(link::decode(datagram).command, qPrintable(test::hex(datagram)));
        }
    }
};

QTEST_MAIN(TestFrequency)
#include "test_frequency.moc"
