// Start-up on a settings file with hostile contents: the real window on the
// real store (its writer thread included), a recording channel. Every value name gets every kind
// of bad value in turn (the other names holding good values), and a few files
// are bad as a whole. Start-up must complete, send only contrast and gain,
// leave every control with a value it could hold, and the window must take
// input afterwards.

#include "core/link/udp_channel.h"
#include "core/rules/text_numbers.h"
#include "core/rules/tuning_word.h"
#include "core/settings/queued_store.h"
#include "gui/window/window_position.h"
#include "support/panel_harness.h"
#include "support/store_files.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cmath>

using namespace veloxa;

namespace {

using test::iniFile;
using Values = test::IniValues;

// Good values for every name but the position; the test starts from these.
const Values &goodValues()
{
    static const Values values = {
        {settings::names::IpAddress, "127.0.0.1"}, {settings::names::Frequency, "20"},
        {settings::names::SystemClock, "500"},     {settings::names::Polarity, "False"},
        {settings::names::DisplayContrast, "42"},  {settings::names::Gain, "2"},
        {settings::names::RampRate, "100"},        {settings::names::RampStep, "1000"},
        {settings::names::RampStopFreq, "-30"},
    };
    return values;
}

// What a bad value does to the store: read as a number (contrast and gain
// rows), or not found (-1); or it spoils the file as a whole, which then
// reads as not found for every name.
struct Hostile {
    const char *name;
    QByteArray bytes;
    int asNumber;
    bool spoilsFile = false;
};

QList<Hostile> hostileValues()
{
    return {
        {"huge 100 kB", QByteArray(qsizetype(100) * 1024, '7'), -1},
        {"empty", "", -1},
        {"NUL-laden", QByteArray("4\0\0002\0", 5), -1, true},
        {"not UTF-8", "4\xff\xfe\xc3", -1, true},
        {"nan", "nan", 0},
        {"inf", "inf", 0},
        {"-inf", "-inf", 0},
        {"1e999", "1e999", -1},
        {"-0", "-0", 0},
        {"0x10", "0x10", 0},
        {"1024 bytes", '3' + QByteArray(1023, 'x'), 3},
        {"1025 bytes", '3' + QByteArray(1024, 'x'), -1},
        {"@ByteArray", "@ByteArray(5)", 5},
        // QSettings streams variants in the Qt 4.0 format: type id, then the data.
        {"@Variant int", "@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)", 5},
        {"@Variant short", "@Variant(\\0\\0\\0\\x82\\0\\x5)", 5},
        {"@Variant garbage", "@Variant(garbage)", -1},
        {"@Invalid", "@Invalid()", -1},
        {"@Rect", "@Rect(1 2 3 4)", -1}, // "1 2 3 4": leading number 1234
        {"unquoted list", "1, 2", 1},
        {"blanks", "  \t ", -1},
        {"quote left open", "\"5", -1, true},
    };
}

constexpr int kInitialContrast = 80;
constexpr int kInitialGain = 7;

// The window on the panel's own store, in a file of the test's.
using StorePanel = test::Panel<link::RecordingChannel, settings::QueuedStore>;

} // namespace

class TestHostileStore : public QObject {
    Q_OBJECT

private:
    // Every box holds a number it could hold after its own rules.
    static void everyBoxHoldsANumberItCould(window::FormMain &form)
    {
        const auto clock = rules::whole(form.controls().txtSysClk.text());
        QVERIFY2(clock && *clock >= 100 && *clock <= 1000, qPrintable(form.controls().txtSysClk.text()));
        // The frequency is restored before the clock and clamped to the clock
        // the box holds then (1000 at first); the stop frequency after it.
        const auto frequency = rules::whole(form.controls().txtFreq.text());
        QVERIFY2(frequency && std::fabs(*frequency) <= 500.0, qPrintable(form.controls().txtFreq.text()));
        const auto stop = rules::whole(form.controls().txtStopFreq.text());
        QVERIFY2(stop && std::fabs(*stop) <= rules::asWritten(*clock / 2.0),
                 qPrintable(form.controls().txtStopFreq.text()));
        for (controls::TextBox *box : {&form.controls().txtRampRate, &form.controls().txtRampStep}) {
            const double largest = box == &form.controls().txtRampRate ? 65535.0 : 4294967295.0;
            const auto value = rules::whole(box->text());
            QVERIFY2(value && numbers::isWhole(*value) && *value >= 0 && *value <= largest,
                     qPrintable(box->objectName() + ": " + box->text()));
        }
    }

private slots:
    void startUpOnHostileFile_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("contrast");
        QTest::addColumn<int>("gain");
        QTest::addColumn<int>("polarity");
        QTest::addColumn<QString>("ip");
        namespace n = settings::names;
        const Values &good = goodValues();
        QTest::newRow("all good") << iniFile(good) << 42 << 2 << 1 << "127.0.0.1";

        for (const QString &name : test::storeNames()) {
            for (const Hostile &hostile : hostileValues()) {
                // A value that spoils the file does so whatever its name: one row each.
                if (hostile.spoilsFile && name != n::Frequency)
                    continue;
                Values values = good;
                values.insert(name, hostile.bytes);
                const bool spoiled = hostile.spoilsFile;
                const auto expectedNumber = [&](const QString &which, int stored, int initial, int largest) {
                    if (spoiled)
                        return initial;
                    if (name != which)
                        return stored;
                    return hostile.asNumber >= 0 && hostile.asNumber <= largest ? hostile.asNumber : initial;
                };
                QTest::addRow("%s = %s", qPrintable(name), hostile.name)
                    << iniFile(values) << expectedNumber(n::DisplayContrast, 42, kInitialContrast, 99)
                    << expectedNumber(n::Gain, 2, kInitialGain, 7) << (spoiled || name == n::Polarity ? 0 : 1)
                    << (spoiled || name == n::IpAddress ? "192.168.1.133" : "127.0.0.1");
            }
        }

        // Whole files.
        QTest::newRow("another section only")
            << iniFile(good, "Veloxa") << kInitialContrast << kInitialGain << 0 << "192.168.1.133";
        QTest::newRow("another section too")
            << iniFile(good) + iniFile({{n::DisplayContrast, "9"}, {n::Gain, "1"}}, "Other") << 42 << 2 << 1
            << "127.0.0.1";
        QTest::newRow("empty file") << QByteArray() << kInitialContrast << kInitialGain << 0 << "192.168.1.133";
        QTest::newRow("no section") << iniFile(good).mid(10) << 42 << 2 << 1 << "127.0.0.1";
        QRandomGenerator random(7);
        for (int i = 0; i < 4; ++i) {
            QByteArray garbage(4096, Qt::Uninitialized);
            for (char &c : garbage)
                c = static_cast<char>(random.bounded(256));
            QTest::addRow("binary garbage %d", i)
                << garbage << kInitialContrast << kInitialGain << 0 << "192.168.1.133";
        }
    }
    void startUpOnHostileFile()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, contrast);
        QFETCH(int, gain);
        QFETCH(int, polarity);
        QFETCH(QString, ip);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("KW/Veloxa.conf"));
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("KW"))));
        QVERIFY(test::putBytes(path, file));

        StorePanel panel(path);
        window::FormMain &form = *panel.form;
        panel.lifecycle->startUp();
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        // Only contrast and gain went out, with the values the controls hold.
        QCOMPARE(test::hexList(panel.channel.sent),
                 test::hexList({*link::contrastCommand(contrast), *link::gainCommand(gain)}));
        QCOMPARE(form.controls().sldContrast.value(), contrast);
        QCOMPARE(form.controls().sldGain.value(), gain);
        QCOMPARE(form.controls().optDdsPolarity.selectedIndex(), polarity);
        QCOMPARE(form.controls().txtIP.text(), ip);

        everyBoxHoldsANumberItCould(form);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(window::titleBarReachable(form.frameGeometry(), window::currentScreens().screens));
        QVERIFY(link::parseDottedQuad(form.controls().txtIP.text()));

        // The window takes input: a typed frequency goes out.
        form.activateWindow();
        panel.channel.sent.clear();
        QVERIFY(test::retype(&form.controls().txtFreq, QStringLiteral("20")));
        const auto typed = rules::buildFrequencyCommand(QStringLiteral("20"), form.controls().txtSysClk.text());
        QVERIFY(typed);
        QCOMPARE(test::hexList(panel.channel.sent.mid(panel.channel.sent.size() - 2)),
                 test::hexList({*typed, *link::polarityCommand(polarity)}));
    }
};

QTEST_MAIN(TestHostileStore)
#include "test_hostile_store.moc"
