#include "model/numbers.h"

#include "model/errors.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

namespace model {

namespace {

bool isSkipped(char c) { return c == ' ' || c == '\t' || c == '\n'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHexDigit(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool isOctDigit(char c) { return c >= '0' && c <= '7'; }

[[noreturn]] void numberTooLarge()
{
    throwOverflow("Overflow: the number is too large for a double-precision value.");
}

// Hexadecimal digits (no prefix) to a correctly rounded double.
double hexValue(const std::string& digits)
{
    if (digits.empty())
        return 0.0;
    double v = 0.0;
    auto r = std::from_chars(digits.data(), digits.data() + digits.size(), v,
                             std::chars_format::hex);
    if (r.ec == std::errc::result_out_of_range)
        numberTooLarge();
    return v;
}

double octValue(const std::string& digits)
{
    // Three bits an octal digit, regrouped into four-bit hexadecimal digits.
    std::string bits;
    bits.reserve(digits.size() * 3 + 3);
    for (char c : digits) {
        int d = c - '0';
        bits += (d & 4) ? '1' : '0';
        bits += (d & 2) ? '1' : '0';
        bits += (d & 1) ? '1' : '0';
    }
    bits.insert(0, (4 - bits.size() % 4) % 4, '0');
    std::string hex;
    hex.reserve(bits.size() / 4);
    for (size_t i = 0; i < bits.size(); i += 4) {
        int d = (bits[i] - '0') * 8 + (bits[i + 1] - '0') * 4 + (bits[i + 2] - '0') * 2
                + (bits[i + 3] - '0');
        hex += "0123456789abcdef"[d];
    }
    return hexValue(hex);
}

} // namespace

double ReadNumber(std::string_view text)
{
    std::string s;
    s.reserve(text.size());
    for (char c : text)
        if (!isSkipped(c))
            s += c;

    size_t p = 0;
    const size_t n = s.size();

    if (n >= 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h' || s[1] == 'O' || s[1] == 'o')) {
        const bool hex = s[1] == 'H' || s[1] == 'h';
        std::string digits;
        for (p = 2; p < n && (hex ? isHexDigit(s[p]) : isOctDigit(s[p])); ++p)
            digits += s[p];
        return hex ? hexValue(digits) : octValue(digits);
    }

    bool negative = false;
    if (p < n && (s[p] == '+' || s[p] == '-')) {
        negative = s[p] == '-';
        ++p;
    }
    std::string intDigits, fracDigits;
    while (p < n && isDigit(s[p]))
        intDigits += s[p++];
    if (p < n && s[p] == '.') {
        ++p;
        while (p < n && isDigit(s[p]))
            fracDigits += s[p++];
    }
    if (intDigits.empty() && fracDigits.empty())
        return 0.0;

    // Exponent, saturated far beyond any exponent that can matter.
    int64_t exponent = 0;
    if (p < n && (s[p] == 'E' || s[p] == 'e' || s[p] == 'D' || s[p] == 'd')) {
        size_t q = p + 1;
        bool expNegative = false;
        if (q < n && (s[q] == '+' || s[q] == '-')) {
            expNegative = s[q] == '-';
            ++q;
        }
        if (q < n && isDigit(s[q])) {
            for (; q < n && isDigit(s[q]); ++q)
                exponent = std::min<int64_t>(exponent * 10 + (s[q] - '0'), 1000000000);
            if (expNegative)
                exponent = -exponent;
        }
    }

    // Decimal position of the leading significant digit, to tell overflow from
    // underflow when the value does not fit.
    size_t firstInt = intDigits.find_first_not_of('0');
    size_t firstFrac = fracDigits.find_first_not_of('0');
    if (firstInt == std::string::npos && firstFrac == std::string::npos)
        return negative ? -0.0 : 0.0;
    int64_t magnitude = firstInt != std::string::npos
        ? static_cast<int64_t>(intDigits.size() - firstInt) - 1 + exponent
        : -static_cast<int64_t>(firstFrac) - 1 + exponent;

    std::string normal = intDigits.empty() ? "0" : intDigits;
    if (!fracDigits.empty())
        normal += "." + fracDigits;
    normal += "e" + std::to_string(exponent);

    double v = 0.0;
    auto r = std::from_chars(normal.data(), normal.data() + normal.size(), v,
                             std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        if (magnitude >= 0)
            numberTooLarge();
        v = 0.0; // underflow is not an error
    }
    return negative ? -v : v;
}

int16_t RoundHalfEven16(double v)
{
    double r = std::nearbyint(v); // the default rounding mode rounds halves to even
    if (!(r >= -32768.0 && r <= 32767.0))
        throwOverflow("Overflow: the value does not fit a 16-bit integer (-32768..32767).");
    return static_cast<int16_t>(r);
}

int16_t Floor16(double v)
{
    double r = std::floor(v);
    if (!(r >= -32768.0 && r <= 32767.0))
        throwOverflow("Overflow: the value does not fit a 16-bit integer (-32768..32767).");
    return static_cast<int16_t>(r);
}

std::string DecimalText(double v)
{
    if (v == 0.0)
        return "0";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
    if (std::fabs(v) > 1.79769313486231e308) {
        // Rounded to 15 digits, the largest magnitudes lie past the double
        // range and could not be read back: cut the last digit instead.
        r = std::to_chars(buf, buf + sizeof buf, v > 0 ? 1.79769313486231e308 : -1.79769313486231e308,
                          std::chars_format::general, 15);
    }
    std::string s(buf, r.ptr);
    for (char& c : s)
        if (c == 'e')
            c = 'E';
    return s;
}

std::string IntegerText(int v) { return std::to_string(v); }

} // namespace model
