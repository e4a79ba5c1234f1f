#pragma once
// Shared set-up of the tests of Form3's menus on real files: the file dialog
// and input boxes answered by the test, PDFs made by the real Ghostscript.

#include "common/core/registry.h"
#include "main/image/drawing_choice.h"
#include "tests/main/digitizer/digitizer_fixture.h"

#include <QAction>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <deque>
#include <optional>

inline const QString kScaleMessage =
    QStringLiteral("画像のスケールを設定をして下さい\r\n基準値--->スケール");

// A PDF of `pages` pages of 144 x 108 pt (400 x 300 pixels at 200 dpi), made
// by Ghostscript; page n has a black square centred at ((30n + 10) pt, 50 pt
// from the bottom). A bigger page (in points) makes a slower conversion;
// `extra` arguments of pdfwrite may encrypt it.
inline bool MakePdf(const QString& path, int pages, int widthPt = 144, int heightPt = 108,
                    const QStringList& extra = {}) {
    QTemporaryDir dir;
    const QString ps = dir.filePath("pages.ps");
    QFile f(ps);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(QStringLiteral("%!PS\n<< /PageSize [%1 %2] >> setpagedevice\n"
                           "1 1 %3 { /n exch def 0 setgray n 30 mul 40 20 20 rectfill\n"
                           "0.5 setgray 0 0 %1 %2 rectstroke showpage } for\n")
                .arg(widthPt)
                .arg(heightPt)
                .arg(pages)
                .toLatin1());
    f.close();
    QProcess gs;
    gs.start(GhostscriptProgramFor(GhostscriptPath()),
             QStringList{"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite"} + extra +
                 QStringList{"-sOutputFile=" + GhostscriptOutputName(path), ps});
    return gs.waitForFinished(60000) && gs.exitCode() == 0 && QFileInfo(path).size() > 0;
}

// The square of page n is dark in the JPEG of a page.
inline bool PageMarked(const QImage& page, int n) {
    const double px = 200.0 / 72.0;
    return qGray(page.pixel(int((30 * n + 10) * px), int((108 - 50) * px))) < 80;
}

class Form3DrawingTest : public DigitizerFixture {
protected:
    void SetUp() override {
        DigitizerFixture::SetUp();
        SetInputBoxHook([this](const QString& prompt, const QString& title) {
            asked << title + "|" + prompt;
            if (answers.empty())
                return std::optional<QString>();
            const std::optional<QString> a = answers.front();
            answers.pop_front();
            return a;
        });
        SetFileDialogHook([this](bool, const QString& filter) {
            filters << filter;
            return chosen;
        });
    }
    void TearDown() override {
        SetInputBoxHook({});
        SetFileDialogHook({});
        DigitizerFixture::TearDown();
    }
    void needGhostscript() {
        if (GhostscriptPath().isEmpty())
            GTEST_SKIP() << "Ghostscript (gs) is not installed";
    }
    // A11 choosing `path`.
    void choose(Form3& f, const QString& path) {
        chosen = path;
        messages.clear();
        asked.clear();
        f.A11->trigger();
    }
    QString imagePath(Form1& form) const { return form.session().drawing().imagePath; }
    QString images() const { return instPath() + QStringLiteral("見積用画像/"); }
    static QByteArray Contents(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // Press at one point, release at another (a calibration drag).
    static void drag(Form3& f, QPoint from, QPoint to) {
        QTest::mousePress(f.Picture1, Qt::LeftButton, {}, from);
        QTest::mouseMove(f.Picture1, to);
        QTest::mouseRelease(f.Picture1, Qt::LeftButton, {}, to);
    }

    QString chosen;
    QStringList filters;
    QStringList asked;
    std::deque<std::optional<QString>> answers;
};
