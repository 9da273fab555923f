#pragma once
// Numbers as the panel reads them from its boxes and writes them back.
//
// Every function here is total: any text, any double, no exception, no hang.
// The decimal point is always "." whatever the user's locale.
//
// Numbers beyond the range of a double: the leading-number reading saturates
// to +/- the largest finite double (and reads values too small to represent as
// 0), so the clamping rules built on it always see a finite number; the
// whole-text reading fails on an overflowing number, so the rules that repair
// a text which is "not a number as a whole" replace it. Underflow is not a
// failure: "1e-400" reads as 0 in both readings.

#include <optional>
#include <string>
#include <string_view>

namespace veloxa::numbers {

// The number at the start of the text: blanks, tabs and line feeds are skipped
// wherever they stand until the number ends (" 1 000x" reads 1000, "- 5" reads
// -5); an optional sign, digits with at most one ".", an optional exponent
// ("e" or "E", optional sign, digits). Reading stops at the first character
// that cannot continue the number. A text without a leading number reads 0.
double leadingNumber(std::string_view text);

// The whole text as one ordinary decimal number, surrounding blanks and tabs
// allowed. Fails on the empty text, on anything after the number, on inf, nan,
// hex floats, thousands separators and on numbers beyond the double range.
std::optional<double> wholeNumber(std::string_view text);

// Decimal text of a number: at most 15 significant digits, no trailing zeros,
// no leading blank, "." as the decimal point. Whole numbers and ordinary
// fractions come out in plain digits (4294967295, -500, 499.95, 0.0001); only
// magnitudes from 1e21 up or below 1e-7 use an exponent ("1E+300", "2.5E-9"),
// which both readings above accept again. Negative zero and NaN are written
// "0"; magnitudes beyond 1.79769313486231E+308 (infinity included) are written
// as that number, so every written text reads back as a finite number.
std::string writeNumber(double value);

// Nearest whole number, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
double roundHalfEven(double value);

// True for finite values without a fraction.
bool isWhole(double value);

} // namespace veloxa::numbers
