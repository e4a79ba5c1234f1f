// Writes the demo installation's drawings: a floor plan of 12 m x 8 m at
// 1 pixel = 10 mm, with its rooms named and their dimensions printed in
// millimetres, and the calibration file that goes with it (origin at the
// plan's lower-left corner, 0.01 m per pixel on both axes); and, for the PDF
// road, a two-page drawing set in PostScript (a site plan, then the floor
// plan) from which the build makes a PDF with Ghostscript. A page is
// 540 x 396 pt, so at 200 dpi one pixel of its JPEG is again 10 mm.
//   make_floorplan OUTPUT.bmp
//   make_floorplan --ps OUTPUT.ps
#include "common/ui/picturebox.h"
#include "common/core/textcodec.h"
#include "common/ui/uifont.h"
#include "main/image/calibration.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>

#include <cstdio>

namespace {

constexpr int kLeft = 100, kTop = 100;      // the plan's upper-left corner, pixels
constexpr int kWidth = 1200, kHeight = 800; // 12 m x 8 m

struct Room {
    const char* name;
    QRect r; // pixels, from the plan's upper-left corner
};

const Room kRooms[] = {
    {"居間", {0, 0, 500, 350}},     {"台所", {500, 0, 400, 350}},   {"洋室１", {900, 0, 300, 350}},
    {"廊下", {0, 350, 1200, 100}},  {"洋室２", {0, 450, 500, 350}}, {"浴室", {500, 450, 250, 350}},
    {"寝室", {750, 450, 450, 350}},
};

QFont Font(int pixels, bool bold = false) {
    QFont f;
    f.setFamilies(QStringList{kJapaneseFontName} + JapaneseFontFallbacks());
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

// A dimension line with its text (mm) from a to b, offset outside the plan.
void Dimension(QPainter& p, QPoint a, QPoint b, bool horizontal) {
    p.setPen(QPen(QColor(0, 0, 160), 1));
    p.drawLine(a, b);
    const QPoint tick = horizontal ? QPoint(0, 8) : QPoint(8, 0);
    p.drawLine(a - tick, a + tick);
    p.drawLine(b - tick, b + tick);
    const int mm = (horizontal ? b.x() - a.x() : b.y() - a.y()) * 10;
    const QString text = QString::number(mm);
    p.setFont(Font(20));
    const QPoint mid = (a + b) / 2;
    if (horizontal) {
        p.drawText(QRect(mid.x() - 60, mid.y() - 28, 120, 24), Qt::AlignCenter, text);
    } else {
        p.save();
        p.translate(mid.x() - 6, mid.y());
        p.rotate(-90);
        p.drawText(QRect(-60, -24, 120, 24), Qt::AlignCenter, text);
        p.restore();
    }
}

// The floor plan: 1500 x 1100 pixels, the plan's corner at (100, 100).
QImage FloorPlan(const QString& title) {
    QImage img(kLeft + kWidth + 200, kTop + kHeight + 200, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QPoint o(kLeft, kTop);
    for (const Room& room : kRooms) {
        p.setPen(QPen(Qt::black, 4));
        p.drawRect(room.r.translated(o));
        p.setFont(Font(28, true));
        p.drawText(room.r.translated(o), Qt::AlignCenter, QString::fromUtf8(room.name));
        p.setFont(Font(18));
        p.setPen(QColor(90, 90, 90));
        p.drawText(room.r.translated(o).adjusted(0, 40, 0, 40), Qt::AlignCenter,
                   QStringLiteral("%1 × %2").arg(room.r.width() * 10).arg(room.r.height() * 10));
    }
    p.setPen(QPen(Qt::black, 8));
    p.drawRect(QRect(o, QSize(kWidth, kHeight)));
    // Dimensions along the top and the left side, and the whole.
    int x = kLeft;
    for (int w : {500, 400, 300}) {
        Dimension(p, QPoint(x, kTop - 40), QPoint(x + w, kTop - 40), true);
        x += w;
    }
    Dimension(p, QPoint(kLeft, kTop + kHeight + 60), QPoint(kLeft + kWidth, kTop + kHeight + 60),
              true);
    int y = kTop;
    for (int h : {350, 100, 350}) {
        Dimension(p, QPoint(kLeft - 40, y), QPoint(kLeft - 40, y + h), false);
        y += h;
    }
    Dimension(p, QPoint(kLeft + kWidth + 60, kTop), QPoint(kLeft + kWidth + 60, kTop + kHeight),
              false);
    p.setPen(Qt::black);
    p.setFont(Font(26, true));
    p.drawText(QPoint(kLeft, img.height() - 40), title);
    p.end();
    return img;
}

// The site plan: the lot with the house on it, its size printed.
QImage SitePlan() {
    QImage img(kLeft + kWidth + 200, kTop + kHeight + 200, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setPen(QPen(QColor(0, 120, 0), 3, Qt::DashLine));
    p.drawRect(QRect(60, 60, img.width() - 120, img.height() - 180));
    p.fillRect(QRect(350, 250, 600, 400), QColor(220, 220, 220));
    p.setPen(QPen(Qt::black, 6));
    p.drawRect(QRect(350, 250, 600, 400));
    p.setFont(Font(36, true));
    p.drawText(QRect(350, 250, 600, 400), Qt::AlignCenter, QStringLiteral("住宅"));
    p.setFont(Font(20));
    p.setPen(QColor(90, 90, 90));
    p.drawText(QRect(350, 310, 600, 400), Qt::AlignCenter, QStringLiteral("12000 × 8000"));
    p.setPen(Qt::black);
    p.setFont(Font(26, true));
    p.drawText(QPoint(kLeft, img.height() - 40), QStringLiteral("図面セット 1/2  配置図  S=1:200"));
    p.end();
    return img;
}

// One page of PostScript holding the image at one device pixel a pixel at
// 200 dpi, its samples compressed.
QByteArray PostScriptPage(const QImage& page, int number) {
    const QImage rgb = page.convertToFormat(QImage::Format_RGB888);
    QByteArray samples;
    for (int y = 0; y < rgb.height(); ++y)
        samples.append(reinterpret_cast<const char*>(rgb.constScanLine(y)), rgb.width() * 3);
    // qCompress puts the length before the zlib stream.
    const QByteArray flate = qCompress(samples, 9).mid(4);
    const double w = rgb.width() * 72.0 / 200.0, h = rgb.height() * 72.0 / 200.0;
    QByteArray ps = QStringLiteral("%%Page: %1 %1\n<< /PageSize [%2 %3] >> setpagedevice\n"
                                   "gsave %2 %3 scale /DeviceRGB setcolorspace\n"
                                   "<< /ImageType 1 /Width %4 /Height %5 /BitsPerComponent 8\n"
                                   "   /Decode [0 1 0 1 0 1] /ImageMatrix [%4 0 0 -%5 0 %5]\n"
                                   "   /DataSource currentfile /ASCIIHexDecode filter "
                                   "/FlateDecode filter >> image\n")
                        .arg(number)
                        .arg(w)
                        .arg(h)
                        .arg(rgb.width())
                        .arg(rgb.height())
                        .toLatin1();
    const QByteArray hex = flate.toHex();
    for (qsizetype i = 0; i < hex.size(); i += 120)
        ps += hex.mid(i, 120) + '\n';
    ps += ">\ngrestore showpage\n";
    return ps;
}

int WriteDrawingSet(const QString& out) {
    QByteArray ps = "%!PS-Adobe-3.0\n%%Pages: 2\n%%EndComments\n";
    ps += PostScriptPage(SitePlan(), 1);
    ps += PostScriptPage(FloorPlan(QStringLiteral("図面セット 2/2  平面図  S=1:100  "
                                                  "(200 dpi で 1 ピクセル = 10 mm)")),
                         2);
    ps += "%%EOF\n";
    QFile f(out);
    if (!f.open(QIODevice::WriteOnly) || f.write(ps) != ps.size() || !f.flush()) {
        std::fprintf(stderr, "make_floorplan: %s\n", qPrintable(f.errorString()));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--ps")
        return WriteDrawingSet(QString::fromLocal8Bit(argv[2]));
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_floorplan OUTPUT.bmp | --ps OUTPUT.ps\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QImage img = FloorPlan(QStringLiteral("デモ間取り図  S=1:100  (1 ピクセル = 10 mm)"));
    if (const auto saved = SaveImageAsBmp(img, out); !saved) {
        std::fprintf(stderr, "make_floorplan: %s\n", qPrintable(saved.error()));
        return 1;
    }
    // The calibration: origin at the lower-left corner, drawing coordinates (0, 0).
    CalibrationTexts t = CalibrationTexts::defaults();
    t.X(CalRow::Origin) = QString::number(kLeft);
    t.Y(CalRow::Origin) = QString::number(kTop + kHeight);
    t.X(CalRow::OriginCoordinate) = QStringLiteral("0");
    t.Y(CalRow::OriginCoordinate) = QStringLiteral("0");
    t.X(CalRow::CalibrationStart) = QString::number(kLeft);
    t.Y(CalRow::CalibrationStart) = QString::number(kTop);
    t.X(CalRow::CalibrationEnd) = QString::number(kLeft + kWidth);
    t.Y(CalRow::CalibrationEnd) = QString::number(kTop + kHeight);
    t.X(CalRow::Difference) = QString::number(kWidth);
    t.Y(CalRow::Difference) = QString::number(kHeight);
    t.X(CalRow::RealLength) = QStringLiteral("12");
    t.Y(CalRow::RealLength) = QStringLiteral("8");
    t.X(CalRow::Coefficient) = QStringLiteral("0.01000");
    t.Y(CalRow::Coefficient) = QStringLiteral("0.01000");
    if (const auto written =
            WriteCalibrationFile(CalibrationFilePath(out), t, TextCodec(QStringLiteral("CP932")));
        !written) {
        std::fprintf(stderr, "make_floorplan: %s\n", qPrintable(written.error()));
        return 1;
    }
    return 0;
}
