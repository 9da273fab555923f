// Reading numbers from box texts and writing them back.
//
// Fixed tables pin down the rules case by case; the randomized tests (fixed
// seeds, so a failure repeats) check the properties that tie the three
// operations together and compare the readings with the C library's strtod
// under the "C" locale, which serves as an independent reference.

#include "core/numbers/numbers.h"

#include <QByteArray>
#include <QObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QString>
#include <QTest>

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>
#include <optional>
#include <string>
#include <string_view>

using namespace veloxa::numbers;

namespace {

constexpr double kMax = std::numeric_limits<double>::max();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kDenormMin = std::numeric_limits<double>::denorm_min();
// What writeNumber puts down for the largest magnitudes (the largest double
// itself would round up to 1.79769313486232E+308, beyond the double range).
constexpr double kLargestWritable = 1.79769313486231e308;

std::string_view view(const QByteArray &text)
{
    return {text.constData(), static_cast<std::size_t>(text.size())};
}

// A text as it can be read in a failure message: control and non-ASCII bytes escaped.
QByteArray printable(std::string_view text)
{
    QByteArray out;
    const std::size_t shown = std::min<std::size_t>(text.size(), 120);
    for (std::size_t i = 0; i < shown; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\')
            out += static_cast<char>(c);
        else
            out += "\\x" + QByteArray::number(c, 16).rightJustified(2, '0');
    }
    if (shown < text.size())
        out += "...(" + QByteArray::number(static_cast<qulonglong>(text.size())) + " bytes)";
    return '"' + out + '"';
}

QByteArray printable(const QByteArray &text)
{
    return printable(view(text));
}

QByteArray full(double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
    return buffer;
}

// The "C" locale, whatever the environment says, for the strtod reference.
locale_t cLocale()
{
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

struct StrtodResult {
    double value = 0.0;
    std::size_t consumed = 0;
};

StrtodResult referenceStrtod(const std::string &text)
{
    char *end = nullptr;
    StrtodResult result;
    result.value = strtod_l(text.c_str(), &end, cLocale());
    result.consumed = static_cast<std::size_t>(end - text.c_str());
    return result;
}

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

// The whole-text grammar: optional blanks or tabs, sign, digits with at most
// one point (at least one digit), optional exponent with digits, blanks or tabs.
const QRegularExpression &wholeGrammar()
{
    static const QRegularExpression grammar(
        QStringLiteral("^[ \\t]*([+-]?(?:[0-9]+(?:\\.[0-9]*)?|\\.[0-9]+)(?:[eE][+-]?[0-9]+)?)[ \\t]*\\z"));
    return grammar;
}

} // namespace

class TestNumbers : public QObject {
    Q_OBJECT

private slots:
    void leadingNumber_data();
    void leadingNumber();
    void wholeNumberAccepts_data();
    void wholeNumberAccepts();
    void wholeNumberRejects_data();
    void wholeNumberRejects();
    void longDigitStrings_data();
    void longDigitStrings();
    void writeNumber_data();
    void writeNumber();
    void roundHalfEven_data();
    void roundHalfEven();
    void isWhole_data();
    void isWhole();

    void randomTexts();
    void randomDoublesWriteAndReadBack();
    void writtenWholeNumbersArePlainDigits();
};

void TestNumbers::leadingNumber_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<double>("expected");

    // Plain numbers.
    QTest::newRow("12.34") << QByteArray("12.34") << 12.34;
    QTest::newRow("integer") << QByteArray("1000") << 1000.0;
    QTest::newRow("leading zeros") << QByteArray("00012") << 12.0;
    QTest::newRow("plus sign") << QByteArray("+7") << 7.0;
    QTest::newRow("minus sign") << QByteArray("-12.34") << -12.34;
    QTest::newRow("point first") << QByteArray(".5") << 0.5;
    QTest::newRow("minus point first") << QByteArray("-.5") << -0.5;
    QTest::newRow("point last") << QByteArray("5.") << 5.0;
    QTest::newRow("minus zero") << QByteArray("-0") << 0.0;

    // Blanks, tabs and line feeds are skipped wherever they stand until the number ends.
    QTest::newRow("leading blanks") << QByteArray("   42") << 42.0;
    QTest::newRow("leading tab and LF") << QByteArray("\t\n 42") << 42.0;
    QTest::newRow("blank inside digits") << QByteArray(" 1 000x") << 1000.0;
    QTest::newRow("tab inside digits") << QByteArray("4\t2") << 42.0;
    QTest::newRow("LF inside digits") << QByteArray("4\n2") << 42.0;
    QTest::newRow("blank after sign") << QByteArray("- 5") << -5.0;
    QTest::newRow("blanks around point") << QByteArray("1 . 5") << 1.5;
    QTest::newRow("blank after point") << QByteArray(". 5") << 0.5;
    QTest::newRow("blanks around e") << QByteArray("12 e 3") << 12000.0;
    QTest::newRow("blank after exponent sign") << QByteArray("12e- 3") << 0.012;
    QTest::newRow("blank inside exponent") << QByteArray("1e1 2") << 1e12;
    QTest::newRow("trailing blanks") << QByteArray("7   ") << 7.0;
    QTest::newRow("only blanks") << QByteArray(" \t\n") << 0.0;
    // Other white space is not skipped.
    QTest::newRow("CR before") << QByteArray("\r5") << 0.0;
    QTest::newRow("VT before") << QByteArray("\v5") << 0.0;
    QTest::newRow("FF before") << QByteArray("\f5") << 0.0;
    // "\0005" is NUL and "5", "\x35" is "5": an octal escape ends after three
    // digits, a hex one only at the first other character.
    QTest::newRow("NUL before") << QByteArray("\0005", 2) << 0.0;
    QTest::newRow("NUL inside") << QByteArray("5\0005", 3) << 5.0;

    // Exponents: taken only when digits follow.
    QTest::newRow("e") << QByteArray("12e3") << 12000.0;
    QTest::newRow("E") << QByteArray("12E3") << 12000.0;
    QTest::newRow("e+") << QByteArray("12e+3") << 12000.0;
    QTest::newRow("e-") << QByteArray("1.5e-3") << 0.0015;
    QTest::newRow("exponent with leading zeros") << QByteArray("1e0003") << 1000.0;
    QTest::newRow("fraction and exponent") << QByteArray("0.1e1") << 1.0;
    QTest::newRow("dangling e") << QByteArray("12e") << 12.0;
    QTest::newRow("dangling E") << QByteArray("12E") << 12.0;
    QTest::newRow("dangling e+") << QByteArray("12e+") << 12.0;
    QTest::newRow("dangling e-") << QByteArray("12E-") << 12.0;
    QTest::newRow("dangling e blank") << QByteArray("12 e ") << 12.0;
    QTest::newRow("e then letter") << QByteArray("12ex") << 12.0;
    QTest::newRow("e+ then letter") << QByteArray("12e+x") << 12.0;
    QTest::newRow("e two signs") << QByteArray("12e+-3") << 12.0;
    QTest::newRow("e point") << QByteArray("12e.5") << 12.0;
    QTest::newRow("exponent stops at point") << QByteArray("2e1.5") << 20.0;
    QTest::newRow("second e") << QByteArray("1e2e3") << 100.0;

    // Texts without a leading number read 0.
    QTest::newRow("empty") << QByteArray("") << 0.0;
    QTest::newRow("letters") << QByteArray("abc") << 0.0;
    QTest::newRow("lone minus") << QByteArray("-") << 0.0;
    QTest::newRow("lone plus") << QByteArray("+") << 0.0;
    QTest::newRow("lone point") << QByteArray(".") << 0.0;
    QTest::newRow("minus point") << QByteArray("-.") << 0.0;
    QTest::newRow("e5") << QByteArray("e5") << 0.0;
    QTest::newRow("point e5") << QByteArray(".e5") << 0.0;
    QTest::newRow("minus e5") << QByteArray("-e5") << 0.0;
    QTest::newRow("two minus") << QByteArray("--5") << 0.0;
    QTest::newRow("plus minus") << QByteArray("+-5") << 0.0;
    QTest::newRow("inf") << QByteArray("inf") << 0.0;
    QTest::newRow("infinity") << QByteArray("-Infinity") << 0.0;
    QTest::newRow("nan") << QByteArray("nan") << 0.0;

    // Reading stops at the first character that cannot continue the number.
    QTest::newRow("trailing letters") << QByteArray("12.34abc") << 12.34;
    QTest::newRow("second point") << QByteArray("1.2.3") << 1.2;
    QTest::newRow("two points") << QByteArray("1..2") << 1.0;
    QTest::newRow("thousands comma") << QByteArray("1,000") << 1.0;
    QTest::newRow("hex float") << QByteArray("0x1p3") << 0.0;
    QTest::newRow("hex") << QByteArray("0x10") << 0.0;
    QTest::newRow("sign after digits") << QByteArray("5-3") << 5.0;

    // Non-ASCII bytes are not digits, blanks or signs.
    QTest::newRow("no-break space before") << QByteArray("\xC2\xA0\x35") << 0.0;
    QTest::newRow("no-break space inside") << QByteArray("5\xC2\xA0\x35") << 5.0;
    QTest::newRow("fullwidth digit") << QByteArray("\xEF\xBC\x95") << 0.0;
    QTest::newRow("arabic-indic digit") << QByteArray("\xD9\xA3") << 0.0;
    QTest::newRow("byte FF") << QByteArray("\xFF\x31") << 0.0;
    QTest::newRow("byte 80 after") << QByteArray("1\x80\x32") << 1.0;
    QTest::newRow("unicode minus") << QByteArray("\xE2\x88\x92\x35") << 0.0;

    // Correct rounding of long mantissas.
    QTest::newRow("2^53+1 ties to even") << QByteArray("9007199254740993") << 9007199254740992.0;
    QTest::newRow("just above the tie") << QByteArray("9007199254740993.0000000001") << 9007199254740994.0;
    QTest::newRow("30 digits") << QByteArray("123456789012345678901234567890") << 1.2345678901234568e29;
    QTest::newRow("0.1 with many digits") << QByteArray("0.1000000000000000055511151231257827") << 0.1;

    // Range limits: overflow saturates, underflow reads 0.
    QTest::newRow("1e308") << QByteArray("1e308") << 1e308;
    QTest::newRow("largest double") << QByteArray("1.7976931348623157e308") << kMax;
    QTest::newRow("rounds above largest") << QByteArray("1.7976931348623159e308") << kMax;
    QTest::newRow("1e309") << QByteArray("1e309") << kMax;
    QTest::newRow("-1e309") << QByteArray("-1e309") << -kMax;
    QTest::newRow("huge exponent") << QByteArray("1e99999999999999999999") << kMax;
    QTest::newRow("huge exponent negative") << QByteArray("-1e99999999999999999999") << -kMax;
    QTest::newRow("40-digit exponent") << "1e" + QByteArray(40, '9') << kMax;
    QTest::newRow("40-digit negative exponent") << "1e-" + QByteArray(40, '9') << 0.0;
    QTest::newRow("huge exponent tiny mantissa") << QByteArray("0.0000001e99999999999999999999") << kMax;
    QTest::newRow("zero with huge exponent") << QByteArray("0e99999999999999999999") << 0.0;
    QTest::newRow("zeros with huge exponent") << QByteArray("000.000e99999999999999999999") << 0.0;
    QTest::newRow("1e-400") << QByteArray("1e-400") << 0.0;
    QTest::newRow("-1e-400") << QByteArray("-1e-400") << 0.0;
    QTest::newRow("huge negative exponent") << QByteArray("1e-99999999999999999999") << 0.0;
    QTest::newRow("smallest normal") << QByteArray("2.2250738585072014e-308") << DBL_MIN;
    QTest::newRow("smallest denormal") << QByteArray("4.9406564584124654e-324") << kDenormMin;
    QTest::newRow("below half the smallest denormal") << QByteArray("2.4703282292062327e-324") << 0.0;
    QTest::newRow("above half the smallest denormal") << QByteArray("2.4703282292062328e-324") << kDenormMin;
    QTest::newRow("large exponent small mantissa") << QByteArray("0.00001e310") << 1e305;
    QTest::newRow("small exponent large mantissa") << QByteArray("100000e-313") << 1e-308;
}

void TestNumbers::leadingNumber()
{
    QFETCH(QByteArray, text);
    QFETCH(double, expected);
    const double actual = veloxa::numbers::leadingNumber(view(text));
    QVERIFY2(actual == expected, printable(text) + " read " + full(actual) + ", expected " + full(expected));
}

void TestNumbers::wholeNumberAccepts_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<double>("expected");

    QTest::newRow("12.34") << QByteArray("12.34") << 12.34;
    QTest::newRow("1000") << QByteArray("1000") << 1000.0;
    QTest::newRow("surrounding blanks") << QByteArray("  12.34  ") << 12.34;
    QTest::newRow("surrounding tabs") << QByteArray("\t5\t") << 5.0;
    QTest::newRow("plus") << QByteArray("+5") << 5.0;
    QTest::newRow("minus") << QByteArray("-5") << -5.0;
    QTest::newRow("minus zero") << QByteArray("-0") << 0.0;
    QTest::newRow("point first") << QByteArray(".5") << 0.5;
    QTest::newRow("minus point first") << QByteArray("-.5") << -0.5;
    QTest::newRow("point last") << QByteArray("5.") << 5.0;
    QTest::newRow("leading zeros") << QByteArray("007") << 7.0;
    QTest::newRow("e") << QByteArray("1e5") << 1e5;
    QTest::newRow("E") << QByteArray("1E5") << 1e5;
    QTest::newRow("e+") << QByteArray("1e+5") << 1e5;
    QTest::newRow("e-") << QByteArray("1.5E-3") << 0.0015;
    QTest::newRow("point then exponent") << QByteArray("5.e2") << 500.0;
    QTest::newRow("largest word") << QByteArray("4294967295") << 4294967295.0;
    QTest::newRow("2^53+1 ties to even") << QByteArray("9007199254740993") << 9007199254740992.0;
    QTest::newRow("largest double") << QByteArray("1.7976931348623157e308") << kMax;
    QTest::newRow("written largest") << QByteArray("1.79769313486231E+308") << kLargestWritable;
    QTest::newRow("smallest denormal") << QByteArray("4.9406564584124654e-324") << kDenormMin;
    QTest::newRow("underflow reads 0") << QByteArray("1e-400") << 0.0;
    QTest::newRow("huge negative exponent") << QByteArray("1e-99999999999999999999") << 0.0;
    QTest::newRow("zero with huge exponent") << QByteArray("0e99999999999999999999") << 0.0;
}

void TestNumbers::wholeNumberAccepts()
{
    QFETCH(QByteArray, text);
    QFETCH(double, expected);
    const std::optional<double> actual = wholeNumber(view(text));
    QVERIFY2(actual.has_value(), printable(text) + " was refused");
    QVERIFY2(*actual == expected, printable(text) + " read " + full(*actual) + ", expected " + full(expected));
}

void TestNumbers::wholeNumberRejects_data()
{
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("blank") << QByteArray(" ");
    QTest::newRow("blanks and tabs") << QByteArray(" \t ");
    QTest::newRow("lone minus") << QByteArray("-");
    QTest::newRow("lone plus") << QByteArray("+");
    QTest::newRow("lone point") << QByteArray(".");
    QTest::newRow("minus point") << QByteArray("-.");
    QTest::newRow("plus point") << QByteArray("+.");
    QTest::newRow("e5") << QByteArray("e5");
    QTest::newRow("point e5") << QByteArray(".e5");
    QTest::newRow("dangling e") << QByteArray("1e");
    QTest::newRow("dangling e+") << QByteArray("1e+");
    QTest::newRow("dangling E-") << QByteArray("1E-");
    QTest::newRow("trailing letter") << QByteArray("12a");
    QTest::newRow("trailing letters") << QByteArray("12.34abc");
    QTest::newRow("leading letter") << QByteArray("a12");
    QTest::newRow("thousands blank") << QByteArray("1 000");
    QTest::newRow("thousands comma") << QByteArray("1,000");
    QTest::newRow("thousands apostrophe") << QByteArray("1'000");
    QTest::newRow("decimal comma") << QByteArray("12,34");
    QTest::newRow("two points") << QByteArray("1.2.3");
    QTest::newRow("two minus") << QByteArray("--5");
    QTest::newRow("plus minus") << QByteArray("+-5");
    QTest::newRow("blank after sign") << QByteArray("- 5");
    QTest::newRow("blank before e") << QByteArray("1 e5");
    QTest::newRow("blank after e") << QByteArray("1e 5");
    QTest::newRow("blank after exponent sign") << QByteArray("1e+ 5");
    QTest::newRow("fractional exponent") << QByteArray("1e2.5");
    QTest::newRow("two exponents") << QByteArray("1e2e3");
    QTest::newRow("inf") << QByteArray("inf");
    QTest::newRow("-inf") << QByteArray("-inf");
    QTest::newRow("Infinity") << QByteArray("Infinity");
    QTest::newRow("nan") << QByteArray("nan");
    QTest::newRow("NaN") << QByteArray("NaN");
    QTest::newRow("hex float") << QByteArray("0x1p3");
    QTest::newRow("hex") << QByteArray("0x10");
    QTest::newRow("1e309") << QByteArray("1e309");
    QTest::newRow("-1e309") << QByteArray("-1e309");
    QTest::newRow("rounds above largest") << QByteArray("1.7976931348623159e308");
    QTest::newRow("written 15-digit rounding of largest") << QByteArray("1.79769313486232E+308");
    QTest::newRow("huge exponent") << QByteArray("1e99999999999999999999");
    QTest::newRow("huge exponent negative") << QByteArray("-1e99999999999999999999");
    QTest::newRow("40-digit exponent") << "1e" + QByteArray(40, '9');
    QTest::newRow("NUL after") << QByteArray("5\0", 2);
    QTest::newRow("NUL before") << QByteArray("\0005", 2);
    QTest::newRow("CR after") << QByteArray("5\r");
    QTest::newRow("no-break space after") << QByteArray("5\xC2\xA0");
    QTest::newRow("fullwidth digit") << QByteArray("\xEF\xBC\x95");
    QTest::newRow("byte FF") << QByteArray("\xFF");
    QTest::newRow("unicode minus") << QByteArray("\xE2\x88\x92\x35");
}

void TestNumbers::wholeNumberRejects()
{
    QFETCH(QByteArray, text);
    const std::optional<double> actual = wholeNumber(view(text));
    QVERIFY2(!actual.has_value(), printable(text) + " was read as " + full(actual.value_or(0.0)));
}

void TestNumbers::longDigitStrings_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<double>("expected");
    QTest::addColumn<bool>("wholeAccepts");

    const QByteArray zeros(4999, '0');
    QByteArray pattern;
    while (pattern.size() < 5000)
        pattern += "1234567890";

    QTest::newRow("1 and 4999 zeros") << "1" + zeros << kMax << false;
    QTest::newRow("5000 digits") << pattern << kMax << false;
    QTest::newRow("minus 5000 digits") << "-" + pattern << -kMax << false;
    QTest::newRow("point and 5000 digits") << "0." + pattern << 0.12345678901234568 << true;
    QTest::newRow("1e-5000 in digits") << "0." + zeros + "1" << 0.0 << true;
    QTest::newRow("5000 digits scaled back") << "1" + zeros + "e-4999" << 1.0 << true;
    QTest::newRow("5000 fraction digits scaled up") << "0." + zeros + "1e5000" << 1.0 << true;
    QTest::newRow("5000 zeros") << QByteArray(5000, '0') << 0.0 << true;
    // The digits beyond the first 800 still decide the rounding.
    QTest::newRow("exact tie after 5000 zeros")
        << "9007199254740993." + QByteArray(5000, '0') << 9007199254740992.0 << true;
    QTest::newRow("digit 5000 breaks the tie") << "9007199254740993." + zeros + "1" << 9007199254740994.0 << true;
    QTest::newRow("5000 digits with blanks inside") << QByteArray("1 ") + QByteArray(4998, '0') + "x" << kMax << false;
}

void TestNumbers::longDigitStrings()
{
    QFETCH(QByteArray, text);
    QFETCH(double, expected);
    QFETCH(bool, wholeAccepts);

    const double leading = veloxa::numbers::leadingNumber(view(text));
    QVERIFY2(leading == expected, printable(text) + " read " + full(leading) + ", expected " + full(expected));
    const std::optional<double> whole = wholeNumber(view(text));
    QCOMPARE(whole.has_value(), wholeAccepts);
    if (whole)
        QVERIFY2(*whole == expected, "whole-text reading gave " + full(*whole));

    // The C library agrees on the texts it reads in full.
    if (wholeAccepts) {
        const StrtodResult reference = referenceStrtod(text.toStdString());
        QCOMPARE(reference.consumed, static_cast<std::size_t>(text.size()));
        QVERIFY2(reference.value == expected, "strtod gave " + full(reference.value));
    }
}

void TestNumbers::writeNumber_data()
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

void TestNumbers::writeNumber()
{
    QFETCH(double, value);
    QFETCH(QByteArray, expected);
    const std::string written = veloxa::numbers::writeNumber(value);
    QCOMPARE(QByteArray::fromStdString(written), expected);
}

void TestNumbers::roundHalfEven_data()
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

void TestNumbers::roundHalfEven()
{
    QFETCH(double, value);
    QFETCH(double, expected);
    const double actual = veloxa::numbers::roundHalfEven(value);
    QVERIFY2(actual == expected, full(value) + " rounded to " + full(actual) + ", expected " + full(expected));
}

void TestNumbers::isWhole_data()
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

void TestNumbers::isWhole()
{
    QFETCH(double, value);
    QFETCH(bool, expected);
    QCOMPARE(veloxa::numbers::isWhole(value), expected);
}

namespace {

// Random texts over the characters that matter to the readings. Letters that
// would make strtod read inf, nan or hexadecimal are left out, so strtod stays
// a valid reference for the leading reading.
std::string randomText(QRandomGenerator &random)
{
    static const char alphabet[] = "0123456789+-.eE \t\nabcdfgkqzABZ";
    const int length = random.bounded(0, 16);
    std::string text;
    for (int i = 0; i < length; ++i)
        text += alphabet[random.bounded(0, static_cast<int>(sizeof alphabet) - 1)];
    return text;
}

std::string randomDigits(QRandomGenerator &random, int count)
{
    std::string digits;
    for (int i = 0; i < count; ++i)
        digits += static_cast<char>('0' + random.bounded(0, 10));
    return digits;
}

// Mostly well-formed numbers (up to 25 digits, exponents across and beyond
// the double range), sometimes with one character changed, inserted or
// dropped.
std::string randomNumberText(QRandomGenerator &random)
{
    static const char blanks[] = " \t\n";
    std::string text;
    for (int i = random.bounded(0, 3); i > 0; --i)
        text += blanks[random.bounded(0, 3)];
    switch (random.bounded(0, 3)) {
    case 0: text += '-'; break;
    case 1: text += '+'; break;
    default: break;
    }
    text += randomDigits(random, random.bounded(0, 26));
    if (random.bounded(0, 2) == 0)
        text += '.' + randomDigits(random, random.bounded(0, 26));
    if (random.bounded(0, 2) == 0) {
        text += random.bounded(0, 2) == 0 ? 'e' : 'E';
        const int exponent = random.bounded(-400, 400);
        if (exponent < 0)
            text += '-';
        else if (random.bounded(0, 2) == 0)
            text += '+';
        if (random.bounded(0, 8) == 0)
            text += "00";
        text += std::to_string(std::abs(exponent));
    }
    for (int i = random.bounded(0, 3); i > 0; --i)
        text += blanks[random.bounded(0, 3)];

    static const char alphabet[] = "0123456789+-.eE \t\nabZ";
    if (random.bounded(0, 4) == 0) {
        const auto at = static_cast<std::size_t>(random.bounded(0, static_cast<int>(text.size()) + 1));
        const char c = alphabet[random.bounded(0, static_cast<int>(sizeof alphabet) - 1)];
        switch (random.bounded(0, 3)) {
        case 0: text.insert(at, 1, c); break;
        case 1:
            if (at < text.size())
                text[at] = c;
            break;
        default:
            if (at < text.size())
                text.erase(at, 1);
            break;
        }
    }
    return text;
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

} // namespace

void TestNumbers::randomTexts()
{
    QRandomGenerator random(20240611);
    int wellFormed = 0;
    int overflowing = 0;
    for (int i = 0; i < 20000; ++i) {
        const std::string text = (i % 2 == 0) ? randomText(random) : randomNumberText(random);
        const QByteArray shown = printable(text);

        const double leading = veloxa::numbers::leadingNumber(text);
        QVERIFY2(std::isfinite(leading), shown + " read as " + full(leading));
        const double expectedLeading = referenceLeading(text);
        QVERIFY2(leading == expectedLeading,
                 shown + " read " + full(leading) + ", strtod on the text without blanks gives "
                     + full(expectedLeading));

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
            continue;
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
    // The comparison with strtod must have had material to work on.
    QVERIFY2(wellFormed > 4000, QByteArray::number(wellFormed));
    QVERIFY2(overflowing > 50, QByteArray::number(overflowing));
}

void TestNumbers::randomDoublesWriteAndReadBack()
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

void TestNumbers::writtenWholeNumbersArePlainDigits()
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

QTEST_APPLESS_MAIN(TestNumbers)
#include "test_numbers.moc"
