// Fuzzes the number readings and the writing of numbers.
//
// For any text: neither reading crashes; where the text (or its start) is a
// plain decimal number, both readings agree with strtod under the C locale
// (saturating or failing where strtod overflows). For any double, taken from
// the input's bytes and from what the readings made of the text: the written
// text has the documented shape, both readings accept it, it reads back as the
// value to 15 significant digits, and writing what was read gives the same
// text again. Half-even rounding agrees with nearbyint in the default
// rounding mode.

#include "core/numbers/numbers.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>
#include <string_view>

namespace {

using namespace veloxa::numbers;

[[noreturn]] void fail(const char *what, std::string_view text, double value = 0.0)
{
    std::fprintf(stderr, "fuzz_numbers: %s\n  text: \"", what);
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\')
            std::fputc(c, stderr);
        else
            std::fprintf(stderr, "\\x%02X", c);
    }
    std::fprintf(stderr, "\"\n  value: %.17g\n", value);
    std::abort();
}

#define CHECK(condition, text, value)                                                                                  \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            fail(#condition, (text), (value));                                                                         \
    } while (0)

bool digit(char c)
{
    return c >= '0' && c <= '9';
}

// The longest start of `text` that is a plain decimal number: an optional
// sign, digits with at most one point and at least one digit, and an exponent
// only when at least one digit follows its "e" and sign. Empty when none.
std::string_view decimalPrefix(std::string_view text)
{
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    std::size_t mantissaDigits = 0;
    while (i < text.size() && digit(text[i])) {
        ++i;
        ++mantissaDigits;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && digit(text[i])) {
            ++i;
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0)
        return {};
    std::size_t end = i;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            ++j;
        const std::size_t firstDigit = j;
        while (j < text.size() && digit(text[j]))
            ++j;
        if (j > firstDigit)
            end = j;
    }
    return text.substr(0, end);
}

locale_t cLocale()
{
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return locale;
}

// strtod on a plain decimal number; `overflow` when it is beyond the doubles.
double reference(std::string_view number, bool &overflow)
{
    const std::string copy(number);
    const double value = strtod_l(copy.c_str(), nullptr, cLocale());
    overflow = std::isinf(value);
    return value;
}

void checkReadings(std::string_view text)
{
    const double leading = leadingNumber(text);
    CHECK(std::isfinite(leading), text, leading);

    // Leading number: blanks, tabs and line feeds never end the number, so
    // the reference reads the text without them.
    std::string squeezed;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n')
            squeezed += c;
    if (const std::string_view prefix = decimalPrefix(squeezed); prefix.empty()) {
        CHECK(leading == 0.0, text, leading);
    } else {
        bool overflow = false;
        const double expected = reference(prefix, overflow);
        if (overflow)
            CHECK(leading == (expected > 0 ? DBL_MAX : -DBL_MAX), text, leading);
        else
            CHECK(leading == expected, text, leading);
    }

    // Whole text: surrounding blanks and tabs, then one number and nothing else.
    const auto whole = wholeNumber(text);
    std::string_view trimmed = text;
    while (!trimmed.empty() && (trimmed.front() == ' ' || trimmed.front() == '\t'))
        trimmed.remove_prefix(1);
    while (!trimmed.empty() && (trimmed.back() == ' ' || trimmed.back() == '\t'))
        trimmed.remove_suffix(1);
    const std::string_view prefix = decimalPrefix(trimmed);
    if (prefix.empty() || prefix.size() != trimmed.size()) {
        CHECK(!whole, text, whole.value_or(0.0));
    } else {
        bool overflow = false;
        const double expected = reference(prefix, overflow);
        if (overflow) {
            CHECK(!whole, text, whole.value_or(0.0));
        } else {
            CHECK(whole.has_value(), text, expected);
            CHECK(*whole == expected, text, *whole);
            // A number as a whole is also its own leading number.
            CHECK(leading == *whole, text, leading);
        }
    }
}

// Significant digits of a written mantissa ("-12.50" has 3: 1, 2, 5).
int significantDigits(std::string_view mantissa)
{
    std::string digits;
    for (char c : mantissa)
        if (digit(c))
            digits += c;
    const std::size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos)
        return 0;
    const std::size_t last = digits.find_last_not_of('0');
    return static_cast<int>(last - first + 1);
}

void checkWritten(double value)
{
    const std::string text = writeNumber(value);
    CHECK(!text.empty(), text, value);

    // Shape: "-"? digits ("." digits)? ("E" sign digits)?, no trailing zero
    // after the point, at most 15 significant digits.
    const std::size_t e = text.find('E');
    const std::string_view mantissa = std::string_view(text).substr(0, e);
    std::string_view unsignedMantissa = mantissa;
    if (!unsignedMantissa.empty() && unsignedMantissa.front() == '-')
        unsignedMantissa.remove_prefix(1);
    CHECK(!unsignedMantissa.empty() && digit(unsignedMantissa.front()), text, value);
    const std::size_t point = unsignedMantissa.find('.');
    for (std::size_t i = 0; i < unsignedMantissa.size(); ++i)
        CHECK(digit(unsignedMantissa[i]) || i == point, text, value);
    if (point != std::string_view::npos)
        CHECK(point + 1 < unsignedMantissa.size() && unsignedMantissa.back() != '0', text, value);
    CHECK(significantDigits(mantissa) <= 15, text, value);
    if (e != std::string::npos) {
        CHECK(e + 2 < text.size() && (text[e + 1] == '+' || text[e + 1] == '-'), text, value);
        for (std::size_t i = e + 2; i < text.size(); ++i)
            CHECK(digit(text[i]), text, value);
        CHECK(unsignedMantissa.front() != '0', text, value); // one digit before the point, not 0
        CHECK(point == std::string_view::npos || point == 1, text, value);
    }
    if (point != std::string_view::npos && e == std::string::npos && unsignedMantissa.front() == '0')
        CHECK(point == 1, text, value); // "0.001", not "00.001"

    // Both readings accept it, as the same finite number, and so does strtod.
    const auto read = wholeNumber(text);
    CHECK(read.has_value(), text, value);
    CHECK(std::isfinite(*read), text, *read);
    CHECK(leadingNumber(text) == *read, text, *read);
    bool overflow = false;
    CHECK(reference(text, overflow) == *read && !overflow, text, *read);

    // The exponent form exactly for magnitudes from 1e21 up and below 1e-7.
    const double magnitude = std::fabs(*read);
    const bool exponentForm = magnitude != 0.0 && (magnitude >= 1e21 || magnitude < 1e-7);
    CHECK((e != std::string::npos) == exponentForm, text, *read);

    constexpr double kLargestWritable = 1.79769313486231e308;
    if (std::isnan(value) || value == 0.0) {
        CHECK(text == "0", text, value);
        return;
    }
    if (std::fabs(value) > kLargestWritable) {
        CHECK(*read == std::copysign(kLargestWritable, value), text, value);
        return;
    }
    // 15 significant digits: off by at most half a unit of the 15th digit,
    // plus the rounding of reading the text back (and a subnormal's spacing).
    const double error = std::fabs(*read - value);
    CHECK(error <= 5.2e-15 * std::fabs(value) + DBL_TRUE_MIN, text, value);
    CHECK(std::signbit(*read) == std::signbit(value), text, value);

    // 15 digits survive a round trip through a double (DBL_DIG), so writing
    // what was read gives the same text again, for all but subnormals.
    if (std::fabs(*read) >= DBL_MIN)
        CHECK(writeNumber(*read) == text, text, *read);
}

void checkRounding(double value)
{
    const double rounded = roundHalfEven(value);
    if (!std::isfinite(value)) {
        CHECK(std::isnan(value) ? std::isnan(rounded) : rounded == value, "", value);
        CHECK(!isWhole(value), "", value);
        return;
    }
    // The default rounding mode rounds halves to even.
    CHECK(rounded == std::nearbyint(value), "", value);
    CHECK(isWhole(rounded), "", rounded);
    CHECK(isWhole(value) == (std::nearbyint(value) == value), "", value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    checkReadings(text);

    checkWritten(leadingNumber(text));
    checkRounding(leadingNumber(text));
    if (const auto whole = wholeNumber(text))
        checkWritten(*whole);

    // Any double at all, from the first eight bytes.
    if (size >= sizeof(double)) {
        double raw;
        std::memcpy(&raw, data, sizeof raw);
        checkWritten(raw);
        checkRounding(raw);
    }
    return 0;
}
