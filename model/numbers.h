// Reading numbers out of text fields and writing them back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace model {

// The longest leading number of a text: blanks, tabs and line feeds anywhere
// are skipped; an optional sign; digits with at most one full stop; an
// optional exponent introduced by E or D (either case); or &H / &O followed by
// a hexadecimal or octal integer. A text without a number reads 0.
// Throws the overflow error when the number lies past the double range;
// a number too small for a double reads as zero.
double ReadNumber(std::string_view text);

// Conversions to a 16-bit signed integer; both throw the overflow error when
// the result lies outside -32768..32767.
int16_t RoundHalfEven16(double v);
int16_t Floor16(double v);

// Plain decimal text of a value with at most 15 significant digits, "." as the
// decimal point, no blanks, no trailing zeros; an exponent form ("1E-05") for
// very small and very large magnitudes. Independent of any locale.
std::string DecimalText(double v);

// Decimal text of a whole number ("8", "1000", "-3").
std::string IntegerText(int v);

} // namespace model
