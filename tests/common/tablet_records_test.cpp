// Reading the records of the two tablets.
#include "common/core/tablet_records.h"

#include <gtest/gtest.h>

namespace {

QByteArray Mt(const char* x9, const char* y9, char button) {
    return QByteArray(x9) + QByteArray(y9) + button + '\r';
}

TEST(Mt4500Record, PointKeepsTheFieldsAsReceivedAndTheirValues) {
    const Result<TabletPoint> r = ParseMt4500Record(Mt("   1.2345", "   2.5000", '2'));
    ASSERT_TRUE(r) << r.error().toStdString();
    EXPECT_TRUE(r.error().isEmpty());
    EXPECT_EQ(r->xText, "   1.2345");
    EXPECT_EQ(r->yText, "   2.5000");
    EXPECT_DOUBLE_EQ(r->xM, 1.2345);
    EXPECT_DOUBLE_EQ(r->yM, 2.5);
    EXPECT_EQ(r->code, 1);
    EXPECT_EQ(r->buttonText, "2");
    // The log line is built from the fields exactly as they came.
    const QString log =
        "( " + r->xText + " , " + r->yText + " )  Flg = " + QString::number(r->code) + "\r\n";
    EXPECT_EQ(log, "(    1.2345 ,    2.5000 )  Flg = 1\r\n");
}

TEST(Mt4500Record, ZeroPaddedFieldsAndButtonCodes) {
    const Result<TabletPoint> r = ParseMt4500Record(Mt("0001.5000", "0002.0000", '1'));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->code, 2);
    EXPECT_FLOAT_EQ(static_cast<float>(r->xM * 1000), 1500.0f);
    EXPECT_FLOAT_EQ(static_cast<float>(r->yM * 1000), 2000.0f);

    EXPECT_EQ(ParseMt4500Record(Mt("0001.5000", "0002.0000", '2')).value().code, 1);
    for (char b : {'0', '3', '4', '8', '9'})
        EXPECT_EQ(ParseMt4500Record(Mt("0001.5000", "0002.0000", b)).value().code, 4) << b;
}

TEST(Mt4500Record, NineteenCharactersWithoutTerminatorAreEnough) {
    const Result<TabletPoint> r = ParseMt4500Record(QByteArray("  -0.5000   3.0000") + '1');
    ASSERT_TRUE(r);
    EXPECT_DOUBLE_EQ(r->xM, -0.5);
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
        const Result<TabletPoint> r = ParseMt4500Record(c.record);
        EXPECT_FALSE(r) << c.why;
        EXPECT_TRUE(r.error().startsWith("受信データが正しくありません（")) << c.why;
    }
    EXPECT_TRUE(ParseMt4500Record(QByteArray("   1.2345   2.5") + "\r").error().contains("16"));
}

TEST(Mt4500Record, EndRecordIsCheckedAsAnyOther) {
    const Result<TabletPoint> r = ParseMt4500Record(Mt("   0.0000", "   0.0000", '3'));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->code, 4);
    // Line noise with an end digit in column 19 does not end the outline.
    for (const QByteArray& noise : {Mt("*********", "         ", '3'), QByteArray(18, '\0') + "3\r",
                                    QByteArray(9, '\x1a') + QByteArray(9, '\x1b') + "9\r"}) {
        const Result<TabletPoint> bad = ParseMt4500Record(noise);
        EXPECT_FALSE(bad);
        EXPECT_TRUE(bad.error().contains("座標が数値ではありません")) << bad.error().toStdString();
        EXPECT_LE(bad.error().size(), 80);
    }
    // A thousand kilometres and more is no drawing.
    EXPECT_TRUE(
        ParseMt4500Record(Mt("1000000.0", "   0.0000", '1')).error().contains("大きすぎます"));
    EXPECT_TRUE(ParseMt4500Record(Mt("999999.99", "  -0.0000", '1')));
}

TEST(T5160Record, CountsBecomeMetresAtTheDrawingScale) {
    const Result<TabletPoint> r = ParseT5160Record("12345,6789,2\r\n", "100");
    ASSERT_TRUE(r) << r.error().toStdString();
    EXPECT_EQ(r->xText, "123.4500");
    EXPECT_EQ(r->yText, "67.89000");
    EXPECT_DOUBLE_EQ(r->xM, 123.45);
    EXPECT_DOUBLE_EQ(r->yM, 67.89);
    EXPECT_EQ(r->code, 1);
    EXPECT_EQ(r->buttonText, "2");
    EXPECT_EQ(r->thirdField, "2\r\n");
}

TEST(T5160Record, DeviceProgramExampleAndButtonCodes) {
    const Result<TabletPoint> r = ParseT5160Record("1000,500,2\r\n", "200");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->xText, "20.00000");
    EXPECT_EQ(r->yText, "10.00000");
    // The device program logs the third field as received, line end included.
    EXPECT_EQ("(  " + r->xText + " ,  " + r->yText + " )  Flg = " + r->thirdField,
              "(  20.00000 ,  10.00000 )  Flg = 2\r\n");
    EXPECT_EQ(ParseT5160Record("1000,500,4\r\n", "200").value().code, 2);
    for (const char* rec : {"1000,500,8\r\n", "1000,500,1\r\n", "1000,500,0\r\n"})
        EXPECT_EQ(ParseT5160Record(rec, "200").value().code, 4) << rec;
}

TEST(T5160Record, NegativeAndRangeEdgeCounts) {
    const Result<TabletPoint> low = ParseT5160Record("-32768,32767,4\r\n", "1");
    ASSERT_TRUE(low);
    EXPECT_EQ(low->xText, "-3.27680");
    EXPECT_EQ(low->yText, "3.276700");
    EXPECT_FALSE(ParseT5160Record("40000,500,2\r\n", "100"));
    EXPECT_FALSE(ParseT5160Record("500,-32769,2\r\n", "100"));
    EXPECT_TRUE(ParseT5160Record("40000,500,2\r\n", "100").error().contains("範囲外"));
}

TEST(T5160Record, MetresWithMoreThanEightCharactersBeforeThePointAreRefused) {
    // 32767 counts at 1:2147483647 are about 7 million kilometres: cut to
    // 8 characters they would read 100 times too small.
    const Result<TabletPoint> huge = ParseT5160Record("32767,0,2\r\n", "2147483647");
    EXPECT_FALSE(huge);
    EXPECT_TRUE(huge.error().startsWith("座標の桁が多すぎます")) << huge.error().toStdString();
    EXPECT_FALSE(ParseT5160Record("0,-32768,2\r\n", "400000000")); // "-1310720000"
    // Eight characters still fit; past the bound of a drawing they are refused.
    const Result<TabletPoint> eight = ParseT5160Record("-10000,1,2\r\n", "1000000");
    EXPECT_FALSE(eight);
    EXPECT_TRUE(eight.error().contains("大きすぎます")) << eight.error().toStdString();
    const Result<TabletPoint> fits = ParseT5160Record("-10000,1,2\r\n", "99999");
    ASSERT_TRUE(fits) << fits.error().toStdString();
    EXPECT_EQ(fits->xText, "-99999.0");
    // Decimals are cut, not refused.
    const Result<TabletPoint> cut = ParseT5160Record("12345,6,2\r\n", "1001"); // 1235.7345 m
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->xText, "1235.734");
}

TEST(T5160Record, MalformedRecordsAreRefusedWithAMessage) {
    for (const char* rec :
         {"12345,6789\r\n", "12345\r\n", "", "12a45,6789,2\r\n", ",6789,2\r\n", "12345,,2\r\n",
          "12345,6789,\r\n", "12345,6789,", "12345,6789,x\r\n", "12345,6789,\r2\n"}) {
        const Result<TabletPoint> r = ParseT5160Record(rec, "100");
        EXPECT_FALSE(r) << rec;
        EXPECT_TRUE(r.error().startsWith("受信データが正しくありません（")) << rec;
        EXPECT_FALSE(r.error().contains('\r')) << "control characters are not shown raw";
    }
}

TEST(T5160Scale, EmptyNonNumericOrNonPositiveScaleRefusesTheRecord) {
    const Result<TabletPoint> empty = ParseT5160Record("12345,6789,2\r\n", "");
    EXPECT_FALSE(empty);
    EXPECT_EQ(empty.error(), "縮尺が設定されていません。縮尺を入力して下さい");
    EXPECT_FALSE(ParseT5160Record("12345,6789,2\r\n", "   "));
    for (const QString& scale : {QString("abc"), QString("100x"), QString("0"), QString("-50"),
                                 QString("0.4"), QString(32767, '9')}) {
        const Result<TabletPoint> r = ParseT5160Record("12345,6789,2\r\n", scale);
        EXPECT_FALSE(r) << scale.toStdString();
        EXPECT_TRUE(r.error().startsWith("縮尺が正しくありません")) << scale.toStdString();
        EXPECT_LT(r.error().size(), 80) << "a long scale text is quoted briefly";
    }
}

TEST(T5160Scale, ScaleIsTakenAsAWholeNumber) {
    const auto denominator = [](const char* text) {
        const Result<long> d = ParseScaleDenominator(QString::fromLatin1(text));
        return d ? *d : -1L;
    };
    EXPECT_EQ(denominator(" 100 "), 100);
    EXPECT_EQ(denominator("100.5"), 100); // halves to even
    EXPECT_EQ(denominator("101.5"), 102);
    EXPECT_EQ(ParseT5160Record("10000,0,2\r\n", "49.6").value().xText, "50.00000");
}

TEST(PrintableRecordText, ControlCharactersAreMaskedAndLongRecordsCut) {
    EXPECT_EQ(PrintableRecord("1,2,2\r\n"), "1,2,2??");
    EXPECT_LE(PrintableRecord(QByteArray(500, 'x')).size(), 41);
}

} // namespace
