// Numbers and their texts: the values and texts the stored files, logs and
// worksheet compare byte for byte.
#include "common/core/numtext.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <cmath>

namespace {

QString q(const char* s) {
    return QString::fromUtf8(s);
}

TEST(Val, LeadingNumberAfterBlanks) {
    EXPECT_EQ(Val(q("3600mm")), 3600.0);
    EXPECT_EQ(Val(q("")), 0.0);
    EXPECT_EQ(Val(q("  -0.75")), -0.75);
    EXPECT_EQ(Val(q("1.5E3x")), 1500.0);
    EXPECT_EQ(Val(q("   1.2345")), 1.2345); // an MT4500 field, right-aligned in 9 columns
    EXPECT_EQ(Val(q(" 2.5000  ")), 2.5);
    EXPECT_EQ(Val(q("\t\r\n7")), 7.0);
    EXPECT_EQ(Val(q("+3")), 3.0);
    EXPECT_EQ(Val(q(".5")), 0.5);
    EXPECT_EQ(Val(q("-.5")), -0.5);
    EXPECT_EQ(Val(q("5.")), 5.0);
    EXPECT_EQ(Val(q("1.2.3")), 1.2);
    EXPECT_EQ(Val(q("12.50000")), 12.5);
    EXPECT_EQ(Val(q("-3.250000")), -3.25);
}

TEST(Val, ExponentOnlyWithDigits) {
    EXPECT_EQ(Val(q("1D2")), 100.0);
    EXPECT_EQ(Val(q("2.5e-1")), 0.25);
    EXPECT_EQ(Val(q("1E")), 1.0);
    EXPECT_EQ(Val(q("2E+x")), 2.0);
    EXPECT_EQ(Val(q("1E-05")), 1e-05);
    // A cut coordinate text in exponent form reads as the number it shows.
    EXPECT_EQ(Val(q("1E-05.00")), 1e-05);
}

TEST(Val, NoNumberGivesZero) {
    for (const char* t : {"abc", "-", "+", ".", "-.", " x1", "- 3", "E5", "ｍ"})
        EXPECT_EQ(Val(q(t)), 0.0) << t;
    // Beyond the range of a double: 0 rather than an infinity.
    EXPECT_EQ(Val(q("1E999")), 0.0);
    EXPECT_EQ(Val(q("-1E999")), 0.0);
    EXPECT_EQ(Val(q("1E-999")), 0.0);
    EXPECT_EQ(Val(q("12345678901234567890")), 12345678901234567890.0);
}

TEST(IsNumericText, WholeTextIsOneNumber) {
    for (const char* t : {"12", " -0.5 ", "1E3", ".5", "100\r", "+7"})
        EXPECT_TRUE(IsNumericText(q(t))) << t;
    for (const char* t : {"", "  ", "12mm", "1 2", "1E", "-", "1.2.3", "x"})
        EXPECT_FALSE(IsNumericText(q(t))) << t;
}

TEST(Rounding, IntAndHalfEven) {
    EXPECT_EQ(VbInt(2.7), 2.0);
    EXPECT_EQ(VbInt(-2.3), -3.0);
    EXPECT_EQ(VbInt(14.0), 14.0);
    // Lengths are rounded as Int(v * 100 + 0.5) / 100.
    EXPECT_EQ(VbInt(13.999 * 100 + 0.5) / 100, 14.0);

    EXPECT_EQ(RoundHalfEven(2.5), 2.0);
    EXPECT_EQ(RoundHalfEven(3.5), 4.0);
    EXPECT_EQ(RoundHalfEven(0.5), 0.0);
    EXPECT_EQ(RoundHalfEven(1.5), 2.0);
    EXPECT_EQ(RoundHalfEven(-2.5), -2.0);
    EXPECT_EQ(RoundHalfEven(-0.6), -1.0);
    EXPECT_EQ(RoundHalfEven(2.4999), 2.0);
    EXPECT_EQ(RoundHalfEven(10.0 / 4.0), 2.0); // the scroll bar's 10 / 4
}

TEST(Format, HalfAwayFromZeroOnTheDecimalValue) {
    EXPECT_EQ(Format(0.125, q("0.00")), q("0.13"));
    EXPECT_EQ(Format(2.675, q("0.00")), q("2.68"));
    EXPECT_EQ(Format(1.005, q("0.00")), q("1.01"));
    EXPECT_EQ(Format(9.995, q("0.00")), q("10.00"));
    EXPECT_EQ(Format(33.6, q("0.00")), q("33.60"));
    EXPECT_EQ(Format(14, q("0.00")), q("14.00"));
    EXPECT_EQ(Format(0.05, q("0.0")), q("0.1"));
    EXPECT_EQ(Format(2.5, q("0")), q("3"));
    EXPECT_EQ(Format(-2.5, q("0")), q("-3"));
    EXPECT_EQ(Format(0.006, q("0.00")), q("0.01"));
    EXPECT_EQ(Format(0, q("0.00000")), q("0.00000"));
    EXPECT_EQ(Format(1234567.891, q("0.00")), q("1234567.89"));
    EXPECT_EQ(Format(1e20, q("0.0")), q("100000000000000000000.0"));
    EXPECT_EQ(Format(0.1 + 0.2, q("0.00000")), q("0.30000"));
}

TEST(Format, NegativeValuesRoundingToZeroHaveNoSign) {
    EXPECT_EQ(Format(-0.004, q("0.00")), q("0.00"));
    EXPECT_EQ(Format(-0.0, q("0.00")), q("0.00"));
    EXPECT_EQ(Format(-0.00004, q("0.0")), q("0.0"));
    EXPECT_EQ(Format(-0.005, q("0.00")), q("-0.01"));
    EXPECT_EQ(Format(-3.25, q("0.00")), q("-3.25"));
}

TEST(Format, CalibrationCoefficients) {
    // 3600 mm over a drag of 240 units: 0.015 per unit, 0.0225 per pixel at zoom 1.5.
    const double perUnit = 3600 * 0.001 / 240;
    EXPECT_EQ(Format(perUnit, q("0.00000")), q("0.01500"));
    const float zoom = 1.5f;
    EXPECT_EQ(Format(Val(Format(perUnit, q("0.00000"))) * zoom, q("0.00000")), q("0.02250"));
    // Drawing coordinates of the calibration example: (300 - 100) * 0.0225 = 4.5.
    const float metresPerUnit = float(Val(q("0.02250")) / 1.0f);
    EXPECT_EQ(Format((300 - 100) * metresPerUnit + 0.0, q("0.00")), q("4.50"));
    EXPECT_EQ(Format((200 - 100) * metresPerUnit + 0.0, q("0.00")), q("2.25"));
}

TEST(Format, SingleUsesItsSevenDigitForm) {
    EXPECT_EQ(FormatSingle(0.35f, q("0.0")), q("0.4"));
    EXPECT_EQ(Format(double(0.35f), q("0.0")), q("0.3"));
    EXPECT_EQ(FormatSingle(33.6f, q("0.00")), q("33.60"));
    float zoom = 1.0f;
    for (int i = 0; i < 10; ++i)
        zoom += 0.1f;
    EXPECT_EQ(FormatSingle(zoom, q("0.0")), q("2.0"));
    EXPECT_EQ(Format(zoom, q("0.0")), q("2.0"));
}

TEST(NumberText, SingleSevenDigits) {
    EXPECT_EQ(SingleToText(33.6f), q("33.6"));
    EXPECT_EQ(SingleToText(0.1f + 0.2f), q("0.3"));
    EXPECT_EQ(SingleToText(1.0f / 3.0f), q("0.3333333"));
    EXPECT_EQ(SingleToText(123456.7f), q("123456.7"));
    EXPECT_EQ(SingleToText(9999999.0f), q("9999999"));
    EXPECT_EQ(SingleToText(1e7f), q("1E+07"));
    EXPECT_EQ(SingleToText(12345678.0f), q("1.234568E+07"));
    EXPECT_EQ(SingleToText(0.0001f), q("0.0001"));
    EXPECT_EQ(SingleToText(0.00001f), q("1E-05"));
    EXPECT_EQ(SingleToText(1.5e-7f), q("1.5E-07"));
    EXPECT_EQ(SingleToText(-0.5f), q("-0.5"));
    EXPECT_EQ(SingleToText(0.0f), q("0"));
    EXPECT_EQ(SingleToText(-0.0f), q("0"));
    EXPECT_EQ(SingleToText(99999.99f), q("99999.99"));
    EXPECT_EQ(SingleToText(1e8f), q("1E+08"));
    EXPECT_EQ(SingleToText(-1e8f), q("-1E+08"));
    EXPECT_EQ(SingleToText(1500.0f), q("1500"));
}

TEST(NumberText, SingleDriftOfZoomSteps) {
    float zoom = 1.0f;
    for (int i = 0; i < 10; ++i)
        zoom = float(double(zoom) + 0.1);
    EXPECT_EQ(SingleToRoundTripText(zoom), q("2.0000002"));
    EXPECT_EQ(SingleToText(zoom), q("2"));
    // Steps of -0.1 from 1 pass 0.3 just below it.
    float down = 1.0f;
    for (int i = 0; i < 7; ++i)
        down = float(double(down) - 0.1);
    EXPECT_EQ(SingleToRoundTripText(down), q("0.29999992"));
    EXPECT_EQ(SingleToRoundTripText(0.3f), q("0.3"));
    EXPECT_EQ(SingleToRoundTripText(33.6f), q("33.6"));
    EXPECT_EQ(SingleToRoundTripText(1.0f), q("1"));
    EXPECT_EQ(SingleToRoundTripText(12345678.0f), q("1.2345678E+07"));
    EXPECT_EQ(SingleToRoundTripText(0.00001f), q("1E-05"));
    EXPECT_EQ(SingleToRoundTripText(-1.5f), q("-1.5"));
    EXPECT_EQ(float(Val(SingleToRoundTripText(zoom))), zoom);
}

TEST(NumberText, DoubleFifteenDigits) {
    EXPECT_EQ(DoubleToText(3.6), q("3.6"));
    EXPECT_EQ(DoubleToText(0.005), q("0.005"));
    EXPECT_EQ(DoubleToText(0.1 + 0.2), q("0.3"));
    EXPECT_EQ(DoubleToText(0.0225), q("0.0225"));
    EXPECT_EQ(DoubleToText(100), q("100"));
    EXPECT_EQ(DoubleToText(0.0001), q("0.0001"));
    EXPECT_EQ(DoubleToText(0.00001), q("1E-05"));
    EXPECT_EQ(DoubleToText(-0.00001), q("-1E-05"));
    EXPECT_EQ(DoubleToText(0.000015), q("1.5E-05"));
    EXPECT_EQ(DoubleToText(1.5e-7), q("1.5E-07"));
    EXPECT_EQ(DoubleToText(999999999999999.0), q("999999999999999"));
    EXPECT_EQ(DoubleToText(1e15), q("1E+15"));
    EXPECT_EQ(DoubleToText(123456789012345678.0), q("1.23456789012346E+17"));
    EXPECT_EQ(DoubleToText(1e100), q("1E+100"));
    EXPECT_EQ(DoubleToText(1.0 / 3.0), q("0.333333333333333"));
    EXPECT_EQ(DoubleToText(2.0 / 3.0), q("0.666666666666667"));
    // 0.00009999999999999999 rounds to 15 digits as 0.0001: no exponent form.
    EXPECT_EQ(DoubleToText(0.00009999999999999999), q("0.0001"));
    EXPECT_EQ(DoubleToText(-0.0), q("0"));
    // A Single widened to a double shows its binary value.
    EXPECT_EQ(DoubleToText(double(33.6f)), q("33.5999984741211"));
}

TEST(CoordText, FixedWidthTexts) {
    EXPECT_EQ(CoordText(1.5), q("1.500000"));
    EXPECT_EQ(CoordText(12), q("12.00000"));
    EXPECT_EQ(CoordText(0.0375), q("0.037500"));
    EXPECT_EQ(CoordText(-0.75), q("-0.75000"));
    EXPECT_EQ(CoordText(123.45678), q("123.4567")); // cut, not rounded
    EXPECT_EQ(CoordText(0), q("0.000000"));
    // T5160 counts at scale 1:100.
    EXPECT_EQ(CoordText(12345 / 10000.0 * 100), q("123.4500"));
    EXPECT_EQ(CoordText(6789 / 10000.0 * 100), q("67.89000"));
    EXPECT_EQ(CoordText(1 / 10000.0 * 1), q("0.000100"));
}

TEST(CoordText, TinyValuesAreNeverCutExponentTexts) {
    // In exponent form the cut "1.5E-070" would read as 1.5E-70.
    EXPECT_EQ(CoordText(1.5e-7), q("0.000000"));
    EXPECT_EQ(CoordText(-1.5e-7), q("-0.00000"));
    EXPECT_EQ(CoordText(0.00001), q("0.000010"));
    for (double v : {1.5e-7, 0.00001, 0.00005, -0.00002})
        EXPECT_LT(std::fabs(Val(CoordText(v)) - v), 1e-5) << v;
}

TEST(PointFieldText, SignColumnAndEightCharacters) {
    EXPECT_EQ(PointFieldText(q("12.50")), q(" 12.50000"));
    EXPECT_EQ(PointFieldText(q("-3.25")), q("-3.250000"));
    EXPECT_EQ(PointFieldText(q("0.00")), q(" 0.000000"));
    EXPECT_EQ(PointFieldText(q("123.45")), q(" 123.4500"));
    EXPECT_EQ(PointFieldText(Format(4.5, q("0.00"))).size(), 9);
    // Whether the digits before the "." survive the cut.
    QStringList fits;
    for (const char* t : {"12345678.00", "123456789.00", "-12345678.00", "-123456789.00",
                          "99999999", "100000000", "0.00"}) {
        bool f = false;
        const QString field = PointFieldText(q(t), &f);
        fits << field + (f ? q(" fits") : q(" cut"));
    }
    EXPECT_EQ(fits, QStringList({q(" 12345678 fits"), q(" 12345678 cut"), q("-12345678 fits"),
                                 q("-12345678 cut"), q(" 99999999 fits"), q(" 10000000 cut"),
                                 q(" 0.000000 fits")}));
}

} // namespace
