// The panel's rules on their own, without a window: each correction step,
// the laser offset caption, the checks a stored setting passes, the tuning
// word and the ramp command that Start and Add Ramp build from the boxes.

#include "core/rules/box_rules.h"
#include "core/rules/restore_checks.h"
#include "core/rules/tuning_word.h"
#include "support/bytes.h"

#include <QTest>

#include <functional>

using namespace veloxa;

namespace {

using Step = std::function<rules::Correction(const QString &)>;

const QString kUnchanged = QStringLiteral("<unchanged>");

QString outcome(const rules::Correction &correction)
{
    return correction ? *correction : kUnchanged;
}

} // namespace

class TestRules : public QObject {
    Q_OBJECT

private slots:
    void correctionStep_data()
    {
        QTest::addColumn<Step>("step");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("corrected");
        const Step notANumber = rules::clockNotANumber;
        const Step cap = rules::clockCap;
        const Step lowerBound = rules::clockLowerBound;
        const auto halfOf = [](const QString &clock) {
            return std::pair<Step, Step>{
                [clock](const QString &box) { return rules::aboveHalfClock(box, clock); },
                [clock](const QString &box) { return rules::belowMinusHalfClock(box, clock); }};
        };
        const auto [above1000, below1000] = halfOf(QStringLiteral("1000"));
        const auto [aboveNegative, belowNegative] = halfOf(QStringLiteral("-5"));
        const auto [aboveTyping, belowTyping] = halfOf(QStringLiteral("12x"));
        const Step atMostRate = [](const QString &box) { return rules::wholeAtMost(box, 65535); };

        QTest::newRow("clock 12x") << notANumber << "12x" << "12";
        QTest::newRow("clock -12x keeps the magnitude") << notANumber << "-12x" << "12";
        QTest::newRow("clock empty") << notANumber << "" << "0";
        QTest::newRow("clock -5 is a number") << notANumber << "-5" << kUnchanged;
        QTest::newRow("clock 1000.5 capped") << cap << "1000.5" << "1000";
        QTest::newRow("clock 1000 stays") << cap << "1000" << kUnchanged;
        QTest::newRow("clock 99.9 raised") << lowerBound << "99.9" << "100";
        QTest::newRow("clock 100 stays") << lowerBound << "100" << kUnchanged;
        QTest::newRow("600 above 500") << above1000 << "600" << "500";
        QTest::newRow("500 stays") << above1000 << "500" << kUnchanged;
        QTest::newRow("-600 below -500") << below1000 << "-600" << "-500";
        QTest::newRow("negative clock rests") << aboveNegative << "600" << kUnchanged;
        QTest::newRow("negative clock rests below") << belowNegative << "-600" << kUnchanged;
        QTest::newRow("clock not a number rests") << aboveTyping << "600" << kUnchanged;
        QTest::newRow("rate below 0") << Step(rules::wholeNotNegative) << "-3" << "0";
        QTest::newRow("rate over the word") << atMostRate << "70000" << "65535";
        QTest::newRow("rate 2.5 rounded down") << Step(rules::wholeRoundedDown) << "2.5" << "2";
        QTest::newRow("rate 2.5x stays") << Step(rules::wholeRoundedDown) << "2.5x" << kUnchanged;
        QTest::newRow("empty box") << Step(rules::emptyBox) << "" << "0";
        QTest::newRow("blank box is not empty") << Step(rules::emptyBox) << " " << kUnchanged;
    }
    void correctionStep()
    {
        QFETCH(Step, step);
        QFETCH(QString, text);
        QFETCH(QString, corrected);
        QCOMPARE(outcome(step(text)), corrected);
        // A fixed point: the corrected text passes the same step unchanged.
        if (corrected != kUnchanged)
            QCOMPARE(outcome(step(corrected)), kUnchanged);
    }

    void laserOffsetCaption_data()
    {
        QTest::addColumn<QString>("frequency");
        QTest::addColumn<QString>("caption");
        QTest::newRow("MHz") << "12.34" << "(394.88MHz)";
        QTest::newRow("GHz from 31.25") << "31.25" << "(1GHz)";
        QTest::newRow("negative in MHz") << "-100" << "(-3200MHz)";
        QTest::newRow("leading number") << "12a" << "(384MHz)";
        QTest::newRow("empty") << "" << "(0MHz)";
        QTest::newRow("lone minus") << "-" << "(0MHz)";
    }
    void laserOffsetCaption()
    {
        QFETCH(QString, frequency);
        QFETCH(QString, caption);
        QCOMPARE(rules::laserOffsetCaption(frequency), caption);
    }

    void storedSetting_data()
    {
        using Check = std::function<QString(const rules::Stored &)>;
        QTest::addColumn<Check>("check");
        QTest::addColumn<rules::Stored>("stored");
        QTest::addColumn<QString>("accepted");
        const auto text = [](auto check) {
            return Check([check](const rules::Stored &s) { return check(s).value_or(kUnchanged); });
        };
        const auto number = [](auto check) {
            return Check([check](const rules::Stored &s) {
                const auto v = check(s);
                return v ? QString::number(*v) : kUnchanged;
            });
        };
        const Check contrast = number(rules::acceptedContrast);
        const Check gain = number(rules::acceptedGain);
        const Check frequency = text(rules::acceptedFrequency);
        const Check clock = text(rules::acceptedClock);
        const Check ip = text(rules::acceptedIpAddress);
        const Check rate = text(rules::acceptedRampRate);
        const Check step = text(rules::acceptedRampStep);
        const Check stop = text([](const rules::Stored &s) { return rules::acceptedStopFrequency(s, "500"); });
        const rules::Stored missing;
        const auto is = [](const char *value) { return rules::Stored(QString::fromUtf8(value)); };

        QTest::newRow("contrast rounded half even") << contrast << is("80.5") << "80";
        QTest::newRow("contrast 99.6 rounds out of range") << contrast << is("99.6") << kUnchanged;
        QTest::newRow("contrast missing") << contrast << missing << kUnchanged;
        QTest::newRow("gain 7") << gain << is("7abc") << "7";
        QTest::newRow("gain 7.5") << gain << is("7.5") << kUnchanged;
        QTest::newRow("gain 8") << gain << is("8") << kUnchanged;
        QTest::newRow("contrast 100") << contrast << is("100") << kUnchanged;
        QTest::newRow("contrast -1") << contrast << is("-1") << kUnchanged;
        QTest::newRow("frequency written as a number") << frequency << is(" 012.340x") << "12.34";
        QTest::newRow("frequency 0") << frequency << is("0") << kUnchanged;
        QTest::newRow("clock 99") << clock << is("99") << kUnchanged;
        QTest::newRow("clock 1000") << clock << is("1000") << "1000";
        QTest::newRow("clock 1000.5") << clock << is("1000.5") << kUnchanged;
        QTest::newRow("clock 100") << clock << is("100") << "100";
        QTest::newRow("ip without blanks") << ip << is(" 10.0.0.1 ") << "10.0.0.1";
        QTest::newRow("ip keeps a tab") << ip << is("\t10.0.0.1") << "\t10.0.0.1";
        QTest::newRow("ip 7 characters") << ip << is("1.2.3.4") << kUnchanged;
        QTest::newRow("ip 16 characters") << ip << is("192.168.100.1333") << kUnchanged;
        QTest::newRow("ip a host name") << ip << is("labunit1") << "labunit1";
        QTest::newRow("rate 65536") << rate << is("65536") << "65536";
        QTest::newRow("rate 65537") << rate << is("65537") << kUnchanged;
        QTest::newRow("step 2^32") << step << is("4294967296") << "4294967296";
        QTest::newRow("stop -20 at 500") << stop << is("-20") << "-20";
        QTest::newRow("stop 250 at 500") << stop << is("250") << kUnchanged;
    }
    void storedSetting()
    {
        using Check = std::function<QString(const rules::Stored &)>;
        QFETCH(Check, check);
        QFETCH(rules::Stored, stored);
        QFETCH(QString, accepted);
        QCOMPARE(check(stored), accepted);
    }

    void polarityAndEdgesAndPort()
    {
        QVERIFY(rules::polarityIsMinus(QStringLiteral("False")));
        QVERIFY(!rules::polarityIsMinus(QStringLiteral("false")));
        QVERIFY(!rules::polarityIsMinus(QStringLiteral("True")));
        QVERIFY(!rules::polarityIsMinus(QStringLiteral("0")));
        QVERIFY(!rules::polarityIsMinus(std::nullopt));
        QVERIFY(rules::acceptedEdge(QStringLiteral("100"), 200.0f) == 100.0f);
        QVERIFY(!rules::acceptedEdge(QStringLiteral("0"), 200.0f));
        QVERIFY(!rules::acceptedEdge(QStringLiteral("200"), 200.0f));
        QVERIFY(rules::destinationPort(QStringLiteral("37829")) == 37829);
        QVERIFY(rules::destinationPort(QStringLiteral("2.5")) == 2);
        QVERIFY(!rules::destinationPort(QStringLiteral("65536")));
    }

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

    // The ramp-start command and the sequence's ramp entry from the same
    // texts; the entry is the command behind C1.
    void rampCommand_data()
    {
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QString>("step");
        QTest::addColumn<QString>("stop");
        QTest::addColumn<QString>("clock");
        QTest::addColumn<QString>("command"); // "" when nothing may be sent
        const auto row = [](const char *name, const char *rate, const char *step, const char *stop, const char *clock,
                            const char *command) { QTest::newRow(name) << rate << step << stop << clock << command; };
        const char *initial = "AC 00 00 01 00 00 00 00 01 00 00 00 3D 0A D7 03";
        row("initial texts", "1", "1", "15", "1000", initial);
        row("stop -15 as 15", "1", "1", "-15", "1000", initial);
        row("empty stop", "1", "1", "", "1000", "AC 00 00 01 00 00 00 00 01 00 00 00 00 00 00 00");
        row("largest step and rate", "65535", "4294967295", "15", "1000",
            "AC 00 00 FF FF FF FF 00 FF FF 00 00 3D 0A D7 03");
        row("zero step and rate", "0", "0", "15", "1000", "AC 00 00 00 00 00 00 00 00 00 00 00 3D 0A D7 03");
        row("stop at half the clock", "1", "1", "500", "1000", "AC 00 00 01 00 00 00 00 01 00 00 00 00 00 00 80");
        row("stop -500", "1", "1", "-500", "1000", "AC 00 00 01 00 00 00 00 01 00 00 00 00 00 00 80");
        row("stop 250.5", "1", "1", "250.5", "1000", "AC 00 00 01 00 00 00 00 01 00 00 00 9B C4 20 40");
        row("stop 12abc reads 12", "1", "1", "12abc", "1000", "AC 00 00 01 00 00 00 00 01 00 00 00 97 6E 12 03");
        row("step 1e3", "1", "1e3", "15", "1000", "AC 00 00 E8 03 00 00 00 01 00 00 00 3D 0A D7 03");
        row("step 1e3, rate 300", "300", "1e3", "15", "1000", "AC 00 00 E8 03 00 00 00 2C 01 00 00 3D 0A D7 03");
        row("stop 125 at clock 250", "1", "1", "125", "250", "AC 00 00 01 00 00 00 00 01 00 00 00 00 00 00 80");
        row("stop 399.99 at clock 400", "1", "1", "399.99", "400", "AC 00 00 01 00 00 00 00 01 00 00 00 91 5C FE FF");
        row("rate 12abc", "12abc", "1", "15", "1000", "");
        row("step 25x", "1", "25x", "15", "1000", "");
        row("rate 65536", "65536", "1", "15", "1000", "");
        row("step 2^32", "1", "4294967296", "15", "1000", "");
        row("stop 400 at clock 400", "1", "1", "400", "400", "");
        row("stop -400 at clock 400", "1", "1", "-400", "400", "");
        row("stop 450 at clock 400", "1", "1", "450", "400", "");
        row("clock not a number", "1", "1", "15", "1000x", "");
        row("clock 0", "1", "1", "15", "0", "");
    }
    void rampCommand()
    {
        QFETCH(QString, rate);
        QFETCH(QString, step);
        QFETCH(QString, stop);
        QFETCH(QString, clock);
        QFETCH(QString, command);
        const auto hexOf = [](const std::optional<link::Datagram> &datagram) {
            return datagram ? test::hex(*datagram) : QString();
        };
        QCOMPARE(hexOf(rules::buildRampStartCommand(step, rate, stop, clock)), command);
        QCOMPARE(hexOf(rules::buildSequenceRampEntry(step, rate, stop, clock)),
                 command.isEmpty() ? QString() : QStringLiteral("C1 ") + command);
    }
};

QTEST_APPLESS_MAIN(TestRules)
#include "test_rules.moc"
