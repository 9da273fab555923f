// Restoring the stored settings into the real controls: each value's check,
// the text put back, what the controls' own handling writes back, and that
// nothing reaches the unit while restoring.

#include "gui/window/restore.h"
#include "support/panel_harness.h"

using namespace veloxa;

namespace {

using Stored = QMap<QString, QString>;

// A row of restore_data(): what the store holds, what the controls show
// afterwards, and what the controls' own handling writes back.
void row(const char *name, const Stored &stored, const Stored &expected, const QStringList &writeBacks = {})
{
    QTest::newRow(name) << stored << expected << writeBacks;
}

} // namespace

class TestRestore : public QObject {
    Q_OBJECT

private slots:
    // By the value they are about: one a check the value passes and one it
    // fails, where the control shows it; which values pass is test_rules' table.
    void restore_data()
    {
        QTest::addColumn<Stored>("stored");
        QTest::addColumn<Stored>("expected"); // control -> text/value/selection afterwards
        QTest::addColumn<QStringList>("writeBacks");
        row("empty store", {},
            {{"txtFreq", "12.34"}, {"lblLaserFreq", "(Laser Freq)"}, {"txtSysClk", "1000"}, {"sldContrast", "80"}});
        row("frequency clamped against the initial clock", {{"Frequency", "9999.99"}, {"System Clock", "100"}},
            {{"txtFreq", "500"}, {"txtSysClk", "100"}, {"lblLaserFreq", "(16GHz)"}});
        row("frequency 10000 ignored", {{"Frequency", "10000"}},
            {{"txtFreq", "12.34"}, {"lblLaserFreq", "(Laser Freq)"}});
        row("frequency written anew", {{"Frequency", "12.340"}},
            {{"txtFreq", "12.34"}, {"lblLaserFreq", "(394.88MHz)"}});
        row("same frequency still labelled", {{"Frequency", "12.34"}}, {{"lblLaserFreq", "(394.88MHz)"}});
        row("clock 250.50 written anew", {{"System Clock", "250.50"}}, {{"txtSysClk", "250.5"}});
        row("IP trimmed", {{"IP Address", " 10.0.0.1 "}}, {{"txtIP", "10.0.0.1"}});
        row("polarity False", {{"Polarity", "False"}}, {{"optDdsPolarity", "1"}});
        row("polarity false", {{"Polarity", "false"}}, {{"optDdsPolarity", "0"}});
        row("gain 3abc", {{"Gain (CP current)", "3abc"}}, {{"sldGain", "3"}}, {"Gain (CP current)=3"});
        row("gain unchanged writes nothing", {{"Gain (CP current)", "7"}}, {{"sldGain", "7"}});
        row("contrast 99.5 refused by the slider", {{"Display Contrast", "99.5"}}, {{"sldContrast", "80"}});
        row("contrast 50.5 halves to even", {{"Display Contrast", "50.5"}}, {{"sldContrast", "50"}},
            {"Display Contrast=50"});
        row("rate 65536 becomes 65535", {{"Ramp Rate", "65536"}}, {{"txtRampRate", "65535"}},
            {"Ramp Rate=65535", "Ramp Rate=65535"});
        row("rate 12abc written anew", {{"Ramp Rate", "12abc"}}, {{"txtRampRate", "12"}}, {"Ramp Rate=12"});
        row("step 2^32 becomes 2^32-1", {{"Ramp Step", "4294967296"}}, {{"txtRampStep", "4294967295"}},
            {"Ramp Step=4294967295", "Ramp Step=4294967295"});
        row("step 1e3 written anew", {{"Ramp Step", "1e3"}}, {{"txtRampStep", "1000"}}, {"Ramp Step=1000"});
        row("stop -20", {{"Ramp Stop Freq", "-20"}}, {{"txtStopFreq", "-20"}}, {"Ramp Stop Freq=-20"});
        row("stop checked against the stored clock", {{"Ramp Stop Freq", "150"}, {"System Clock", "200"}},
            {{"txtStopFreq", "15"}, {"txtSysClk", "200"}});
        row("stop within the stored clock", {{"Ramp Stop Freq", "99.5"}, {"System Clock", "200"}},
            {{"txtStopFreq", "99.5"}}, {"Ramp Stop Freq=99.5"});
        row("empty values are not found", {{"Ramp Stop Freq", ""}, {"Frequency", ""}, {"Display Contrast", ""}},
            {{"txtStopFreq", "15"}, {"txtFreq", "12.34"}, {"sldContrast", "80"}});
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
