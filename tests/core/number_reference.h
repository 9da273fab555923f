#pragma once
// The reference the tests of the number readings and writing check against:
// the C library's strtod under the "C" locale, whatever the environment says,
// and texts shown readably in failure messages.

#include <QByteArray>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <string>
#include <string_view>

namespace veloxa::test {

inline constexpr double kMax = std::numeric_limits<double>::max();
inline constexpr double kInf = std::numeric_limits<double>::infinity();
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kDenormMin = std::numeric_limits<double>::denorm_min();
// What writeNumber puts down for the largest magnitudes (the largest double
// itself would round up to 1.79769313486232E+308, beyond the double range).
inline constexpr double kLargestWritable = 1.79769313486231e308;

inline std::string_view view(const QByteArray &text)
{
    return {text.constData(), static_cast<std::size_t>(text.size())};
}

// A text as it can be read in a failure message: control and non-ASCII bytes escaped.
inline QByteArray printable(std::string_view text)
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

inline QByteArray printable(const QByteArray &text)
{
    return printable(view(text));
}

inline QByteArray full(double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
    return buffer;
}

#ifndef _WIN32
// The "C" locale, whatever the environment says, for the strtod reference.
inline locale_t cLocale()
{
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}
#endif

struct StrtodResult {
    double value = 0.0;
    std::size_t consumed = 0;
};

inline StrtodResult referenceStrtod(const std::string &text)
{
    char *end = nullptr;
    StrtodResult result;
#ifdef _WIN32
    // mingw-w64's own strtod, correctly rounded (the C run-time's is not
    // always), in the "C" locale that a program starts in.
    result.value = __mingw_strtod(text.c_str(), &end);
#else
    result.value = strtod_l(text.c_str(), &end, cLocale());
#endif
    result.consumed = static_cast<std::size_t>(end - text.c_str());
    return result;
}

} // namespace veloxa::test
