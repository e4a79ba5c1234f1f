// Reading the records of the two tablets.
#include "common/core/tablet_records.h"

#include <gtest/gtest.h>

namespace {

QByteArray Mt(const char* x9, const char* y9, char button) {
    return QByteArray(x9) + QByteArray(y9) + button + '\r';
}

TEST(Mt4500Record, PointKeepsTheFieldsAsReceivedAndTheirValues) {
    const ParseResult r = ParseMt4500Record(Mt("   1.2345", "   2.5000", '2'));
    ASSERT_TRUE(r.point) << r.error.toStdString();
    EXPECT_TRUE(r.error.isEmpty());
    EXPECT_EQ(r.point->xText, "   1.2345");
    EXPECT_EQ(r.point->yText, "   2.5000");
    EXPECT_DOUBLE_EQ(r.point->xM, 1.2345);
    EXPECT_DOUBLE_EQ(r.point->yM, 2.5);
    EXPECT_EQ(r.point->code, 1);
    EXPECT_EQ(r.point->buttonText, "2");
    // The log line is built from the fields exactly as they came.
    const QString log = "( " + r.point->xText + " , " + r.point->yText +
                        " )  Flg = " + QString::number(r.point->code) + "\r\n";
    EXPECT_EQ(log, "(    1.2345 ,    2.5000 )  Flg = 1\r\n");
}

TEST(Mt4500Record, ZeroPaddedFieldsAndButtonCodes) {
    const ParseResult r = ParseMt4500Record(Mt("0001.5000", "0002.0000", '1'));
    ASSERT_TRUE(r.point);
    EXPECT_EQ(r.point->code, 2);
    EXPECT_FLOAT_EQ(static_cast<float>(r.point->xM * 1000), 1500.0f);
    EXPECT_FLOAT_EQ(static_cast<float>(r.point->yM * 1000), 2000.0f);

    EXPECT_EQ(ParseMt4500Record(Mt("0001.5000", "0002.0000", '2')).point->code, 1);
    for (char b : {'0', '3', '4', '8', '9'})
        EXPECT_EQ(ParseMt4500Record(Mt("0001.5000", "0002.0000", b)).point->code, 4) << b;
}

TEST(Mt4500Record, NineteenCharactersWithoutTerminatorAreEnough) {
    const ParseResult r = ParseMt4500Record(QByteArray("  -0.5000   3.0000") + '1');
    ASSERT_TRUE(r.point);
    EXPECT_DOUBLE_EQ(r.point->xM, -0.5);
}

TEST(Mt4500Record, MalformedRecordsAreRefusedWithAMessage) {
    struct Case {
        QByteArray record;
        const char* why;
    };
    const Case cases[] = {
        {QByteArray("   1.2345   2.5") + "\r", "short (cut at its CR)"},
        {QByteArray(), "empty"},
        {Mt("   1.2345", "   2.5000", 'A'), "button not a digit"},
        {Mt("   1.2345", "   2.5000", ' '), "blank button"},
        {Mt("   1.2?45", "   2.5000", '1'), "X not a number"},
        {Mt("   1.2345", "         ", '2'), "Y blank"},
        {Mt("   1.2345", "  2.50 00", '2'), "blank inside Y"},
        {Mt("3600mm   ", "   2.5000", '2'), "X with a unit"},
    };
    for (const Case& c : cases) {
        const ParseResult r = ParseMt4500Record(c.record);
        EXPECT_FALSE(r.point) << c.why;
        EXPECT_TRUE(r.error.startsWith("受信データが正しくありません（")) << c.why;
    }
    EXPECT_TRUE(ParseMt4500Record(QByteArray("   1.2345   2.5") + "\r").error.contains("16"));
}

TEST(Mt4500Record, EndRecordIsCheckedAsAnyOther) {
    const ParseResult r = ParseMt4500Record(Mt("   0.0000", "   0.0000", '3'));
    ASSERT_TRUE(r.point);
    EXPECT_EQ(r.point->code, 4);
    // Line noise with an end digit in column 19 does not end the outline.
    for (const QByteArray& noise : {Mt("*********", "         ", '3'), QByteArray(18, '\0') + "3\r",
                                    QByteArray(9, '\x1a') + QByteArray(9, '\x1b') + "9\r"}) {
        const ParseResult bad = ParseMt4500Record(noise);
        EXPECT_FALSE(bad.point);
        EXPECT_TRUE(bad.error.contains("座標が数値ではありません")) << bad.error.toStdString();
        EXPECT_LE(bad.error.size(), 80);
    }
    // A thousand kilometres and more is no drawing.
    EXPECT_TRUE(
        ParseMt4500Record(Mt("1000000.0", "   0.0000", '1')).error.contains("大きすぎます"));
    EXPECT_TRUE(ParseMt4500Record(Mt("999999.99", "  -0.0000", '1')).point);
}

TEST(T5160Record, CountsBecomeMetresAtTheDrawingScale) {
    const ParseResult r = ParseT5160Record("12345,6789,2\r\n", "100");
    ASSERT_TRUE(r.point) << r.error.toStdString();
    EXPECT_EQ(r.point->xText, "123.4500");
    EXPECT_EQ(r.point->yText, "67.89000");
    EXPECT_DOUBLE_EQ(r.point->xM, 123.45);
    EXPECT_DOUBLE_EQ(r.point->yM, 67.89);
    EXPECT_EQ(r.point->code, 1);
    EXPECT_EQ(r.point->buttonText, "2");
    EXPECT_EQ(r.point->thirdField, "2\r\n");
}

TEST(T5160Record, DeviceProgramExampleAndButtonCodes) {
    const ParseResult r = ParseT5160Record("1000,500,2\r\n", "200");
    ASSERT_TRUE(r.point);
    EXPECT_EQ(r.point->xText, "20.00000");
    EXPECT_EQ(r.point->yText, "10.00000");
    // The device program logs the third field as received, line end included.
    EXPECT_EQ("(  " + r.point->xText + " ,  " + r.point->yText + " )  Flg = " + r.point->thirdField,
              "(  20.00000 ,  10.00000 )  Flg = 2\r\n");
    EXPECT_EQ(ParseT5160Record("1000,500,4\r\n", "200").point->code, 2);
    for (const char* rec : {"1000,500,8\r\n", "1000,500,1\r\n", "1000,500,0\r\n"})
        EXPECT_EQ(ParseT5160Record(rec, "200").point->code, 4) << rec;
}

TEST(T5160Record, NegativeAndRangeEdgeCounts) {
    const ParseResult low = ParseT5160Record("-32768,32767,4\r\n", "1");
    ASSERT_TRUE(low.point);
    EXPECT_EQ(low.point->xText, "-3.27680");
    EXPECT_EQ(low.point->yText, "3.276700");
    EXPECT_FALSE(ParseT5160Record("40000,500,2\r\n", "100").point);
    EXPECT_FALSE(ParseT5160Record("500,-32769,2\r\n", "100").point);
    EXPECT_TRUE(ParseT5160Record("40000,500,2\r\n", "100").error.contains("範囲外"));
}

TEST(T5160Record, MetresWithMoreThanEightCharactersBeforeThePointAreRefused) {
    // 32767 counts at 1:2147483647 are about 7 million kilometres: cut to
    // 8 characters they would read 100 times too small.
    const ParseResult huge = ParseT5160Record("32767,0,2\r\n", "2147483647");
    EXPECT_FALSE(huge.point);
    EXPECT_TRUE(huge.error.startsWith("座標の桁が多すぎます")) << huge.error.toStdString();
    EXPECT_FALSE(ParseT5160Record("0,-32768,2\r\n", "400000000").point); // "-1310720000"
    // Eight characters still fit; past the bound of a drawing they are refused.
    const ParseResult eight = ParseT5160Record("-10000,1,2\r\n", "1000000");
    EXPECT_FALSE(eight.point);
    EXPECT_TRUE(eight.error.contains("大きすぎます")) << eight.error.toStdString();
    const ParseResult fits = ParseT5160Record("-10000,1,2\r\n", "99999");
    ASSERT_TRUE(fits.point) << fits.error.toStdString();
    EXPECT_EQ(fits.point->xText, "-99999.0");
    // Decimals are cut, not refused.
    const ParseResult cut = ParseT5160Record("12345,6,2\r\n", "1001"); // 1235.7345 m
    ASSERT_TRUE(cut.point);
    EXPECT_EQ(cut.point->xText, "1235.734");
}

TEST(T5160Record, MalformedRecordsAreRefusedWithAMessage) {
    for (const char* rec :
         {"12345,6789\r\n", "12345\r\n", "", "12a45,6789,2\r\n", ",6789,2\r\n", "12345,,2\r\n",
          "12345,6789,\r\n", "12345,6789,", "12345,6789,x\r\n", "12345,6789,\r2\n"}) {
        const ParseResult r = ParseT5160Record(rec, "100");
        EXPECT_FALSE(r.point) << rec;
        EXPECT_TRUE(r.error.startsWith("受信データが正しくありません（")) << rec;
        EXPECT_FALSE(r.error.contains('\r')) << "control characters are not shown raw";
    }
}

TEST(T5160Scale, EmptyNonNumericOrNonPositiveScaleRefusesTheRecord) {
    const ParseResult empty = ParseT5160Record("12345,6789,2\r\n", "");
    EXPECT_FALSE(empty.point);
    EXPECT_EQ(empty.error, "縮尺が設定されていません。縮尺を入力して下さい");
    EXPECT_FALSE(ParseT5160Record("12345,6789,2\r\n", "   ").point);
    for (const QString& scale : {QString("abc"), QString("100x"), QString("0"), QString("-50"),
                                 QString("0.4"), QString(32767, '9')}) {
        const ParseResult r = ParseT5160Record("12345,6789,2\r\n", scale);
        EXPECT_FALSE(r.point) << scale.toStdString();
        EXPECT_TRUE(r.error.startsWith("縮尺が正しくありません")) << scale.toStdString();
        EXPECT_LT(r.error.size(), 80) << "a long scale text is quoted briefly";
    }
}

TEST(T5160Scale, ScaleIsTakenAsAWholeNumber) {
    EXPECT_EQ(ParseScaleDenominator(" 100 "), 100);
    EXPECT_EQ(ParseScaleDenominator("100.5"), 100); // halves to even
    EXPECT_EQ(ParseScaleDenominator("101.5"), 102);
    EXPECT_EQ(ParseT5160Record("10000,0,2\r\n", "49.6").point->xText, "50.00000");
}

TEST(PrintableRecordText, ControlCharactersAreMaskedAndLongRecordsCut) {
    EXPECT_EQ(PrintableRecord("1,2,2\r\n"), "1,2,2??");
    EXPECT_LE(PrintableRecord(QByteArray(500, 'x')).size(), 41);
}

} // namespace
