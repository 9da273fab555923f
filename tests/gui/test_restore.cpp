// Restoring the stored settings into the real controls: each value's check,
// the text put back, what the controls' own handling writes back, and that
// nothing reaches the unit while restoring.

#include "gui/window/restore.h"
#include "support/panel_harness.h"

using namespace veloxa;

using Stored = QMap<QString, QString>;

class TestRestore : public QObject {
    Q_OBJECT

private:
    // The rows of restore_data(), by the value they are about: one a check
    // the value passes and one it fails, where the control shows it; which
    // values pass is test_rules' table.
    static void frequencyRows()
    {
        QTest::newRow("frequency clamped against the initial clock")
            << Stored{{"Frequency", "9999.99"}, {"System Clock", "100"}}
            << Stored{{"txtFreq", "500"}, {"txtSysClk", "100"}, {"lblLaserFreq", "(16GHz)"}} << QStringList{};
        QTest::newRow("frequency 10000 ignored")
            << Stored{{"Frequency", "10000"}} << Stored{{"txtFreq", "12.34"}, {"lblLaserFreq", "(Laser Freq)"}}
            << QStringList{};
        QTest::newRow("frequency written anew")
            << Stored{{"Frequency", "12.340"}} << Stored{{"txtFreq", "12.34"}, {"lblLaserFreq", "(394.88MHz)"}}
            << QStringList{};
        QTest::newRow("same frequency still labelled")
            << Stored{{"Frequency", "12.34"}} << Stored{{"lblLaserFreq", "(394.88MHz)"}} << QStringList{};
    }

    static void clockRows()
    {
        QTest::newRow("clock 250.50 written anew")
            << Stored{{"System Clock", "250.50"}} << Stored{{"txtSysClk", "250.5"}} << QStringList{};
    }

    static void addressRows()
    {
        QTest::newRow("IP trimmed") << Stored{{"IP Address", " 10.0.0.1 "}} << Stored{{"txtIP", "10.0.0.1"}}
                                    << QStringList{};
    }

    static void polarityRows()
    {
        QTest::newRow("polarity False") << Stored{{"Polarity", "False"}} << Stored{{"optDdsPolarity", "1"}}
                                        << QStringList{};
        QTest::newRow("polarity false") << Stored{{"Polarity", "false"}} << Stored{{"optDdsPolarity", "0"}}
                                        << QStringList{};
    }

    static void sliderRows()
    {
        QTest::newRow("gain 3abc") << Stored{{"Gain (CP current)", "3abc"}} << Stored{{"sldGain", "3"}}
                                   << QStringList{"Gain (CP current)=3"};
        QTest::newRow("gain unchanged writes nothing")
            << Stored{{"Gain (CP current)", "7"}} << Stored{{"sldGain", "7"}} << QStringList{};
        QTest::newRow("contrast 99.5 refused by the slider")
            << Stored{{"Display Contrast", "99.5"}} << Stored{{"sldContrast", "80"}} << QStringList{};
        QTest::newRow("contrast 50.5 halves to even")
            << Stored{{"Display Contrast", "50.5"}} << Stored{{"sldContrast", "50"}}
            << QStringList{"Display Contrast=50"};
    }

    static void rampRows()
    {
        QTest::newRow("rate 65536 becomes 65535") << Stored{{"Ramp Rate", "65536"}} << Stored{{"txtRampRate", "65535"}}
                                                  << QStringList{"Ramp Rate=65535", "Ramp Rate=65535"};
        QTest::newRow("rate 12abc written anew")
            << Stored{{"Ramp Rate", "12abc"}} << Stored{{"txtRampRate", "12"}} << QStringList{"Ramp Rate=12"};
        QTest::newRow("step 2^32 becomes 2^32-1")
            << Stored{{"Ramp Step", "4294967296"}} << Stored{{"txtRampStep", "4294967295"}}
            << QStringList{"Ramp Step=4294967295", "Ramp Step=4294967295"};
        QTest::newRow("step 1e3 written anew")
            << Stored{{"Ramp Step", "1e3"}} << Stored{{"txtRampStep", "1000"}} << QStringList{"Ramp Step=1000"};
        QTest::newRow("stop -20") << Stored{{"Ramp Stop Freq", "-20"}} << Stored{{"txtStopFreq", "-20"}}
                                  << QStringList{"Ramp Stop Freq=-20"};
        QTest::newRow("stop checked against the stored clock")
            << Stored{{"Ramp Stop Freq", "150"}, {"System Clock", "200"}}
            << Stored{{"txtStopFreq", "15"}, {"txtSysClk", "200"}} << QStringList{};
        QTest::newRow("stop within the stored clock")
            << Stored{{"Ramp Stop Freq", "99.5"}, {"System Clock", "200"}} << Stored{{"txtStopFreq", "99.5"}}
            << QStringList{"Ramp Stop Freq=99.5"};
    }

private slots:
    void restore_data()
    {
        QTest::addColumn<Stored>("stored");
        QTest::addColumn<Stored>("expected"); // control -> text/value/selection afterwards
        QTest::addColumn<QStringList>("writeBacks");

        QTest::newRow("empty store") << Stored{}
                                     << Stored{{"txtFreq", "12.34"},
                                               {"lblLaserFreq", "(Laser Freq)"},
                                               {"txtSysClk", "1000"},
                                               {"sldContrast", "80"}}
                                     << QStringList{};
        frequencyRows();
        clockRows();
        addressRows();
        polarityRows();
        sliderRows();
        rampRows();
        QTest::newRow("empty values are not found")
            << Stored{{"Ramp Stop Freq", ""}, {"Frequency", ""}, {"Display Contrast", ""}}
            << Stored{{"txtStopFreq", "15"}, {"txtFreq", "12.34"}, {"sldContrast", "80"}} << QStringList{};
    }

    void restore()
    {
        QFETCH(Stored, stored);
        QFETCH(Stored, expected);
        QFETCH(QStringList, writeBacks);

        test::PanelHarness harness;
        harness.store.values = stored;
        harness.form->show();
        window::restoreSettings(*harness.form, harness.store);

        window::FormMain &form = *harness.form;
        for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
            QObject *control = it.key() == QLatin1String("optDdsPolarity")
                ? static_cast<QObject *>(&form.controls().optDdsPolarity)
                : form.findChild<QObject *>(it.key());
            QString actual;
            if (auto *box = qobject_cast<QLineEdit *>(control))
                actual = box->text();
            else if (auto *label = qobject_cast<QLabel *>(control))
                actual = label->text();
            else if (auto *slider = qobject_cast<QSlider *>(control))
                actual = QString::number(slider->value());
            else if (auto *options = qobject_cast<controls::OptionGroup *>(control))
                actual = QString::number(options->selectedIndex());
            QCOMPARE(actual, it.value());
        }

        QStringList written;
        for (const auto &[name, text] : std::as_const(harness.store.writes))
            written << name + QLatin1Char('=') + text;
        QCOMPARE(written, writeBacks);
        // No destination yet: nothing reaches the unit from restoring.
        QVERIFY(harness.channel.sent.isEmpty());
    }

    void restoredPolaritySelectedSendsNothingButRepeats()
    {
        test::PanelHarness harness;
        harness.store.values.insert(settings::names::Polarity, QStringLiteral("False"));
        harness.startAndClear();
        QVERIFY(harness.form->controls().optDdsPolarity.isSelected(1));
        test::PanelHarness::click(&harness.form->controls().cmdUpdateFreq);
        QCOMPARE(harness.sentHex(), QStringLiteral("A5 00 D8 B6 28 03 | 70 01"));
        harness.form->close();
        QCOMPARE(harness.store.values.value(settings::names::Polarity), QStringLiteral("False"));
    }

    void startUpWithSeededStoreSendsOnlyContrastAndGain()
    {
        test::PanelHarness harness;
        harness.store.values =
            Stored{{"Display Contrast", "42"}, {"Gain (CP current)", "2"}, {"Polarity", "False"},
                   {"Frequency", "20"},        {"System Clock", "500"},    {"IP Address", "127.0.0.1"},
                   {"Ramp Rate", "10"},        {"Ramp Step", "100"},       {"Ramp Stop Freq", "-30"}};
        harness.lifecycle->startUp();
        QCOMPARE(harness.sentHex(), QStringLiteral("63 2A | 67 40"));
        QCOMPARE(harness.channel.destinationHost, QStringLiteral("127.0.0.1"));
        QCOMPARE(harness.form->controls().lblLaserFreq.text(), QStringLiteral("(640MHz)"));
    }
};

QTEST_MAIN(TestRestore)
#include "test_restore.moc"
