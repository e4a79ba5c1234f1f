// The on-screen digitizer on a big drawing, as an estimator meets it: the
// time to open the drawing, the repaint of the view after a scroll at a
// zoom, and the peak memory of the process.
//
//   digitizer_bench --make DRAWING.bmp [WIDTH HEIGHT]   writes a 24-bit test drawing
//   digitizer_bench DRAWING.bmp ZOOM [REPAINTS]          opens it at ZOOM and repaints
//
// Prints one line of figures. Run one zoom per process, so each peak is its own.
#include "bench/digitizer/bench_support.h"
#include "common/ui/picturebox.h"
#include "main/window/form1.h"
#include "main/window/form3.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QScrollBar>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// A floor-plan-like drawing: a grid of walls, rooms and dimension text.
int MakeDrawing(const QString& path, int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    if (img.isNull())
        return 1;
    img.fill(Qt::white);
    QPainter p(&img);
    p.setPen(QPen(Qt::black, 4));
    for (int x = 200; x < w; x += 900)
        p.drawLine(x, 200, x, h - 200);
    for (int y = 200; y < h; y += 700)
        p.drawLine(200, y, w - 200, y);
    p.setPen(QPen(Qt::darkGray, 1));
    for (int x = 0; x < w; x += 50)
        p.drawLine(x, 0, x, h);
    QFont font;
    font.setPixelSize(40);
    p.setFont(font);
    p.setPen(Qt::blue);
    for (int y = 300; y < h; y += 700)
        for (int x = 300; x < w; x += 900)
            p.drawText(x, y + 200, QStringLiteral("4500 x 3500"));
    p.end();
    if (const auto saved = SaveImageAsBmp(img, path); !saved) {
        std::fprintf(stderr, "digitizer_bench: %s\n", qPrintable(saved.error()));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == QLatin1String("--make"))
        return MakeDrawing(args[2], args.size() > 3 ? args[3].toInt() : 10000,
                           args.size() > 4 ? args[4].toInt() : 7000);
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: digitizer_bench DRAWING ZOOM [REPAINTS]\n"
                             "       digitizer_bench --make DRAWING [WIDTH HEIGHT]\n");
        return 2;
    }
    const QString drawing = args[1];
    const float zoom = args[2].toFloat();
    const int repaints = args.size() > 3 ? std::max(1, args[3].toInt()) : 50;

    // A throw-away installation that names the drawing in curPass.txt.
    QTemporaryDir inst;
    if (!MakeBenchInstallation(inst, drawing, zoom))
        return 1;

    Form1 form;
    if (!form.Form_Load())
        return 1;
    const double before = StatusMb("VmRSS:");
    Form3 f3(form.session(), form.form2(), &form);
    QElapsedTimer t;
    t.start();
    f3.Form_Load();
    const double openMs = t.nsecsElapsed() / 1e6;
    if (f3.Image1.isNull()) {
        std::fprintf(stderr, "digitizer_bench: the drawing did not open\n");
        return 1;
    }
    // A view of 1200 x 800 pixels.
    f3.show();
    QApplication::processEvents();
    for (int i = 0; i < 3 && f3.view->size() != QSize(1200, 800); ++i) {
        f3.resize(f3.size() + QSize(1200, 800) - f3.view->size());
        QApplication::processEvents();
    }
    const QSize viewSize = f3.view->size();

    // Scroll, then repaint what the view shows, as the window does.
    QImage target(viewSize, QImage::Format_RGB32);
    std::vector<double> ms;
    for (int i = 0; i < repaints; ++i) {
        f3.HScroll1->setValue(f3.HScroll1->maximum() * ((i * 37) % 100) / 100);
        f3.VScroll1->setValue(f3.VScroll1->maximum() * ((i * 53) % 100) / 100);
        t.restart();
        QPainter p(&target);
        f3.view->render(&p);
        p.end();
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("drawing %dx%d depth %d | zoom %.1f | box %dx%d | view %dx%d | open %.0f ms | "
                "repaint median %.2f ms (min %.2f, max %.2f, %d) | memory %.0f MB more after "
                "open, peak %.0f MB\n",
                f3.imageWidth, f3.imageHeight, int(f3.colourDepth), double(zoom),
                f3.Picture1->width(), f3.Picture1->height(), viewSize.width(), viewSize.height(),
                openMs, ms[ms.size() / 2], ms.front(), ms.back(), repaints,
                StatusMb("VmRSS:") - before, StatusMb("VmHWM:"));
    return 0;
}
