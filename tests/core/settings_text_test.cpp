#include "engine/modGeneral.h"
#include "settings/modSettingsFile.h"
#include "startup/AppError.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <limits>
#include <sstream>

using namespace sonavel;

TEST(SettingsText, ReadsOnlyPlainDecimalTextAsNumbers) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const std::string zeros(1'000'000, '0');
    const std::vector<std::pair<std::string, double>> numbers{
        {"-12", -12},         {" \t12 ", 12},      {".5", 0.5},
        {"2.5e-1", 0.25},     {"-1e999", -kInf},   {"1e99999999999999999999", kInf},
        {zeros + "150", 150}, {"1" + zeros, kInf},
    };
    for (const auto& [text, expected] : numbers) {
        double value = -42;
        EXPECT_TRUE(ParseNumber(text, value)) << text.substr(0, 30);
        EXPECT_EQ(value, expected) << text.substr(0, 30);
    }
    for (const std::string text :
         {"", ".", "+-1", "1 2", "1e+", "e5", "nan", "inf", "0x10", "1,5", "12abc", "1.2.3"}) {
        double value = 0;
        EXPECT_FALSE(ParseNumber(text, value)) << '"' << text << '"';
    }
    double value = 0;
    EXPECT_FALSE(ParseNumber(std::string("1\0", 2), value)) << "an embedded NUL ends no number";
}

TEST(SettingsText, RoundsHalvesToEvenAndConvertsListElementsTo16Bits) {
    for (const auto& [in, out] : std::vector<std::pair<double, double>>{
             {0.5, 0}, {1.5, 2}, {2.5, 2}, {-1.5, -2}, {-2.6, -3}, {0.49999999999999994, 0}})
        EXPECT_EQ(RoundHalfEven(in), out) << in;

    using C = Int16Conversion;
    const std::vector<std::tuple<const char*, C, int16_t>> rows{
        {" 1.5 ", C::Done, 2},         {"32767", C::Done, 32767},  {"32767.5", C::Overflow, 0},
        {"-32768.5", C::Done, -32768}, {"-32769", C::Overflow, 0}, {"x", C::NotANumber, 0},
    };
    for (const auto& [text, result, expected] : rows) {
        int16_t value = 99;
        EXPECT_EQ(ToInt16(text, value), result) << text;
        if (result == C::Done) {
            EXPECT_EQ(value, expected) << text;
        }
    }
}

TEST(SettingsText, LineReaderStopsAtItsSizeLimit) {
    std::istringstream exact(std::string(10, 'x') + "\r\n" + "y");
    SettingsLineReader reader(exact, 12);
    std::string line;
    EXPECT_TRUE(reader.Next(line));
    EXPECT_THROW(reader.Next(line), AppError) << "byte 13 is past the limit";
}
