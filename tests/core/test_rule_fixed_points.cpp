// Texts assigned to the number boxes settle on a fixed point of each box's
// rules (box_handlers.h): known texts as a table, then random ones from fixed
// seeds, so that a failure repeats; the ramp command built from settled boxes
// carries what they say.

#include "box_handlers.h"
#include "core/link/decoder.h"
#include "support/random_text.h"

#include <QTest>

#include <algorithm>

using namespace veloxa;
using test::Box;

Q_DECLARE_METATYPE(veloxa::rules::Box)

namespace {

// Clock texts the rules must cope with: the bounds, fractions (one whose half
// is written rounded up), texts put in while the clock box is being typed into
// (0, negative, not a number, empty), and beyond the range of a double.
const QStringList kClocks{"1000", "100", "400",   "250.5", "999.9", "999.999999999997", "1e3",    "0",
                          "-0",   "-5",  "-1000", "50",    "0.001", "1e-300",           "1e-400", "",
                          "abc",  "12x", "-",     "1e308", "1e400", "-1e308",           " 300 ",  "5000"};

constexpr int kRounds = 3000;

} // namespace

class TestRuleFixedPoints : public QObject {
    Q_OBJECT

private slots:
    void knownTexts_data()
    {
        QTest::addColumn<Box>("box");
        QTest::addColumn<QString>("clock");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("settled");
        QTest::addColumn<int>("runs");
        QTest::addColumn<QString>("left"); // once the box is left
        const auto row = [](const char *name, Box box, const char *clock, const char *text, const char *settled,
                            int runs, const char *left) {
            QTest::newRow(name) << box << clock << text << settled << runs << left;
        };
        row("frequency 600", Box::Frequency, "1000", "600", "500", 2, "500");
        row("frequency -600", Box::Frequency, "1000", "-600", "-500", 2, "-500");
        row("frequency reading 500 stays", Box::Frequency, "1000", "499.999999999999999", "499.999999999999999", 1,
            "499.999999999999999");
        // Half the clock is 499.9999999999985, written 499.999999999999: the
        // written bound is above it, and the box holding it is not clamped again.
        row("bound written rounded up", Box::Frequency, "999.999999999997", "600", "499.999999999999", 2,
            "499.999999999999");
        row("clock 0", Box::Frequency, "0", "5", "0", 2, "0");
        row("clock 1e308", Box::Frequency, "1e308", "1e308", "5E+307", 2, "5E+307");
        row("clock 1e-300", Box::Frequency, "1e-300", "1e308", "5E-301", 2, "5E-301");
        row("negative clock rests", Box::Frequency, "-5", "-7", "-7", 1, "-7");
        row("clock not a number rests", Box::Frequency, "12x", "600", "600", 1, "600");
        row("stop just above 100", Box::Stop, "200", "100.0000000000001", "100", 2, "100");
        row("stop letters", Box::Stop, "1000", "abc", "abc", 1, "abc");
        row("stop 1e3", Box::Stop, "1000", "1e3", "500", 2, "500");
        row("stop 600 at clock 999.9", Box::Stop, "999.9", "600", "499.95", 2, "499.95");
        row("clock -2000x", Box::Clock, "", "-2000x", "1000", 3, "1000");
        row("clock 1e999", Box::Clock, "", "1e999", "1000", 3, "1000");
        row("clock -1e999", Box::Clock, "", "-1e999", "1000", 3, "1000");
        row("clock 12x", Box::Clock, "", "12x", "12", 2, "100");
        row("clock emptied", Box::Clock, "", "", "0", 2, "100");
        row("clock -5 until left", Box::Clock, "", "-5", "-5", 1, "100");
        row("clock with blanks", Box::Clock, "", " 500 ", " 500 ", 1, " 500 ");
        row("clock 1e3", Box::Clock, "", "1e3", "1e3", 1, "1e3");
        row("clock 1e4", Box::Clock, "", "1e4", "1000", 2, "1000");
        row("clock 1,000", Box::Clock, "", "1,000", "1", 2, "100");
        row("clock blank inside", Box::Clock, "", "1 000", "1000", 2, "1000");
        row("clock nan", Box::Clock, "", "nan", "0", 2, "100");
        row("rate 70000.5", Box::Rate, "1000", "70000.5", "65535", 2, "65535");
        row("rate 1e999", Box::Rate, "1000", "1e999", "65535", 2, "65535");
        row("rate 2.5x stays", Box::Rate, "1000", "2.5x", "2.5x", 1, "2.5x");
        row("rate -2.5x", Box::Rate, "1000", "-2.5x", "0", 2, "0");
        row("rate 007 stays", Box::Rate, "1000", "007", "007", 1, "007");
        row("rate emptied", Box::Rate, "1000", "", "", 1, "0");
        row("step -2.5", Box::Step, "1000", "-2.5", "0", 2, "0");
        row("step 2^32", Box::Step, "1000", "4294967296", "4294967295", 2, "4294967295");
        row("step 1.5", Box::Step, "1000", "1.5", "1", 2, "1");
        row("step 1e10", Box::Step, "1000", "1e10", "4294967295", 2, "4294967295");
    }
    void knownTexts()
    {
        QFETCH(Box, box);
        QFETCH(QString, clock);
        QFETCH(QString, text);
        QFETCH(QString, settled);
        QFETCH(int, runs);
        QFETCH(QString, left);
        const test::Settled result = test::settle(box, text, clock);
        QCOMPARE(result.text, settled);
        QCOMPARE(result.runs, runs);
        QCOMPARE(test::leave(box, settled, clock).text, left);
        const QString problem = test::settlingProblem(box, text, clock);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }

    void randomTexts_data()
    {
        QTest::addColumn<Box>("box");
        QTest::addColumn<int>("deepest"); // the most runs the random texts must reach
        for (const Box box : test::kEveryBox)
            QTest::newRow(qPrintable(test::nameOf(box))) << box << (box == Box::Clock ? 3 : 2);
    }
    void randomTexts()
    {
        QFETCH(Box, box);
        QFETCH(int, deepest);
        test::RandomText random(20261208u + static_cast<quint32>(box));
        int corrected = 0;
        int mostRuns = 0;
        for (int round = 0; round < kRounds; ++round) {
            // Half the time the clock has been through its own rules (a
            // number, still possibly below 100 or negative while typed into).
            QString clock = random.below(2) == 0 ? random.anyOf(kClocks) : random.next(12);
            if (random.below(2) == 0)
                clock = test::settle(Box::Clock, clock, {}).text;
            const QString text = random.next(14);
            const QString problem = test::settlingProblem(box, text, clock);
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
            const int runs = test::settle(box, text, clock).runs;
            corrected += runs > 1 ? 1 : 0;
            mostRuns = std::max(mostRuns, runs);
        }
        // The texts reach the rules: many are corrected, by the deepest chain too.
        QVERIFY2(corrected > kRounds / 20, qPrintable(QString::number(corrected)));
        QVERIFY2(mostRuns >= deepest, qPrintable(QString::number(mostRuns)));
    }

    // Random texts settled in the ramp's boxes: ramp start sends nothing or a
    // ramp-start command carrying the boxes' readings, and with a clock the
    // clock box accepts it always sends once the rate and step are numbers.
    void rampStartFromSettledBoxes()
    {
        test::RandomText random(0x5EEDu);
        int built = 0;
        for (int round = 0; round < kRounds; ++round) {
            QString clock = random.below(4) == 0 ? random.next(14) : random.anyOf(kClocks);
            const bool clockLeft = random.below(2) == 0;
            if (clockLeft)
                clock = test::leave(Box::Clock, test::settle(Box::Clock, clock, {}).text, {}).text;
            const QString rate = test::settle(Box::Rate, random.next(14), clock).text;
            const QString step = test::settle(Box::Step, random.next(14), clock).text;
            const QString stop = test::settle(Box::Stop, random.next(14), clock).text;
            const QByteArray context = QStringLiteral("rate \"%1\", step \"%2\", stop \"%3\", clock \"%4\"")
                                           .arg(rate, step, stop, clock)
                                           .toUtf8();

            const auto command = rules::buildRampStartCommand(step, rate, stop, clock);
            const auto rateValue = rules::whole(rate);
            const auto stepValue = rules::whole(step);
            QVERIFY2(command || !(clockLeft && rateValue && stepValue), context.constData());
            if (!command)
                continue;
            ++built;
            const auto decoded = link::decode(*command).command;
            QVERIFY2(decoded && decoded->kind == link::CommandKind::RampStart, context.constData());
            QVERIFY2(rateValue && stepValue, context.constData());
            QVERIFY2(decoded->rate == *rateValue && decoded->step == *stepValue, context.constData());
            QVERIFY2(decoded->stopFtw == rules::tuningWordFromTexts(stop, clock), context.constData());
        }
        // Both outcomes many times.
        QVERIFY2(built > kRounds / 20 && built < kRounds * 19 / 20, qPrintable(QString::number(built)));
    }
};

QTEST_APPLESS_MAIN(TestRuleFixedPoints)
#include "test_rule_fixed_points.moc"
