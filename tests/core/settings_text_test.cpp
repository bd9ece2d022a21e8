#include "engine/modGeneral.h"
#include "settings/modSettingsFile.h"
#include "startup/AppError.h"

#include <cerrno>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <sstream>

using namespace sonavel;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

struct NumberRow {
    const char* Text;
    bool Numeric;
    double Value;
};

} // namespace

TEST(SettingsText, ReadsOnlyPlainDecimalTextAsNumbers) {
    const std::string millionZeros(1'000'000, '0');
    const std::vector<NumberRow> rows{
        {"12", true, 12},
        {"-12", true, -12},
        {"+12", true, 12},
        {"  12  ", true, 12},
        {"\t7\t", true, 7},
        {"1.5", true, 1.5},
        {"1.", true, 1},
        {".5", true, 0.5},
        {"-.5", true, -0.5},
        {"1e2", true, 100},
        {"1E+2", true, 100},
        {"2.5e-1", true, 0.25},
        {"1e99999999999999999999", true, kInf},
        {"1e-999", true, 0},
        {"0e999999", true, 0},
        {"0.000000000000000000000000000001e-400", true, 0},
        {"-0", true, 0},
        {"", false, 0},
        {"   ", false, 0},
        {".", false, 0},
        {"-", false, 0},
        {"+-1", false, 0},
        {"- 1", false, 0},
        {"1 2", false, 0},
        {"1e", false, 0},
        {"1e+", false, 0},
        {"e5", false, 0},
        {"nan", false, 0},
        {"-Infinity", false, 0},
        {"1.2.3", false, 0},
        {"1d5", false, 0},
        {"\x01"
         "1",
         false, 0},
    };
    for (const auto& row : rows) {
        double value = -42;
        EXPECT_EQ(ParseNumber(row.Text, value), row.Numeric) << '"' << row.Text << '"';
        if (row.Numeric) {
            EXPECT_EQ(value, row.Value) << '"' << row.Text << '"';
        }
    }

    double value = -1;
    EXPECT_TRUE(ParseNumber("-0", value));
    EXPECT_TRUE(std::signbit(value)) << "-0 keeps its sign and still compares equal to 0";
    EXPECT_TRUE(ParseNumber(millionZeros + "150", value));
    EXPECT_EQ(value, 150);
    EXPECT_TRUE(ParseNumber("1" + millionZeros, value));
    EXPECT_EQ(value, kInf);
    EXPECT_TRUE(ParseNumber("0." + millionZeros + "1", value));
    EXPECT_EQ(value, 0);
    EXPECT_FALSE(ParseNumber(std::string("1\0", 2), value)) << "an embedded NUL ends no number";
}

TEST(SettingsText, RoundsHalvesToTheEvenNeighbour) {
    const std::vector<std::pair<double, double>> rows{
        {0.5, 0},     {1.5, 2},     {2.5, 2},
        {3.5, 4},     {-0.5, 0},    {-1.5, -2},
        {-2.5, -2},   {2.4, 2},     {2.6, 3},
        {-2.6, -3},   {7, 7},       {0.49999999999999994, 0},
        {100.5, 100}, {101.5, 102}, {4503599627370497.0, 4503599627370497.0},
    };
    for (const auto& [in, out] : rows)
        EXPECT_EQ(RoundHalfEven(in), out) << in;
}

TEST(SettingsText, ConvertsListElementsTo16Bits) {
    struct Row {
        const char* Text;
        Int16Conversion Result;
        int16_t Value;
    };
    const std::vector<Row> rows{
        {" 2 ", Int16Conversion::Done, 2},         {"-3", Int16Conversion::Done, -3},
        {"1.5", Int16Conversion::Done, 2},         {"32767", Int16Conversion::Done, 32767},
        {"32766.5", Int16Conversion::Done, 32766}, {"32767.5", Int16Conversion::Overflow, 0},
        {"-32768", Int16Conversion::Done, -32768}, {"-32768.5", Int16Conversion::Done, -32768},
        {"-32769", Int16Conversion::Overflow, 0},  {"-1e999", Int16Conversion::Overflow, 0},
        {"", Int16Conversion::NotANumber, 0},
    };
    for (const auto& row : rows) {
        int16_t value = 99;
        EXPECT_EQ(ToInt16(row.Text, value), row.Result) << '"' << row.Text << '"';
        if (row.Result == Int16Conversion::Done) {
            EXPECT_EQ(value, row.Value) << '"' << row.Text << '"';
        }
    }
}

TEST(SettingsText, LineReaderAcceptsEveryLineEnd) {
    using Lines = std::vector<std::string>;
    struct Row {
        const char* Name;
        std::string Bytes;
        Lines Expected;
    };
    const std::vector<Row> rows{
        {"CR LF", "a\r\nb\r\n", {"a", "b"}},
        {"LF", "a\nb\n", {"a", "b"}},
        {"CR", "a\rb\r", {"a", "b"}},
        {"no end on the last line", "a\r\nb", {"a", "b"}},
        {"mixed", "a\rb\nc\r\nd", {"a", "b", "c", "d"}},
        {"empty lines", "\r\n\n\r", {"", "", ""}},
        {"CR then CR LF", "a\r\r\nb", {"a", "", "b"}},
        {"LF CR is two ends", "a\n\rb", {"a", "", "b"}},
        {"empty", "", {}},
        {"binary", std::string("x\0y\r\n\xff", 6), {std::string("x\0y", 3), "\xff"}},
    };
    for (const auto& row : rows) {
        std::istringstream in(row.Bytes);
        SettingsLineReader reader(in, 1000);
        Lines lines;
        std::string line;
        while (reader.Next(line))
            lines.push_back(line);
        EXPECT_EQ(lines, row.Expected) << row.Name;
    }
}

TEST(SettingsText, LineReaderStopsAtItsSizeLimit) {
    std::istringstream in(std::string(100, 'x') + "\n" + std::string(100, 'y'));
    SettingsLineReader reader(in, 150);
    std::string line;
    ASSERT_TRUE(reader.Next(line));
    EXPECT_EQ(line.size(), 100u);
    try {
        reader.Next(line);
        FAIL() << "reading past the limit must fail";
    } catch (const AppError& e) {
        EXPECT_EQ(e.Code(), EFBIG);
    }

    std::istringstream exact(std::string(10, 'x') + "\r\n");
    SettingsLineReader fits(exact, 12);
    EXPECT_TRUE(fits.Next(line));
    EXPECT_FALSE(fits.Next(line));
}
