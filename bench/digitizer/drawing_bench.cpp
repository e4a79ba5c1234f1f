// The digitizer's drawing commands on big inputs:
//
//   drawing_bench --turn DRAWING.bmp   a quarter turn of the drawing: the pixel
//                                      mapping, the canvas, the JPEG save (quality
//                                      80), and the whole command with the reload
//   drawing_bench --pdf FOLDER         Ghostscript's conversion of an A1 sheet
//                                      (made in FOLDER) to JPEG, as the window runs it
//
// Prints one line of figures each.
#include "bench/digitizer/bench_support.h"
#include "main/digitizer/form3.h"
#include "main/image/drawing_choice.h"
#include "main/window/form1.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double Ms(const QElapsedTimer& t) {
    return t.nsecsElapsed() / 1e6;
}

int Turn(const QString& source) {
    QTemporaryDir inst;
    const QString drawing = inst.filePath(QStringLiteral("drawing.bmp"));
    if (!QFile::copy(source, drawing) || !MakeBenchInstallation(inst, drawing, 1))
        return 1;
    Form1 form;
    if (!form.Form_Load())
        return 1;
    Form3 f3(form);
    f3.Form_Load();
    if (f3.pixels.empty()) {
        std::fprintf(stderr, "drawing_bench: the drawing did not open\n");
        return 1;
    }
    const double opened = StatusMb("VmRSS:");
    const int width = f3.imageWidth, height = f3.imageHeight, depth = f3.colourDepth;
    // The turn and its JPEG save, step by step, in a process that has not
    // turned anything yet; then the whole command as the menu runs it, with
    // the reload of the turned drawing.
    QElapsedTimer t;
    t.start();
    RotatePixels(f3.pixels, QuarterTurn::Right, f3.rotatedPixels);
    const double mapMs = Ms(t);
    t.restart();
    QImage canvas;
    SetBitmapPixels(canvas, f3.colourDepth, f3.rotatedPixels);
    const double canvasMs = Ms(t);
    t.restart();
    QString error;
    if (!DCSavetoJPEG(canvas, inst.filePath(QStringLiteral("turned.jpg")), 80, &error)) {
        std::fprintf(stderr, "drawing_bench: %s\n", qPrintable(error));
        return 1;
    }
    const double jpegMs = Ms(t);
    canvas = QImage();
    f3.rotatedPixels.clear();
    t.restart();
    f3.D16_Click();
    const double commandMs = Ms(t);
    t.restart();
    f3.LoadDrawing();
    const double reloadMs = Ms(t);
    std::printf("turn %dx%d depth %d | mapping %.0f ms, canvas %.0f ms, JPEG save %.0f ms "
                "(%.1f MB): turn and save %.0f ms | the whole command %.0f ms, of which the "
                "reload of the turned drawing about %.0f ms | memory %.0f MB after open, peak "
                "%.0f MB\n",
                width, height, depth, mapMs, canvasMs, jpegMs,
                QFileInfo(inst.filePath(QStringLiteral("turned.jpg"))).size() / 1e6,
                mapMs + canvasMs + jpegMs, commandMs, reloadMs, opened, StatusMb("VmHWM:"));
    return 0;
}

// An A1 sheet (841 x 594 mm) of a drawing: a grid of walls, thin lines,
// dimension text, as a CAD plot is.
bool MakeA1(const QString& pdf, const QString& folder) {
    const QString ps = folder + QStringLiteral("/a1.ps");
    QFile f(ps);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write("%!PS\n<< /PageSize [2384 1684] >> setpagedevice\n"
            "/Helvetica findfont 14 scalefont setfont\n"
            "0.2 setlinewidth 0 12 2384 { 0 moveto 0 1684 rlineto stroke } for\n"
            "3 setlinewidth 60 180 2300 { /x exch def 60 140 1600 { /y exch def\n"
            "  x y 180 140 rectstroke x 10 add y 10 add moveto (4500 x 3500) show } for } for\n"
            "showpage\n");
    f.close();
    const ProcessOutcome o = RunProcessWhileEventsFlow(
        GhostscriptProgramFor(GhostscriptPath()),
        {QStringLiteral("-q"), QStringLiteral("-dSAFER"), QStringLiteral("-dBATCH"),
         QStringLiteral("-dNOPAUSE"), QStringLiteral("-sDEVICE=pdfwrite"),
         QStringLiteral("-sOutputFile=") + pdf, ps},
        120000);
    return o.ok();
}

int Pdf(const QString& folder) {
    const QString gs = GhostscriptProgramFor(GhostscriptPath());
    if (gs.isEmpty()) {
        std::fprintf(stderr, "drawing_bench: Ghostscript (gs) is not installed\n");
        return 1;
    }
    const QString pdf = folder + QStringLiteral("/a1.pdf");
    if (!QFileInfo::exists(pdf) && !MakeA1(pdf, folder)) {
        std::fprintf(stderr, "drawing_bench: the A1 sheet could not be made\n");
        return 1;
    }
    const QString jpeg = PdfJpegPath(pdf, 1);
    std::vector<double> ms;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer t;
        t.start();
        const ProcessOutcome o =
            RunProcessWhileEventsFlow(gs, GhostscriptArguments(jpeg, pdf, 1, 1), 600000);
        ms.push_back(Ms(t));
        if (!o.ok()) {
            std::fprintf(stderr, "drawing_bench: %s\n",
                         qPrintable(ConversionFailureMessage(pdf, o, false)));
            return 1;
        }
    }
    std::sort(ms.begin(), ms.end());
    const QSize size = QImageReader(jpeg).size();
    std::printf("gs A1 sheet at 200 dpi | %dx%d JPEG %.1f MB | median %.0f ms (min %.0f, max "
                "%.0f, 3 runs)\n",
                size.width(), size.height(), QFileInfo(jpeg).size() / 1e6, ms[1], ms[0], ms[2]);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == QLatin1String("--turn"))
        return Turn(args[2]);
    if (args.size() >= 3 && args[1] == QLatin1String("--pdf"))
        return Pdf(args[2]);
    std::fprintf(stderr, "usage: drawing_bench --turn DRAWING.bmp\n"
                         "       drawing_bench --pdf FOLDER\n");
    return 2;
}
