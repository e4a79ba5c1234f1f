// The digitizer's drawing commands on big inputs:
//
//   drawing_bench --turn DRAWING.bmp   a quarter turn of the drawing as the menu
//                                      runs it (saved turned as a bitmap and the
//                                      reload), three times, each in a fresh
//                                      process, with the peak memory
//   drawing_bench --pdf FOLDER         Ghostscript's conversion of an A1 sheet
//                                      (made in FOLDER) to JPEG, as the window runs it
//   drawing_bench --set FOLDER [RUNS]  a page of a 200-page A1 drawing set (made in
//                                      FOLDER) to a loaded drawing: page 1 by the
//                                      plain command line (the whole set into one
//                                      JPEG) against page 1 alone, and pages 1, 100
//                                      and 200 chosen through the window; each run a
//                                      process of its own, the sides alternating
//
// Prints one line of figures each (the set: one line a side and the ratio).
#include "bench/digitizer/bench_support.h"
#include "main/image/drawing_choice.h"
#include "main/window/form1.h"
#include "main/window/form3.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImageReader>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double Ms(const QElapsedTimer& t) {
    return t.nsecsElapsed() / 1e6;
}

// One turn in a process of its own: opens the drawing, then runs "右に回転"
// as the menu does, to a settled window. Prints the milliseconds of the
// turn, the peak memory after the opening and the peak memory at the end
// (MB).
int TurnRun(const QString& source) {
    QTemporaryDir inst;
    const QString drawing = inst.filePath(QStringLiteral("drawing.bmp"));
    if (!QFile::copy(source, drawing) || !MakeBenchInstallation(inst, drawing, 1))
        return 1;
    Form1 form;
    if (!form.Form_Load())
        return 1;
    Form3 f3(form.session(), form.form2(), &form);
    f3.Form_Load();
    f3.show();
    QApplication::processEvents();
    if (f3.Image1.isNull()) {
        std::fprintf(stderr, "drawing_bench: the drawing did not open\n");
        return 1;
    }
    const double opened = StatusMb("VmHWM:");
    const QSize turned = f3.Image1.size().transposed();
    QElapsedTimer t;
    t.start();
    f3.D16->trigger();
    QApplication::processEvents();
    const double ms = Ms(t);
    if (f3.Image1.size() != turned) {
        std::fprintf(stderr, "drawing_bench: the drawing did not turn\n");
        return 1;
    }
    std::printf("%.1f %.1f %.1f\n", ms, opened, StatusMb("VmHWM:"));
    return 0;
}

// Three turns, each in a fresh process.
int Turn(const QString& self, const QString& source) {
    std::vector<double> ms, opened, peak;
    QSize size;
    for (int i = 0; i < 3; ++i) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(self, {QStringLiteral("--turn-run"), source});
        if (!child.waitForFinished(600000) || child.exitCode() != 0)
            return 1;
        const QList<QByteArray> f = child.readAllStandardOutput().trimmed().split(' ');
        ms.push_back(f.value(0).toDouble());
        opened.push_back(f.value(1).toDouble());
        peak.push_back(f.value(2).toDouble());
    }
    size = QImageReader(source).size();
    std::vector<double> sorted = ms;
    std::sort(sorted.begin(), sorted.end());
    std::printf("turn %dx%d, \"右に回転\" to a settled window, bitmap save and reload included, "
                "3 fresh processes | median %.0f ms (min %.0f, max %.0f) | peak memory %.0f MB "
                "after opening, %.0f MB with the turn\n",
                size.width(), size.height(), sorted[1], sorted[0], sorted[2],
                *std::max_element(opened.begin(), opened.end()),
                *std::max_element(peak.begin(), peak.end()));
    return 0;
}

// A1 sheets (841 x 594 mm) of a drawing: a grid of walls, thin lines,
// dimension text, as a CAD plot is; each page numbered.
bool MakeA1(const QString& pdf, const QString& folder, int pages = 1) {
    const QString ps = folder + QStringLiteral("/a1.ps");
    QFile f(ps);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write("%!PS\n<< /PageSize [2384 1684] >> setpagedevice\n"
            "/Helvetica findfont 14 scalefont setfont\n"
            "1 1 " +
            QByteArray::number(pages) +
            " { /page exch def\n"
            "0.2 setlinewidth 0 12 2384 { 0 moveto 0 1684 rlineto stroke } for\n"
            "3 setlinewidth 60 180 2300 { /x exch def 60 140 1600 { /y exch def\n"
            "  x y 180 140 rectstroke x 10 add y 10 add moveto (4500 x 3500) show } for } for\n"
            "100 1640 moveto page 10 string cvs show showpage } for\n");
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

// One run of a side of the drawing-set figures, in a process of its own;
// prints its milliseconds and this process's peak memory (MB).
//   plain PAGE:  page count, the plain command line (the whole set), the JPEG read
//   alone PAGE:  page count, that page alone, the JPEG read
//   window PAGE: the page chosen through Form3's "画像の選択" into a fresh
//                installation (copy, page count, conversion, load, view)
int SetRun(const QString& pdf, const QString& side, int page) {
    const QString gs = GhostscriptProgramFor(GhostscriptPath());
    QTemporaryDir work;
    QElapsedTimer t;
    if (side == QLatin1String("window")) {
        if (!MakeBenchInstallation(work, QString(), 1))
            return 1;
        QFile::resize(work.filePath(QStringLiteral("curPass.txt")), 0);
        Form1 form;
        if (!form.Form_Load())
            return 1;
        Form3 f3(form.session(), form.form2(), &form);
        f3.Form_Load();
        SetFileDialogHook([&](bool, const QString&) { return pdf; });
        SetInputBoxHook([&](const QString&, const QString&) {
            return std::optional<QString>(QString::number(page));
        });
        t.start();
        f3.A11_Click();
        const double ms = Ms(t);
        if (f3.Image1.isNull() ||
            !form.session().drawing().imagePath.endsWith(QStringLiteral(".jpg"))) {
            std::fprintf(stderr, "drawing_bench: page %d did not load\n", page);
            return 1;
        }
        std::printf("%.1f %.1f\n", ms, StatusMb("VmHWM:"));
        return 0;
    }
    const QString jpeg = work.filePath(QStringLiteral("page.jpg"));
    t.start();
    const ProcessOutcome counted = RunProcessWhileEventsFlow(gs, PageCountArguments(pdf), 60000);
    const int pages = ParsePageCount(counted.output).value_or(1);
    const ProcessOutcome o = RunProcessWhileEventsFlow(
        gs, GhostscriptArguments(jpeg, pdf, page, side == QLatin1String("plain") ? 1 : pages),
        600000);
    const Result<DrawingPicture> read = ReadDrawingPicture(jpeg);
    const double ms = Ms(t);
    if (!o.ok() || !read) {
        std::fprintf(stderr, "drawing_bench: %s\n",
                     qPrintable(o.ok() ? read.error() : ConversionFailureMessage(pdf, o, false)));
        return 1;
    }
    std::printf("%.1f %.1f\n", ms, StatusMb("VmHWM:"));
    return 0;
}

struct Figures {
    std::vector<double> ms, mb;
    double median() const {
        std::vector<double> v = ms;
        std::sort(v.begin(), v.end());
        return v.empty() ? 0 : v[v.size() / 2];
    }
    double min() const { return ms.empty() ? 0 : *std::min_element(ms.begin(), ms.end()); }
    double peak() const { return mb.empty() ? 0 : *std::max_element(mb.begin(), mb.end()); }
};

int Set(const QString& self, const QString& folder, int runs) {
    const QString pdf = folder + QStringLiteral("/a1-set-200.pdf");
    if (!QFileInfo::exists(pdf) && !MakeA1(pdf, folder, 200)) {
        std::fprintf(stderr, "drawing_bench: the drawing set could not be made\n");
        return 1;
    }
    const std::pair<const char*, int> sides[] = {
        {"plain", 1}, {"alone", 1}, {"window", 1}, {"window", 100}, {"window", 200}};
    std::vector<Figures> figures(std::size(sides));
    // Alternating: one run of every side, then the next round.
    for (int round = 0; round < runs; ++round)
        for (size_t i = 0; i < std::size(sides); ++i) {
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child.start(self,
                        {QStringLiteral("--set-run"), pdf, QString::fromLatin1(sides[i].first),
                         QString::number(sides[i].second)});
            if (!child.waitForFinished(900000) || child.exitCode() != 0)
                return 1;
            const QList<QByteArray> f = child.readAllStandardOutput().trimmed().split(' ');
            figures[i].ms.push_back(f.value(0).toDouble());
            figures[i].mb.push_back(f.value(1).toDouble());
        }
    const char* names[] = {
        "page 1, plain command (the whole set)  ", "page 1 alone                           ",
        "page 1 through the window              ", "page 100 through the window            ",
        "page 200 through the window            "};
    std::printf("200-page A1 set (%.1f MB) at 200 dpi, to a loaded drawing, %d runs a side:\n",
                QFileInfo(pdf).size() / 1e6, runs);
    for (size_t i = 0; i < std::size(sides); ++i)
        std::printf("  %s median %7.0f ms, min %7.0f ms, peak %6.0f MB\n", names[i],
                    figures[i].median(), figures[i].min(), figures[i].peak());
    std::printf("  page 1: plain / alone, ratio of medians %.1f\n",
                figures[0].median() / std::max(1.0, figures[1].median()));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == QLatin1String("--turn"))
        return Turn(args[0], args[2]);
    if (args.size() >= 3 && args[1] == QLatin1String("--turn-run"))
        return TurnRun(args[2]);
    if (args.size() >= 3 && args[1] == QLatin1String("--pdf"))
        return Pdf(args[2]);
    if (args.size() >= 3 && args[1] == QLatin1String("--set"))
        return Set(args[0], args[2], args.size() >= 4 ? std::max(3, args[3].toInt()) : 3);
    if (args.size() >= 5 && args[1] == QLatin1String("--set-run"))
        return SetRun(args[2], args[3], args[4].toInt());
    std::fprintf(stderr, "usage: drawing_bench --turn DRAWING.bmp\n"
                         "       drawing_bench --pdf FOLDER\n"
                         "       drawing_bench --set FOLDER [RUNS]\n");
    return 2;
}
