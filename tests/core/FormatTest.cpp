#include "core/Format.h"

#include "core/NumberInput.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace kestrune {

TEST(Format, SiFormatScalesToPrefix)
{
    EXPECT_EQ(siFormat(12345.678, "eV"), "  12.346 keV");
    EXPECT_EQ(siFormat(0, "m"), "   0.000 m");
    EXPECT_EQ(siFormat(-0.0025, "A"), "  -2.500 mA");
    EXPECT_EQ(siFormat(1.5e9, "eV"), "   1.500 GeV");
    EXPECT_EQ(siFormat(3e-18, "m"), "   3.000 am");
    EXPECT_EQ(siFormat(3e-19, "m"), "   0.000 m"); // below atto the value stays
    // outside the prefixes the value stays as it is
    EXPECT_EQ(siFormat(2e18, "W"), fmt("%8.3f", 2e18) + " W");
    EXPECT_EQ(siFormat(999.0, "V"), " 999.000 V");
}

TEST(Format, FixedWidths)
{
    EXPECT_EQ(fmt("%5d", 42), "   42");
    EXPECT_EQ(fmt("%8.3f", 1.5), "   1.500");
    EXPECT_EQ(fmt("%10.5f", 5.729577951), "   5.72958");
    EXPECT_EQ(fmt("%9.3f", -2.0), "   -2.000");
    EXPECT_EQ(fmt("%8.4g", 299792458.0), "2.998e+08");
    EXPECT_EQ(separatorLine(), std::string(90, '-'));
    EXPECT_EQ(fmt("%s", std::string(400, 'x').c_str()).size(), 400u);
}

TEST(Format, NumbersOfALabelKeepItsWidth)
{
    const struct
    {
        const char* format;
        double value;
        const char* text;
    } cases[] = {
        {"%8.3f", 1.5, "   1.500"},
        {"%8.3f", 1e300, "1.0e+300"}, // a 300-digit number in the eight characters
        {"%8.3f", -2.5e12, "-2.5e+12"},
        {"%10.5f", 123456.0, "1.2346e+05"},
        {"%8.3f", -0.0001, "   0.000"}, // no "-0.000"
        {"%8.3f", -0.0, "   0.000"},
        {"%8.3f", -0.002, "  -0.002"},
        {"%8.3f", std::nan(""), "     n/a"},
        {"%.10g", -1.16330123456, "-1.163301235"}, // no field width: as printf writes it
    };
    for (const auto& c : cases)
        EXPECT_EQ(fmtOrNa(c.format, c.value), c.text) << c.format << " " << c.value;
}

TEST(Format, ShortestFloatReadsBack)
{
    EXPECT_EQ(shortestFloat(0.1), "0.1");
    EXPECT_EQ(shortestFloat(12.0), "12");
    const double mass = 511003.4 / 931501630.0;
    EXPECT_EQ(std::stod(shortestFloat(mass)), mass);
    // the text of the fewest %g digits that strtod reads back, found by trying every precision: random
    // doubles of every size, powers of two (whose shortest decimal may lie on the wider side), the
    // smallest and largest, zeros, the values the lists and files hold
    std::mt19937_64 draw(7);
    std::vector<double> values{0.0,  -0.0, 5e-324,  2.2250738585072014e-308, 1.7976931348623157e308,
                               1e22, 0.3,  -2.5e-3, 9007199254740993.0,      123456789012345678.0};
    for (int e = -1074; e <= 1023; e += 7)
        values.push_back(std::ldexp(1.0, e));
    for (int i = 0; i < 8000; ++i) {
        const std::uint64_t bits = draw();
        double v = 0;
        std::memcpy(&v, &bits, sizeof v);
        if (std::isfinite(v))
            values.push_back(v);
    }
    for (const double v : values) {
        std::string expected = fmt("%.17g", v);
        for (int precision = 1; precision <= 17; ++precision) {
            const std::string text = fmt("%.*g", precision, v);
            if (std::strtod(text.c_str(), nullptr) == v) {
                expected = text;
                break;
            }
        }
        ASSERT_EQ(shortestFloat(v), expected) << fmt("%.17g", v);
    }
}

TEST(NumberInput, AcceptsPaddedNumbers)
{
    EXPECT_DOUBLE_EQ(parseDouble("   1.500"), 1.5);
    EXPECT_DOUBLE_EQ(parseDouble("-2.5e-3 "), -2.5e-3);
    EXPECT_EQ(parseInt("  200"), 200);
    EXPECT_EQ(parseInt("-7"), -7);
}

TEST(NumberInput, NumbersBelowTheNormalRangeAreNumbersAndLongTextIsCut)
{
    EXPECT_EQ(parseDouble("1e-320"), 1e-320);
    EXPECT_EQ(parseDouble("1e-400"), 0.0);
    try {
        parseDouble(std::string(100000, '7') + "x");
        ADD_FAILURE() << "accepted";
    } catch (const ConversionError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "'" + std::string(40, '7') + "...' is not a valid floating point value");
    }
}

TEST(NumberInput, RejectsTextWithTheToolkitMessage)
{
    for (const char* bad : {"", "abc", "1.5x", "1,5", "nan", "inf", "0x10", "1e999", " . "}) {
        try {
            parseDouble(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const ConversionError& e) {
            EXPECT_EQ(std::string(e.what()),
                      std::string("'") + bad + "' is not a valid floating point value");
        }
    }
    for (const char* bad : {"", "2.5", "x", "99999999999", "1e3"}) {
        try {
            parseInt(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const ConversionError& e) {
            EXPECT_EQ(std::string(e.what()), std::string("'") + bad + "' is not a valid integer value");
        }
    }
}

TEST(Format, PrintableTextEscapesBytesThatAreNoText)
{
    EXPECT_EQ(printableText("plain 1.5e-3 text"), "plain 1.5e-3 text");
    EXPECT_EQ(printableText("\x89PNG\r\n\x1a\n"), "\\x89PNG\\x0D\\x0A\\x1A\\x0A");
    EXPECT_EQ(printableText(std::string("a\0b", 3)), "a\\x00b");
    // well-formed UTF-8 stays as it is; a cut or overlong sequence does not
    EXPECT_EQ(printableText("\xC2\xB5m"), "\xC2\xB5m");
    EXPECT_EQ(printableText("\xE2\x82"), "\\xE2\\x82");
    EXPECT_EQ(printableText("\xC0\xAF"), "\\xC0\\xAF");
}

} // namespace kestrune
