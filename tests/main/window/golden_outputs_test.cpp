// Golden outputs of VarpadLumo: one session takes one outline by each input
// road (MT4500 and T5160 through real pseudo-terminals, the keypad file, the
// on-screen digitizer on a generated drawing it calibrates), writes a row for
// each with "実行", saves the sheet, and every file and image it wrote is
// compared byte for byte with tests/data/golden/varpad/.
//
// POINTRA_UPDATE_GOLDEN=1 in the environment rewrites the golden files from
// this run instead of comparing (see tests/support/golden_files.h); review
// them with git diff before committing. Sketches print their texts in the
// installed Japanese font, so another font (or Qt's text rendering) needs the
// goldens rewritten too.
//
// What varies between two runs is taken out before the comparison: the
// temporary installation folder's path becomes "$INST" in texts; a workbook
// is compared as its members' uncompressed contents in the package's order,
// with the creation and modification dates of docProps/core.xml masked: those
// dates are the time of the save, so the package's bytes differ from one run
// to the next (and its compressed bytes would with another zlib as well).
#include "main/window/form1.h"

#include "common/core/exchange_files.h"
#include "common/ui/picturebox.h"
#include "golden_files.h"
#include "main/takeoff/recovery.h"
#include "tests/main/digitizer/drawing_fixture.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>

#include <zip.h>

#include <map>
#include <utility>

namespace {

// The members of an .xlsx in the package's order, each under a line naming it
// and its size, the dates of its core properties masked.
QByteArray WorkbookMembers(const QString& path) {
    int code = 0;
    zip_t* z = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &code);
    if (!z)
        return "cannot open " + path.toUtf8();
    QByteArray out;
    const zip_int64_t n = zip_get_num_entries(z, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        zip_file_t* f = nullptr;
        QByteArray data;
        if (zip_stat_index(z, zip_uint64_t(i), 0, &st) == 0 &&
            (f = zip_fopen_index(z, zip_uint64_t(i), 0)) != nullptr) {
            data.resize(qsizetype(st.size));
            if (zip_fread(f, data.data(), st.size) != zip_int64_t(st.size))
                data = "(unreadable)";
            zip_fclose(f);
        }
        static const QRegularExpression date(
            QStringLiteral("(<dcterms:(?:created|modified)[^>]*>)[^<]*<"));
        const QString text = QString::fromUtf8(data).replace(date, QStringLiteral("\\1(date)<"));
        out += "=== " + QByteArray(st.name) + " (" + QByteArray::number(data.size()) + " bytes)\n" +
               text.toUtf8() + "\n";
    }
    zip_discard(z);
    return out;
}

class GoldenOutputs : public Form3DrawingTest {
protected:
    QString writeRaw(const QString& name, const QByteArray& records) {
        QFile f(dir_.path() + "/" + name);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(records);
        return f.fileName();
    }
    QByteArray masked(QByteArray bytes) const {
        return bytes.replace(dir_.path().toUtf8(), "$INST");
    }
    QByteArray file(const QString& name) const { return masked(Contents(instPath() + name)); }
};

// A keypad line of 座標.txt: a blank, X and Y right-aligned in nine columns, the code.
QByteArray KeyLine(const char* x, const char* y, char code) {
    return " " + QByteArray(x).rightJustified(9) + QByteArray(y).rightJustified(9) + code + "\r\n";
}

TEST_F(GoldenOutputs, OneOutlineByEachRoadWritesWhatItWrote) {
    // MT4500 in metres, button 2 a reference segment, 1 perimeter only, 9 the
    // end: an L-shaped room.
    TabletSim mt("mt4500", {"--raw",
                            writeRaw("mt4500.txt", "   1.2345   2.5000"
                                                   "2\\r\n"
                                                   "   5.6785   2.5000"
                                                   "2\\r\n"
                                                   "   5.6785   4.3125"
                                                   "1\\r\n"
                                                   "   3.4500   4.3125"
                                                   "2\\r\n"
                                                   "   3.4500   6.0375"
                                                   "1\\r\n"
                                                   "   1.2345   6.0375"
                                                   "2\\r\n"
                                                   "   1.2345   2.5000"
                                                   "2\\r\n"
                                                   "   0.0000   0.0000"
                                                   "9\\r\n"),
                            "--wait-open", "--settle", "100", "--repeat"});
    // T5160 counts of 0.1 mm at 1:75, button 2 reference, 4 perimeter only, 8 the end.
    TabletSim t5("t5160", {"--raw",
                           writeRaw("t5160.txt", "1234,567,2\\r\\n\n"
                                                 "2345,567,4\\r\\n\n"
                                                 "2345,1789,2\\r\\n\n"
                                                 "1234,1789,4\\r\\n\n"
                                                 "1234,567,2\\r\\n\n"
                                                 "0,0,8\\r\\n\n"),
                           "--wait-open", "--settle", "100", "--repeat"});
    ASSERT_FALSE(mt.path().isEmpty());
    ASSERT_FALSE(t5.path().isEmpty());
    const QString key = QStringLiteral("[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra\\"
                                       "VarpadLumo\\%1]\r\n\"PortName\"=\"%2\"\r\n\r\n");
    writeRegistry(instPath(), key.arg("MSComm1", mt.path()) + key.arg("MSComm2", t5.path()));
    writeDrawing(drawing, QImage::Format_RGB32, false);

    std::map<QString, std::pair<QByteArray, GoldenKind>> out;
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    form.Text2->setText(QStringLiteral("洋室"));
    form.Text3->setText("7");
    form.Text4->setText("2450");
    // What a road left in the main window, then its row.
    auto takeRow = [&](const QString& road) {
        out[road + "/received.txt"] = {form.receivedText().toUtf8(), GoldenKind::Text};
        out[road + "/Picture1.ppm"] = {GoldenImageBytes(form.Picture1->Image()),
                                       GoldenKind::Binary};
        ASSERT_TRUE(form.Command2->isEnabled()) << road.toStdString();
        QTest::mouseClick(form.Command2, Qt::LeftButton);
    };

    QTest::mouseClick(form.Option1, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return form.session().outline().endReceived(); }));
    takeRow("mt4500");

    form.Text5->setText("75");
    QTest::mouseClick(form.Option2, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return form.session().outline().endReceived(); }));
    takeRow("t5160");

    QTest::mouseClick(form.Option4, Qt::LeftButton);
    {
        QFile coords(CoordFilePath(instPath()));
        ASSERT_TRUE(coords.open(QIODevice::WriteOnly | QIODevice::Truncate));
        coords.write(KeyLine("1234.5", "987.65", '1') + KeyLine("5678.25", "987.65", '1') +
                     KeyLine("5678.25", "4321.5", '2') + KeyLine("1234.5", "4321.5", '1') +
                     KeyLine("1234.5", "987.65", '2'));
    }
    form.ReadCoordFile();
    takeRow("keypad");

    QTest::mouseClick(form.Option3, Qt::LeftButton);
    {
        // The first opening of a run asks for the drawing, chosen from its menu.
        Form3 f3(form.session(), form.form2(), &form);
        f3.Form_Load();
        f3.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&f3));
        chosen = drawing;
        f3.A11->trigger();
        // Calibrated by a drag across the room, typed 4012.5 by 3012.6 mm.
        drag(f3, kRoom[0], kRoom[2]);
        answers = {QString("4012.5"), QString("3012.6")};
        f3.E12->trigger();
        ASSERT_EQ(f3.scaleIsSet, 1);
        f3.コメント->setText(QStringLiteral("洋室-10 北側"));
        // An L-shaped outline; the last click, near the first point, closes
        // it there. Its extent is square, so the figure fills the thumbnail
        // to its edges: a figure narrower one way leaves the thumbnail's
        // last row or column of it unpainted, holding whatever the memory
        // held, which no comparison can pin down.
        const std::pair<QPoint, Qt::MouseButton> points[] = {
            {{100, 100}, Qt::LeftButton},  {{400, 100}, Qt::LeftButton},
            {{400, 250}, Qt::RightButton}, {{250, 250}, Qt::LeftButton},
            {{250, 400}, Qt::RightButton}, {{100, 400}, Qt::LeftButton},
            {{103, 98}, Qt::LeftButton}};
        for (const auto& [p, button] : points)
            click(f3, p, button);
        click(f3, QPoint(650, 520), Qt::MiddleButton);
        ASSERT_FALSE(f3.isVisible());
        out["digitizer/drawing.ppm"] = {GoldenImageBytes(f3.Picture1->Image()), GoldenKind::Binary};
        out["curPass.txt"] = {file("curPass.txt"), GoldenKind::Text};
    }
    takeRow("digitizer");

    chosen = dir_.path() + QStringLiteral("/洋室の積算");
    ASSERT_TRUE(form.SaveSheet());
    out["saved.xlsx.txt"] = {WorkbookMembers(chosen + ".xlsx"), GoldenKind::Text};
    out["worksheet-recovery.xlsx.txt"] = {WorkbookMembers(RecoveryWorkbookPath(instPath())),
                                          GoldenKind::Text};
    out["座標.txt"] = {file("座標.txt"), GoldenKind::Text};
    out["curGazo.bmp"] = {file("curGazo.bmp"), GoldenKind::Binary};
    out["間取り.bmp.inf"] = {file("見積用画像/間取り.bmp.inf"), GoldenKind::Text};
    out["間取り.bmp.takeoff"] = {file("見積用画像/間取り.bmp.takeoff"), GoldenKind::Text};
    // The messages shown, each on a line, with the questions asked.
    out["messages.txt"] = {masked((messages + asked).join("\n").replace("\r\n", "\\r\\n").toUtf8()),
                           GoldenKind::Text};

    for (const auto& [name, content] : out)
        EXPECT_TRUE(MatchesGolden("varpad/" + name, content.first, content.second));
}

} // namespace
