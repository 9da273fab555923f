// Reading numbers from box texts: the leading number and the whole text.
//
// Fixed tables pin down the rules case by case; random texts (a fixed seed,
// so a failure repeats) are compared with the C library's strtod under the
// "C" locale, which serves as an independent reference. Writing numbers is
// test_number_writing.

#include "core/numbers/numbers.h"
#include "number_reference.h"
#include "support/random_text.h"

#include <QByteArray>
#include <QObject>
#include <QRegularExpression>
#include <QString>
#include <QTest>

#include <cfloat>
#include <cmath>
#include <optional>
#include <string>

using namespace veloxa::numbers;
using namespace veloxa::test;

namespace {

// What the whole-text reading makes of a row's text: the same number as the
// leading reading (which strtod reads in full too), a refusal, or not checked.
enum class Whole { Unchecked, Same, Refused };

} // namespace

Q_DECLARE_METATYPE(Whole)

namespace {

// The whole-text grammar: optional blanks or tabs, sign, digits with at most
// one point (at least one digit), optional exponent with digits, blanks or tabs.
const QRegularExpression &wholeGrammar()
{
    static const QRegularExpression grammar(
        QStringLiteral("^[ \\t]*([+-]?(?:[0-9]+(?:\\.[0-9]*)?|\\.[0-9]+)(?:[eE][+-]?[0-9]+)?)[ \\t]*\\z"));
    return grammar;
}

// The leading reading as the C library would do it once the blanks, tabs and
// line feeds are taken out: the longest prefix strtod reads, saturated.
double referenceLeading(const std::string &text)
{
    std::string packed;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n')
            packed += c;
    const StrtodResult result = referenceStrtod(packed);
    if (result.consumed == 0)
        return 0.0;
    if (std::isinf(result.value))
        return result.value > 0 ? kMax : -kMax;
    return result.value;
}

void row(const char *name, const QByteArray &text, double expected, Whole whole = Whole::Unchecked)
{
    QTest::newRow(name) << text << expected << whole;
}

constexpr Whole same = Whole::Same;
constexpr Whole refused = Whole::Refused;

// Both readings of `text` against strtod on it. Counts the texts that are a
// number as a whole, and those among them that overflow.
void checkReadings(const std::string &text, int &wellFormed, int &overflowing)
{
    const QByteArray shown = printable(text);
    const double leading = veloxa::numbers::leadingNumber(text);
    QVERIFY2(std::isfinite(leading), shown + " read as " + full(leading));
    const double expectedLeading = referenceLeading(text);
    QVERIFY2(leading == expectedLeading,
             shown + " read " + full(leading) + ", strtod on the text without blanks gives " + full(expectedLeading));

    const std::optional<double> whole = wholeNumber(text);
    if (whole) {
        QVERIFY2(std::isfinite(*whole), shown + " read whole as " + full(*whole));
        QVERIFY2(*whole == leading,
                 shown + ": whole-text reading " + full(*whole) + " differs from leading reading " + full(leading));
    }

    const QRegularExpressionMatch match =
        wholeGrammar().match(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    if (!match.hasMatch()) {
        QVERIFY2(!whole, shown + " is not a number as a whole but was read as " + full(whole.value_or(0.0)));
        return;
    }
    ++wellFormed;
    const std::string number = match.captured(1).toStdString();
    const StrtodResult reference = referenceStrtod(number);
    QCOMPARE(reference.consumed, number.size());
    if (std::isinf(reference.value)) {
        ++overflowing;
        QVERIFY2(!whole, shown + " overflows but was read as " + full(whole.value_or(0.0)));
    } else {
        QVERIFY2(whole.has_value(), shown + " is a number but was refused");
        QVERIFY2(*whole == reference.value,
                 shown + " read " + full(*whole) + ", strtod gives " + full(reference.value));
    }
}

// Plain numbers and where blanks are skipped.
void addPlainRows()
{
    // Plain numbers.
    row("12.34", QByteArray("12.34"), 12.34, same);
    row("integer", QByteArray("1000"), 1000.0, same);
    row("leading zeros", QByteArray("00012"), 12.0);
    row("plus sign", QByteArray("+7"), 7.0);
    row("minus sign", QByteArray("-12.34"), -12.34);
    row("point first", QByteArray(".5"), 0.5, same);
    row("minus point first", QByteArray("-.5"), -0.5, same);
    row("point last", QByteArray("5."), 5.0, same);
    row("minus zero", QByteArray("-0"), 0.0, same);

    // Blanks, tabs and line feeds are skipped wherever they stand until the number ends.
    row("leading blanks", QByteArray("   42"), 42.0);
    row("leading tab and LF", QByteArray("\t\n 42"), 42.0);
    row("blank inside digits", QByteArray(" 1 000x"), 1000.0);
    row("tab inside digits", QByteArray("4\t2"), 42.0);
    row("LF inside digits", QByteArray("4\n2"), 42.0);
    row("blank after sign", QByteArray("- 5"), -5.0, refused);
    row("blanks around point", QByteArray("1 . 5"), 1.5);
    row("blank after point", QByteArray(". 5"), 0.5);
    row("blanks around e", QByteArray("12 e 3"), 12000.0);
    row("blank after exponent sign", QByteArray("12e- 3"), 0.012);
    row("blank inside exponent", QByteArray("1e1 2"), 1e12);
    row("trailing blanks", QByteArray("7   "), 7.0);
    row("only blanks", QByteArray(" \t\n"), 0.0);
    // Other white space is not skipped.
    row("CR before", QByteArray("\r5"), 0.0);
    row("VT before", QByteArray("\v5"), 0.0);
    row("FF before", QByteArray("\f5"), 0.0);
    // "\0005" is NUL and "5", "\x35" is "5": an octal escape ends after three
    // digits, a hex one only at the first other character.
    row("NUL before", QByteArray("\0005", 2), 0.0, refused);
    row("NUL inside", QByteArray("5\0005", 3), 5.0);
}

// Exponents, texts without a leading number, and where reading stops.
void addExponentAndStopRows()
{
    // Exponents: taken only when digits follow.
    row("e", QByteArray("12e3"), 12000.0);
    row("E", QByteArray("12E3"), 12000.0);
    row("e+", QByteArray("12e+3"), 12000.0);
    row("e-", QByteArray("1.5e-3"), 0.0015);
    row("exponent with leading zeros", QByteArray("1e0003"), 1000.0);
    row("fraction and exponent", QByteArray("0.1e1"), 1.0);
    row("dangling e", QByteArray("12e"), 12.0);
    row("dangling E", QByteArray("12E"), 12.0);
    row("dangling e+", QByteArray("12e+"), 12.0);
    row("dangling e-", QByteArray("12E-"), 12.0);
    row("dangling e blank", QByteArray("12 e "), 12.0);
    row("e then letter", QByteArray("12ex"), 12.0);
    row("e+ then letter", QByteArray("12e+x"), 12.0);
    row("e two signs", QByteArray("12e+-3"), 12.0);
    row("e point", QByteArray("12e.5"), 12.0);
    row("exponent stops at point", QByteArray("2e1.5"), 20.0);
    row("second e", QByteArray("1e2e3"), 100.0, refused);

    // Texts without a leading number read 0.
    row("empty", QByteArray(""), 0.0, refused);
    row("letters", QByteArray("abc"), 0.0);
    row("lone minus", QByteArray("-"), 0.0, refused);
    row("lone plus", QByteArray("+"), 0.0, refused);
    row("lone point", QByteArray("."), 0.0, refused);
    row("minus point", QByteArray("-."), 0.0, refused);
    row("e5", QByteArray("e5"), 0.0, refused);
    row("point e5", QByteArray(".e5"), 0.0, refused);
    row("minus e5", QByteArray("-e5"), 0.0);
    row("two minus", QByteArray("--5"), 0.0, refused);
    row("plus minus", QByteArray("+-5"), 0.0, refused);
    row("inf", QByteArray("inf"), 0.0, refused);
    row("infinity", QByteArray("-Infinity"), 0.0);
    row("nan", QByteArray("nan"), 0.0, refused);

    // Reading stops at the first character that cannot continue the number.
    row("trailing letters", QByteArray("12.34abc"), 12.34, refused);
    row("second point", QByteArray("1.2.3"), 1.2, refused);
    row("two points", QByteArray("1..2"), 1.0);
    row("thousands comma", QByteArray("1,000"), 1.0, refused);
    row("hex float", QByteArray("0x1p3"), 0.0, refused);
    row("hex", QByteArray("0x10"), 0.0, refused);
    row("sign after digits", QByteArray("5-3"), 5.0);

    // Non-ASCII bytes are not digits, blanks or signs.
    row("no-break space before", QByteArray("\xC2\xA0\x35"), 0.0);
    row("no-break space inside", QByteArray("5\xC2\xA0\x35"), 5.0);
    row("fullwidth digit", QByteArray("\xEF\xBC\x95"), 0.0, refused);
    row("arabic-indic digit", QByteArray("\xD9\xA3"), 0.0);
    row("byte FF", QByteArray("\xFF\x31"), 0.0);
    row("byte 80 after", QByteArray("1\x80\x32"), 1.0);
    row("unicode minus", QByteArray("\xE2\x88\x92\x35"), 0.0, refused);
}

// Rounding and the limits of the range.
void addRangeRows()
{
    // Correct rounding of long mantissas.
    row("2^53+1 ties to even", QByteArray("9007199254740993"), 9007199254740992.0, same);
    row("just above the tie", QByteArray("9007199254740993.0000000001"), 9007199254740994.0);
    row("30 digits", QByteArray("123456789012345678901234567890"), 1.2345678901234568e29);
    row("0.1 with many digits", QByteArray("0.1000000000000000055511151231257827"), 0.1);

    // Range limits: overflow saturates, underflow reads 0.
    row("1e308", QByteArray("1e308"), 1e308);
    row("largest double", QByteArray("1.7976931348623157e308"), kMax, same);
    row("rounds above largest", QByteArray("1.7976931348623159e308"), kMax, refused);
    row("1e309", QByteArray("1e309"), kMax, refused);
    row("-1e309", QByteArray("-1e309"), -kMax, refused);
    row("huge exponent", QByteArray("1e99999999999999999999"), kMax, refused);
    row("huge exponent negative", QByteArray("-1e99999999999999999999"), -kMax, refused);
    row("40-digit exponent", "1e" + QByteArray(40, '9'), kMax, refused);
    row("40-digit negative exponent", "1e-" + QByteArray(40, '9'), 0.0);
    row("huge exponent tiny mantissa", QByteArray("0.0000001e99999999999999999999"), kMax);
    row("zero with huge exponent", QByteArray("0e99999999999999999999"), 0.0, same);
    row("zeros with huge exponent", QByteArray("000.000e99999999999999999999"), 0.0);
    row("1e-400", QByteArray("1e-400"), 0.0, same);
    row("-1e-400", QByteArray("-1e-400"), 0.0);
    row("huge negative exponent", QByteArray("1e-99999999999999999999"), 0.0, same);
    row("smallest normal", QByteArray("2.2250738585072014e-308"), DBL_MIN);
    row("smallest denormal", QByteArray("4.9406564584124654e-324"), kDenormMin, same);
    row("below half the smallest denormal", QByteArray("2.4703282292062327e-324"), 0.0);
    row("above half the smallest denormal", QByteArray("2.4703282292062328e-324"), kDenormMin);
    row("large exponent small mantissa", QByteArray("0.00001e310"), 1e305);
    row("small exponent large mantissa", QByteArray("100000e-313"), 1e-308);
}

// More texts the whole-text reading takes or refuses, and long digit strings.
void addWholeTextRows()
{
    // More texts the whole-text reading takes or refuses, and their leading reading.
    row("surrounding blanks", "  12.34  ", 12.34, same);
    row("surrounding tabs", "\t5\t", 5.0, same);
    row("plus", "+5", 5.0, same);
    row("minus", "-5", -5.0, same);
    row("leading zeros 007", "007", 7.0, same);
    row("e 1e5", "1e5", 1e5, same);
    row("E 1E5", "1E5", 1e5, same);
    row("e+ 1e+5", "1e+5", 1e5, same);
    row("e- 1.5E-3", "1.5E-3", 0.0015, same);
    row("point then exponent", "5.e2", 500.0, same);
    row("largest word", "4294967295", 4294967295.0, same);
    row("written largest", "1.79769313486231E+308", kLargestWritable, same);

    row("blank", " ", 0.0, refused);
    row("blanks and tabs", " \t ", 0.0, refused);
    row("plus point", "+.", 0.0, refused);
    row("dangling e 1e", "1e", 1.0, refused);
    row("dangling e+ 1e+", "1e+", 1.0, refused);
    row("dangling E-", "1E-", 1.0, refused);
    row("trailing letter", "12a", 12.0, refused);
    row("leading letter", "a12", 0.0, refused);
    row("thousands blank", "1 000", 1000.0, refused);
    row("thousands apostrophe", "1'000", 1.0, refused);
    row("decimal comma", "12,34", 12.0, refused);
    row("blank before e", "1 e5", 1e5, refused);
    row("blank after e", "1e 5", 1e5, refused);
    row("blank after exponent sign 1e+ 5", "1e+ 5", 1e5, refused);
    row("fractional exponent", "1e2.5", 100.0, refused);
    row("-inf", "-inf", 0.0, refused);
    row("Infinity unsigned", "Infinity", 0.0, refused);
    row("NaN capitals", "NaN", 0.0, refused);
    row("written 15-digit rounding of largest", "1.79769313486232E+308", kMax, refused);
    row("NUL after", QByteArray("5\0", 2), 5.0, refused);
    row("CR after", "5\r", 5.0, refused);
    row("no-break space after", "5\xC2\xA0", 5.0, refused);
    row("byte FF alone", "\xFF", 0.0, refused);

    // Long digit strings.
    const QByteArray zeros(4999, '0');
    QByteArray pattern;
    while (pattern.size() < 5000)
        pattern += "1234567890";
    row("1 and 4999 zeros", "1" + zeros, kMax, refused);
    row("5000 digits", pattern, kMax, refused);
    row("minus 5000 digits", "-" + pattern, -kMax, refused);
    row("point and 5000 digits", "0." + pattern, 0.12345678901234568, same);
    row("1e-5000 in digits", "0." + zeros + "1", 0.0, same);
    row("5000 digits scaled back", "1" + zeros + "e-4999", 1.0, same);
    row("5000 fraction digits scaled up", "0." + zeros + "1e5000", 1.0, same);
    row("5000 zeros", QByteArray(5000, '0'), 0.0, same);
    // The digits beyond the first 800 still decide the rounding.
    row("exact tie after 5000 zeros", "9007199254740993." + QByteArray(5000, '0'), 9007199254740992.0, same);
    row("digit 5000 breaks the tie", "9007199254740993." + zeros + "1", 9007199254740994.0, same);
    row("5000 digits with blanks inside", QByteArray("1 ") + QByteArray(4998, '0') + "x", kMax, refused);
}

} // namespace

class TestNumbers : public QObject {
    Q_OBJECT

private slots:
    // Both readings of each text: the leading one, and the whole-text one where a row says.
    void readings_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<double>("expected");
        QTest::addColumn<Whole>("whole");

        addPlainRows();
        addExponentAndStopRows();
        addRangeRows();
        addWholeTextRows();
    }
    void readings()
    {
        QFETCH(QByteArray, text);
        QFETCH(double, expected);
        QFETCH(Whole, whole);
        const double actual = veloxa::numbers::leadingNumber(view(text));
        QVERIFY2(actual == expected, printable(text) + " read " + full(actual) + ", expected " + full(expected));
        const std::optional<double> wholeReading = wholeNumber(view(text));
        if (whole == Whole::Refused)
            QVERIFY2(!wholeReading, printable(text) + " was read whole as " + full(wholeReading.value_or(0.0)));
        if (whole != Whole::Same)
            return;
        QVERIFY2(wholeReading == expected,
                 printable(text)
                     + (wholeReading ? " read whole as " + full(*wholeReading) : QByteArray(" was refused whole")));
        // The C library reads the number in full, to the same value.
        const QRegularExpressionMatch match = wholeGrammar().match(QString::fromLatin1(text));
        QVERIFY2(match.hasMatch(), printable(text));
        const std::string number = match.captured(1).toStdString();
        const StrtodResult reference = referenceStrtod(number);
        QCOMPARE(reference.consumed, number.size());
        QVERIFY2(reference.value == expected, printable(text) + ": strtod gave " + full(reference.value));
    }

    void randomTexts()
    {
        // Letters that would make strtod read inf, nan or hexadecimal are left
        // out, so strtod stays a valid reference for the leading reading.
        RandomText random(20240611, QStringLiteral("0123456789+-.eE \t\nabcdfgkqzABZ"));
        int wellFormed = 0;
        int overflowing = 0;
        for (int i = 0; i < 20000; ++i) {
            // Up to 15 characters, or up to 25 digits with exponents across and
            // beyond the range of a double.
            checkReadings((i % 2 == 0 ? random.anyText(15) : random.numberText(25)).toStdString(), wellFormed,
                          overflowing);
            if (QTest::currentTestFailed())
                return;
        }
        // The comparison with strtod must have had material to work on.
        QVERIFY2(wellFormed > 4000, QByteArray::number(wellFormed));
        QVERIFY2(overflowing > 50, QByteArray::number(overflowing));
    }
};

QTEST_APPLESS_MAIN(TestNumbers)
#include "test_numbers.moc"
