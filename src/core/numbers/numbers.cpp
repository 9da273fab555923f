#include "core/numbers/numbers.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace veloxa::numbers {
namespace {

constexpr double kLargest = std::numeric_limits<double>::max();
// The largest magnitude whose 15-digit form reads back as a finite number
// (the largest double itself rounds up to 1.79769313486232E+308, which does not).
constexpr double kLargestWritable = 1.79769313486231e308;
// Exponents are accumulated up to this bound; anything beyond it is far outside
// the double range whatever the mantissa, and saturating keeps the sum exact.
constexpr long long kExponentBound = 1'000'000'000LL;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}
bool isLeadingBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}
bool isSurroundingBlank(char c)
{
    return c == ' ' || c == '\t';
}

// A number taken apart: sign, the mantissa's digits (without the point), how
// many of them stand before the point, and the decimal exponent.
struct Parts {
    bool negative = false;
    std::string digits;
    long long integerDigits = 0;
    long long exponent = 0;
};

void addExponentDigit(long long &exponent, char digit)
{
    if (exponent < kExponentBound)
        exponent = exponent * 10 + (digit - '0');
}

// Converts the parts to a double. Overflow saturates to the largest finite
// double (reported through `overflow`); underflow gives zero.
double toDouble(const Parts &parts, bool &overflow)
{
    overflow = false;
    std::size_t first = parts.digits.find_first_not_of('0');
    if (first == std::string::npos)
        return parts.negative ? -0.0 : 0.0;

    // Decimal magnitude of the first significant digit: 10^(magnitude - 1) <= |v| < 10^magnitude.
    const long long magnitude = parts.integerDigits - static_cast<long long>(first) + parts.exponent;
    if (magnitude > 400) {
        overflow = true;
        return parts.negative ? -kLargest : kLargest;
    }
    if (magnitude < -400)
        return parts.negative ? -0.0 : 0.0;

    // Rewrite as 0.<significant digits>E<magnitude>, which from_chars reads exactly
    // (correctly rounded) without depending on the locale.
    std::string text = "0.";
    text.append(parts.digits, first, std::string::npos);
    text += 'e';
    text += std::to_string(magnitude);

    double value = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        if (magnitude > 0) {
            overflow = true;
            value = kLargest;
        } else {
            value = 0.0;
        }
    } else if (std::isinf(value)) {
        overflow = true;
        value = kLargest;
    }
    return parts.negative ? -value : value;
}

} // namespace

double leadingNumber(std::string_view text)
{
    std::size_t pos = 0;
    const std::size_t size = text.size();
    auto skipBlanks = [&] {
        while (pos < size && isLeadingBlank(text[pos]))
            ++pos;
    };

    Parts parts;
    skipBlanks();
    if (pos < size && (text[pos] == '+' || text[pos] == '-')) {
        parts.negative = text[pos] == '-';
        ++pos;
    }

    bool seenPoint = false;
    for (;;) {
        skipBlanks();
        if (pos >= size)
            break;
        const char c = text[pos];
        if (isDigit(c)) {
            parts.digits += c;
            if (!seenPoint)
                ++parts.integerDigits;
        } else if (c == '.' && !seenPoint) {
            seenPoint = true;
        } else {
            break;
        }
        ++pos;
    }
    if (parts.digits.empty())
        return 0.0;

    // Exponent: taken only when at least one digit follows "e" (and its sign).
    skipBlanks();
    if (pos < size && (text[pos] == 'e' || text[pos] == 'E')) {
        ++pos;
        skipBlanks();
        bool negativeExponent = false;
        if (pos < size && (text[pos] == '+' || text[pos] == '-')) {
            negativeExponent = text[pos] == '-';
            ++pos;
        }
        long long exponent = 0;
        bool anyDigit = false;
        for (;;) {
            skipBlanks();
            if (pos >= size || !isDigit(text[pos]))
                break;
            addExponentDigit(exponent, text[pos]);
            anyDigit = true;
            ++pos;
        }
        if (anyDigit)
            parts.exponent = negativeExponent ? -exponent : exponent;
    }

    bool overflow = false;
    return toDouble(parts, overflow);
}

std::optional<double> wholeNumber(std::string_view text)
{
    while (!text.empty() && isSurroundingBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSurroundingBlank(text.back()))
        text.remove_suffix(1);

    Parts parts;
    std::size_t pos = 0;
    const std::size_t size = text.size();
    if (pos < size && (text[pos] == '+' || text[pos] == '-')) {
        parts.negative = text[pos] == '-';
        ++pos;
    }
    while (pos < size && isDigit(text[pos])) {
        parts.digits += text[pos++];
        ++parts.integerDigits;
    }
    if (pos < size && text[pos] == '.') {
        ++pos;
        while (pos < size && isDigit(text[pos]))
            parts.digits += text[pos++];
    }
    if (parts.digits.empty())
        return std::nullopt;

    if (pos < size && (text[pos] == 'e' || text[pos] == 'E')) {
        ++pos;
        bool negativeExponent = false;
        if (pos < size && (text[pos] == '+' || text[pos] == '-')) {
            negativeExponent = text[pos] == '-';
            ++pos;
        }
        long long exponent = 0;
        const std::size_t firstExponentDigit = pos;
        while (pos < size && isDigit(text[pos]))
            addExponentDigit(exponent, text[pos++]);
        if (pos == firstExponentDigit)
            return std::nullopt;
        parts.exponent = negativeExponent ? -exponent : exponent;
    }
    if (pos != size)
        return std::nullopt;

    bool overflow = false;
    const double value = toDouble(parts, overflow);
    if (overflow)
        return std::nullopt;
    return value;
}

std::string writeNumber(double value)
{
    if (std::isnan(value) || value == 0.0)
        return "0";
    if (std::fabs(value) > kLargestWritable)
        value = value > 0 ? kLargestWritable : -kLargestWritable;

    // 15 significant digits: d.dddddddddddddde+XXX
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.14e", value);
    const std::string_view printed(buffer);

    const bool negative = printed.front() == '-';
    const std::size_t ePos = printed.find('e');
    std::string digits;
    for (char c : printed.substr(0, ePos))
        if (isDigit(c))
            digits += c;
    int exponent = 0;
    std::from_chars(printed.data() + ePos + 1 + (printed[ePos + 1] == '+'), printed.data() + printed.size(), exponent);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    std::string out = negative ? "-" : "";
    if (exponent >= 21 || exponent < -7) {
        out += digits[0];
        if (digits.size() > 1) {
            out += '.';
            out.append(digits, 1, std::string::npos);
        }
        out += exponent < 0 ? "E-" : "E+";
        out += std::to_string(std::abs(exponent));
    } else if (exponent < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += digits;
    } else {
        const std::size_t integerDigits = static_cast<std::size_t>(exponent) + 1;
        if (digits.size() <= integerDigits) {
            out += digits;
            out.append(integerDigits - digits.size(), '0');
        } else {
            out.append(digits, 0, integerDigits);
            out += '.';
            out.append(digits, integerDigits, std::string::npos);
        }
    }
    return out;
}

double roundHalfEven(double value)
{
    if (!std::isfinite(value))
        return value;
    const double below = std::floor(value);
    const double fraction = value - below;
    if (fraction < 0.5)
        return below;
    if (fraction > 0.5)
        return below + 1.0;
    return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

bool isWhole(double value)
{
    return std::isfinite(value) && std::floor(value) == value;
}

} // namespace veloxa::numbers
