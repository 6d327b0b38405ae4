#include "model/errors.h"
#include "model/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using model::ReadNumber;
using model::RuntimeError;

namespace {

struct Reading {
    const char* text;
    double value;
};

TEST(ReadNumber, TakesTheLongestLeadingNumber)
{
    const Reading cases[] = {
        {"", 0},           {"abc", 0},        {"-4.311", -4.311}, {"1,5", 1},
        {"  12  ", 12},    {"1 2", 12},       {"\t-\n3", -3},     {"1 . 5", 1.5},
        {"08", 8},         {"1e1", 10},       {"1E1", 10},        {"2.5d2", 250},
        {"2.5D-1", 0.25},  {".5", 0.5},       {"-.5", -0.5},      {"+7", 7},
        {"5.", 5},         {"1.2.3", 1.2},    {"--1", 0},         {"-", 0},
        {".", 0},          {"1e", 1},         {"1e+", 1},         {"1ex", 1},
        {"3x7", 3},        {"&H1F", 31},      {"&hff", 255},      {"&O17", 15},
        {"&o777", 511},    {"&H", 0},         {"& H 1 0", 16},    {"&Hxyz", 0},
        {"&O8", 0},        {"1e-400", 0},     {"0e99999", 0},     {"1\r2", 1},
        {"2.9", 2.9},      {"1e308", 1e308},
    };
    for (const Reading& c : cases)
        EXPECT_EQ(ReadNumber(c.text), c.value) << '"' << c.text << '"';
}

TEST(ReadNumber, LongTextsAndExponentsStayExact)
{
    EXPECT_EQ(ReadNumber("0." + std::string(400, '0') + "1e450"), 1e49);
    EXPECT_EQ(ReadNumber(std::string(300, '0') + "42"), 42);
    EXPECT_EQ(ReadNumber("1e-99999999999999999999"), 0);
    EXPECT_EQ(ReadNumber("123456789012345678901234567890"), 1.2345678901234568e29);
    EXPECT_EQ(ReadNumber("&H" + std::string(13, 'F')), 4503599627370495.0);
}

TEST(ReadNumber, PastTheDoubleRangeIsTheOverflowError)
{
    for (const std::string& text : std::vector<std::string>{"1e400", "-1e400", "1.7976931348623159e308", std::string(400, '9'),
          "1e99999999999999999999", "&H" + std::string(300, 'F'), "&O" + std::string(400, '7')}) {
        try {
            ReadNumber(text);
            ADD_FAILURE() << "no error for " << text.substr(0, 30);
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.kind(), RuntimeError::Kind::Overflow);
        }
    }
    EXPECT_EQ(ReadNumber("1.7976931348623157e308"), std::numeric_limits<double>::max());
}

TEST(Conversions16, RoundHalfToEvenAndFloorWithTheirRange)
{
    EXPECT_EQ(model::RoundHalfEven16(2.5), 2);
    EXPECT_EQ(model::RoundHalfEven16(3.5), 4);
    EXPECT_EQ(model::RoundHalfEven16(-2.5), -2);
    EXPECT_EQ(model::RoundHalfEven16(2.9), 3);
    EXPECT_EQ(model::RoundHalfEven16(0.4), 0);
    EXPECT_EQ(model::RoundHalfEven16(32767.4), 32767);
    EXPECT_EQ(model::RoundHalfEven16(-32768.5), -32768);
    EXPECT_THROW(model::RoundHalfEven16(32767.5), RuntimeError);
    EXPECT_THROW(model::RoundHalfEven16(-32768.6), RuntimeError);

    EXPECT_EQ(model::Floor16(2.9), 2);
    EXPECT_EQ(model::Floor16(-0.5), -1);
    EXPECT_EQ(model::Floor16(32767.9), 32767);
    EXPECT_EQ(model::Floor16(-32768), -32768);
    EXPECT_THROW(model::Floor16(32768), RuntimeError);
    EXPECT_THROW(model::Floor16(-32768.1), RuntimeError);
}

TEST(DecimalText, FifteenDigitsFullStopNoTrailingZeros)
{
    EXPECT_EQ(model::DecimalText(-1.0), "-1");
    EXPECT_EQ(model::DecimalText(1.0), "1");
    EXPECT_EQ(model::DecimalText(0.0), "0");
    EXPECT_EQ(model::DecimalText(-0.0), "0");
    EXPECT_EQ(model::DecimalText(0.25), "0.25");
    EXPECT_EQ(model::DecimalText(-0.97497), "-0.97497");
    EXPECT_EQ(model::DecimalText(1.0 / 3.0), "0.333333333333333");
    EXPECT_EQ(model::DecimalText(1e-5), "1E-05");
    EXPECT_EQ(model::DecimalText(1.5e300), "1.5E+300");
    // Read back, the text gives the value rounded to 15 significant digits.
    for (double v : {1.0 / 3.0, -2.0 / 7.0, 123456.789012345678, 5e-324, 1.79769313486231e308,
                     -0.0012515644555694618}) {
        const double back = ReadNumber(model::DecimalText(v));
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.14e", v);
        EXPECT_EQ(back, std::strtod(buf, nullptr)) << v;
    }
    // The largest doubles round to 15 digits past the range; their text is cut
    // instead, so that it still reads back.
    const double max = std::numeric_limits<double>::max();
    EXPECT_EQ(model::DecimalText(max), "1.79769313486231E+308");
    EXPECT_EQ(model::DecimalText(-max), "-1.79769313486231E+308");
    EXPECT_NEAR(ReadNumber(model::DecimalText(max)) / max, 1.0, 1e-14);
}

} // namespace
