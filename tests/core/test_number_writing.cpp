// Writing numbers into box texts, and the rounding and wholeness tests the
// rules use. Fixed tables pin down the rules case by case; random doubles (a
// fixed seed, so a failure repeats) must be written in the documented shape
// and read back, by both readings, as the value to 15 significant digits.

#include "core/numbers/numbers.h"
#include "number_reference.h"

#include <QByteArray>
#include <QObject>
#include <QRandomGenerator>
#include <QTest>

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>

using namespace veloxa::numbers;
using namespace veloxa::test;

namespace {

// Decimal text of the value rounded to 15 significant digits, done by the
// standard library's own conversion (not by the code under test).
std::string fifteenDigits(double value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 14);
    return std::string(buffer, result.ptr);
}

// Every written text must satisfy these, whatever the value.
QByteArray writtenTextProblem(const std::string &text)
{
    if (text.empty())
        return "empty text";
    if (text == "-0")
        return "negative zero";
    if (text.front() == ' ' || text.back() == ' ')
        return "blank at an end";
    const std::size_t ePos = text.find('E');
    const std::string mantissa = text.substr(0, ePos);
    if (mantissa.find('.') != std::string::npos && (mantissa.back() == '0' || mantissa.back() == '.'))
        return "trailing zero or point after the decimal point";
    std::string digits;
    for (char c : mantissa)
        if (c >= '0' && c <= '9')
            digits += c;
    const std::size_t first = digits.find_first_not_of('0');
    const std::size_t last = digits.find_last_not_of('0');
    if (first != std::string::npos && last - first + 1 > 15)
        return "more than 15 significant digits";
    if (mantissa.size() > 1 && mantissa[0] == '0' && mantissa[1] != '.')
        return "leading zero";
    if (mantissa.size() > 2 && mantissa[0] == '-' && mantissa[1] == '0' && mantissa[2] != '.')
        return "leading zero";
    if (text.find_first_not_of("0123456789-.E+") != std::string::npos)
        return "unexpected character";
    return {};
}

} // namespace

class TestNumberWriting : public QObject {
    Q_OBJECT

private slots:
    void writeNumber_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("zero") << 0.0 << QByteArray("0");
        QTest::newRow("negative zero") << -0.0 << QByteArray("0");
        QTest::newRow("NaN") << kNaN << QByteArray("0");
        QTest::newRow("500") << 500.0 << QByteArray("500");
        QTest::newRow("-500") << -500.0 << QByteArray("-500");
        QTest::newRow("499.95") << 499.95 << QByteArray("499.95");
        QTest::newRow("32 x 12.34") << 32 * 12.34 << QByteArray("394.88");
        QTest::newRow("-32 x 12.34") << -32 * 12.34 << QByteArray("-394.88");
        QTest::newRow("32 x 100 / 1000") << 32 * 100.0 / 1000 << QByteArray("3.2");
        QTest::newRow("65535") << 65535.0 << QByteArray("65535");
        QTest::newRow("4294967295") << 4294967295.0 << QByteArray("4294967295");
        QTest::newRow("2^31") << 2147483648.0 << QByteArray("2147483648");
        QTest::newRow("0.1 + 0.2") << 0.1 + 0.2 << QByteArray("0.3");
        QTest::newRow("1 / 3") << 1.0 / 3 << QByteArray("0.333333333333333");
        QTest::newRow("2 / 3") << 2.0 / 3 << QByteArray("0.666666666666667");
        QTest::newRow("-2 / 3") << -2.0 / 3 << QByteArray("-0.666666666666667");
        QTest::newRow("0.1") << 0.1 << QByteArray("0.1");
        QTest::newRow("-0.001") << -0.001 << QByteArray("-0.001");
        QTest::newRow("0.0001") << 0.0001 << QByteArray("0.0001");
        QTest::newRow("1234.5") << 1234.5 << QByteArray("1234.5");
        QTest::newRow("15 digits kept") << 123456789012345.0 << QByteArray("123456789012345");
        QTest::newRow("16th digit rounded down") << 999999999999999.4 << QByteArray("999999999999999");
        QTest::newRow("16th digit carries") << 999999999999999.6 << QByteArray("1000000000000000");
        QTest::newRow("18 digits") << 123456789012345678.0 << QByteArray("123456789012346000");
        QTest::newRow("fraction cut at 15 digits") << 1234567.891234567 << QByteArray("1234567.89123457");
        QTest::newRow("1e20") << 1e20 << QByteArray("100000000000000000000");
        QTest::newRow("below 1e21") << 9.99999999999999e20 << QByteArray("999999999999999000000");
        QTest::newRow("1e21") << 1e21 << QByteArray("1E+21");
        QTest::newRow("-1e21") << -1e21 << QByteArray("-1E+21");
        QTest::newRow("rounds up to 1e21") << 9.999999999999999e20 << QByteArray("1E+21");
        QTest::newRow("1.5e300") << 1.5e300 << QByteArray("1.5E+300");
        QTest::newRow("1e-7") << 1e-7 << QByteArray("0.0000001");
        QTest::newRow("-1.5e-7") << -1.5e-7 << QByteArray("-0.00000015");
        QTest::newRow("rounds up to 1e-7") << 9.9999999999999995e-8 << QByteArray("0.0000001");
        QTest::newRow("9.9e-8") << 9.9e-8 << QByteArray("9.9E-8");
        QTest::newRow("2.5e-9") << 2.5e-9 << QByteArray("2.5E-9");
        QTest::newRow("-1e-300") << -1e-300 << QByteArray("-1E-300");
        QTest::newRow("smallest denormal") << kDenormMin << QByteArray("4.94065645841247E-324");
        QTest::newRow("smallest normal") << DBL_MIN << QByteArray("2.2250738585072E-308");
        QTest::newRow("largest double") << kMax << QByteArray("1.79769313486231E+308");
        QTest::newRow("-largest double") << -kMax << QByteArray("-1.79769313486231E+308");
        QTest::newRow("infinity") << kInf << QByteArray("1.79769313486231E+308");
        QTest::newRow("-infinity") << -kInf << QByteArray("-1.79769313486231E+308");
        QTest::newRow("1e308") << 1e308 << QByteArray("1E+308");
    }
    void writeNumber()
    {
        QFETCH(double, value);
        QFETCH(QByteArray, expected);
        const std::string written = veloxa::numbers::writeNumber(value);
        QCOMPARE(QByteArray::fromStdString(written), expected);
    }

    void roundHalfEven_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("expected");
        QTest::newRow("0.5") << 0.5 << 0.0;
        QTest::newRow("1.5") << 1.5 << 2.0;
        QTest::newRow("2.5") << 2.5 << 2.0;
        QTest::newRow("3.5") << 3.5 << 4.0;
        QTest::newRow("-0.5") << -0.5 << 0.0;
        QTest::newRow("-1.5") << -1.5 << -2.0;
        QTest::newRow("-2.5") << -2.5 << -2.0;
        QTest::newRow("-3.5") << -3.5 << -4.0;
        QTest::newRow("37829.5") << 37829.5 << 37830.0;
        QTest::newRow("37828.5") << 37828.5 << 37828.0;
        QTest::newRow("37829") << 37829.0 << 37829.0;
        QTest::newRow("37829.4") << 37829.4 << 37829.0;
        QTest::newRow("37829.6") << 37829.6 << 37830.0;
        QTest::newRow("just below 0.5") << 0.49999999999999994 << 0.0;
        QTest::newRow("just above -0.5") << -0.49999999999999994 << 0.0;
        QTest::newRow("just below 2.5") << 2.4999999999999996 << 2.0;
        QTest::newRow("just above 2.5") << 2.5000000000000004 << 3.0;
        QTest::newRow("just below -2.5") << -2.5000000000000004 << -3.0;
        QTest::newRow("2^52 - 0.5") << 4503599627370495.5 << 4503599627370496.0;
        QTest::newRow("2^52 - 1.5") << 4503599627370494.5 << 4503599627370494.0;
        QTest::newRow("2^53 + 2") << 9007199254740994.0 << 9007199254740994.0;
        QTest::newRow("tiny negative") << -1e-300 << 0.0;
        QTest::newRow("tiny positive") << kDenormMin << 0.0;
        QTest::newRow("1e300") << 1e300 << 1e300;
        QTest::newRow("-largest") << -kMax << -kMax;
        QTest::newRow("infinity") << kInf << kInf;
        QTest::newRow("-infinity") << -kInf << -kInf;
    }
    void roundHalfEven()
    {
        QFETCH(double, value);
        QFETCH(double, expected);
        const double actual = veloxa::numbers::roundHalfEven(value);
        QVERIFY2(actual == expected, full(value) + " rounded to " + full(actual) + ", expected " + full(expected));
    }

    void isWhole_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<bool>("expected");
        QTest::newRow("0") << 0.0 << true;
        QTest::newRow("-0") << -0.0 << true;
        QTest::newRow("-3") << -3.0 << true;
        QTest::newRow("4294967295") << 4294967295.0 << true;
        QTest::newRow("1e300") << 1e300 << true;
        QTest::newRow("0.1") << 0.1 << false;
        QTest::newRow("-2.5") << -2.5 << false;
        QTest::newRow("2^52 - 0.5") << 4503599627370495.5 << false;
        QTest::newRow("smallest denormal") << kDenormMin << false;
        QTest::newRow("infinity") << kInf << false;
        QTest::newRow("-infinity") << -kInf << false;
        QTest::newRow("NaN") << kNaN << false;
    }
    void isWhole()
    {
        QFETCH(double, value);
        QFETCH(bool, expected);
        QCOMPARE(veloxa::numbers::isWhole(value), expected);
    }

    void randomDoublesWriteAndReadBack()
    {
        QRandomGenerator random(7919);
        int exponentForms = 0;
        int plainForms = 0;
        for (int i = 0; i < 40000; ++i) {
            double value = 0.0;
            if (i % 2 == 0) {
                // Any finite bit pattern: all magnitudes, denormals included.
                const quint64 bits = random.generate64();
                std::memcpy(&value, &bits, sizeof value);
                if (!std::isfinite(value))
                    continue;
            } else {
                // Ordinary magnitudes, where the plain and exponent forms meet.
                value = random.generateDouble() * std::pow(10.0, random.bounded(-12, 26));
                if (random.bounded(0, 2) == 0)
                    value = -value;
            }

            const std::string written = veloxa::numbers::writeNumber(value);
            const QByteArray shown = full(value) + " written as " + printable(written);
            const QByteArray problem = writtenTextProblem(written);
            QVERIFY2(problem.isEmpty(), shown + ": " + problem);

            // The value rounded to 15 significant digits, clamped to the largest
            // magnitude whose rounding is still a finite double.
            const double clamped = std::fabs(value) > kLargestWritable ? std::copysign(kLargestWritable, value) : value;
            const double expected = referenceStrtod(fifteenDigits(clamped)).value;

            const std::optional<double> whole = wholeNumber(written);
            QVERIFY2(whole.has_value(), shown + " is not read back as a whole");
            QVERIFY2(*whole == expected, shown + " reads back as " + full(*whole) + ", expected " + full(expected));
            const double leading = veloxa::numbers::leadingNumber(written);
            QVERIFY2(leading == expected, shown + " reads back (leading) as " + full(leading));

            // Writing the value read back gives the same text.
            QCOMPARE(veloxa::numbers::writeNumber(*whole), written);

            const double magnitude = std::fabs(expected);
            const bool exponentForm = written.find('E') != std::string::npos;
            QVERIFY2(exponentForm == (magnitude != 0.0 && (magnitude >= 1e21 || magnitude < 1e-7)),
                     shown + ": wrong form for its magnitude");
            (exponentForm ? exponentForms : plainForms) += 1;
        }
        QVERIFY(exponentForms > 1000);
        QVERIFY(plainForms > 1000);
    }

    void writtenWholeNumbersArePlainDigits()
    {
        QRandomGenerator random(31337);
        for (int i = 0; i < 20000; ++i) {
            // Whole numbers of up to 15 digits are written exactly as their digits.
            const qint64 limit = Q_INT64_C(1000000000000000);
            const qint64 whole = random.bounded(-limit + 1, limit);
            const auto value = static_cast<double>(whole);
            QCOMPARE(QByteArray::fromStdString(veloxa::numbers::writeNumber(value)), QByteArray::number(whole));

            // Small ones too, where most values the panel writes lie.
            const int small = random.bounded(-70000, 70000);
            QCOMPARE(QByteArray::fromStdString(veloxa::numbers::writeNumber(small)), QByteArray::number(small));
        }
    }
};

QTEST_APPLESS_MAIN(TestNumberWriting)
#include "test_number_writing.moc"
