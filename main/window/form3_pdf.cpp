// The digitizer's choice of a drawing: the file dialog, and a PDF's page
// converted into a JPEG image by Ghostscript while the window keeps painting.

#include "common/core/textcodec.h"
#include "common/ui/message.h"
#include "main/takeoff/takeoff_session.h"
#include "main/window/form3.h"
#include "main/window/form3_busy.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

namespace {

// Ghostscript's time limits: a page count is quick; a big sheet at 200 dpi
// takes seconds, a drawing set's page rarely a minute.
constexpr int kPageCountLimitMs = 60 * 1000;
constexpr int kConversionLimitMs = 10 * 60 * 1000;

} // namespace

QString Form3::dialogFolder() const {
    const QFileInfo current(drawing_.imagePath);
    if (!drawing_.imagePath.isEmpty() && current.absoluteDir().exists())
        return current.absolutePath();
    const QString images = ImageFolder(session_.instPath());
    return QFileInfo(images).isDir() ? images : session_.instPath();
}

void Form3::A11_Click() {
    chooseDrawing();
}

void Form3::chooseDrawing() {
    // 1. A cancelled dialog changes nothing.
    const QString chosen =
        GetOpenFileName(this, QStringLiteral("画像の選択"), DrawingFileFilter(), dialogFolder());
    if (chosen.isEmpty())
        return;
    // 2.-3. A bitmap or JPEG is shown where it lies, if its name can go into
    // the view-state file and it can be loaded; else the drawing shown stays.
    if (!IsPdfPath(chosen)) {
        if (const auto checked = CheckDrawingName(chosen, TextCodec::fromRegistry()); !checked) {
            MsgBox(this, checked.error());
            return;
        }
        loadDrawing(chosen);
        return;
    }
    // 4. The drawing shown and its path stay as they were.
    if (session_.GsDllPath().isEmpty()) {
        MsgBox(this, NoGhostscriptMessage());
        return;
    }
    // 5.
    convertPdf(chosen);
}

void Form3::convertPdf(const QString& chosen) {
    // Nothing changes until the new page is loaded: every refusal below
    // leaves the drawing shown, the copy, the page's JPEG and its calibration.
    // Ghostscript would wait on a FIFO for ever.
    if (!QFileInfo(chosen).isFile()) {
        MsgBox(this, QStringLiteral("PDFファイルを画像に変換できませんでした:\r\n") + chosen +
                         QStringLiteral("\r\n通常のファイルではありません"));
        return;
    }
    const QString copyPath = PdfCopyPath(chosen, session_.instPath());
    if (const auto checked = CheckDrawingName(PdfJpegPath(copyPath, 1), TextCodec::fromRegistry());
        !checked) {
        MsgBox(this, checked.error());
        return;
    }
    // 5.1-5.2 A PDF chosen from the image folder is converted where it lies;
    // another one is copied there, over a copy of the same name. When that
    // copy holds another PDF whose pages are calibrated, the user is asked.
    const bool replacingCopy = QFileInfo::exists(copyPath) &&
                               !CalibratedPages(copyPath).isEmpty() && CopyNeeded(chosen, copyPath);
    if (replacingCopy && !MsgBoxYesNo(this, ReplaceDrawingQuestion(copyPath)))
        return;
    // A drawing set: which page. A PDF Ghostscript cannot count is tried as
    // one page, and its conversion says what is wrong.
    const QString program = GhostscriptProgramFor(session_.GsDllPath());
    int pageCount = 1;
    const ProcessOutcome counted =
        WaitForProcess(program, PageCountArguments(chosen), kPageCountLimitMs,
                       QStringLiteral("変換中… ページ数を調べています（%1）")
                           .arg(Brief(QFileInfo(chosen).fileName())));
    if (counted.ok())
        pageCount = ParsePageCount(counted.output).value_or(1);
    int page = 1;
    if (pageCount > 1) {
        const std::optional<QString> answer =
            InputBox(this, PageQuestion(pageCount), kPageTitle, QStringLiteral("1"));
        if (!answer)
            return;
        const Result<int> a = ParsePageAnswer(*answer, pageCount);
        if (!a) {
            MsgBox(this, a.error());
            return;
        }
        page = *a;
    }
    // The page converted before from the same bytes is shown as it lies,
    // with its calibration and the outlines taken off it (another session's
    // too). One that cannot be read is converted again.
    if (const auto converted = ConvertedPage(chosen, session_.instPath(), page)) {
        const FileStamp stamp = StampFile(*converted);
        Result<DrawingPicture> read = ReadDrawingPicture(*converted);
        if (read) {
            takeDrawing(std::move(*read), *converted, stamp);
            drawing_.imagePath = *converted;
            showDrawing();
            return;
        }
    }
    // 5.3-5.8 Ghostscript writes the page while the window keeps painting;
    // the copy and the JPEG take their places only with a page that loads.
    PageConversion conversion(chosen, session_.instPath(), page, pageCount);
    if (const auto prepared = conversion.prepare(); !prepared) {
        MsgBox(this, prepared.error());
        return;
    }
    // A page converted before from other bytes (the PDF changed) whose
    // calibration or outlines would be replaced: asked first, unless the
    // replacement of the whole drawing was just agreed to. Declined, nothing
    // changes (the conversion's temporary files go with it).
    if (!replacingCopy && !conversion.replacedRecords().isEmpty() &&
        !MsgBoxYesNo(this, ReconvertPageQuestion(conversion.jpegPath())))
        return;
    PageConversion::Finished done =
        conversion.finish(WaitForProcess(program, conversion.arguments(), kConversionLimitMs,
                                         QStringLiteral("変換中… %1 ページ目（%2）")
                                             .arg(page)
                                             .arg(Brief(QFileInfo(chosen).fileName()))));
    if (!done.picture) {
        if (done.title.isEmpty())
            MsgBox(this, done.picture.error());
        else
            MsgBox(this, done.picture.error(), done.title);
        return;
    }
    if (!conversion.keptAside().isEmpty() || !conversion.notKeptAside().isEmpty())
        MsgBox(this, KeptAsideMessage(conversion.keptAside(), conversion.notKeptAside()));
    // 5.9
    const QString jpegPath = conversion.jpegPath();
    takeDrawing(std::move(*done.picture), jpegPath, StampFile(jpegPath));
    // This session's conversion may have removed the page's calibration.
    calibration_.forget();
    drawing_.imagePath = jpegPath;
    showDrawing();
}

ProcessOutcome Form3::WaitForProcess(const QString& program, const QStringList& arguments,
                                     int timeLimitMs, const QString& status) {
    // No re-entry: no menu command, no close, no take-off meanwhile.
    const Busy busy(*this, status);
    return RunProcessWhileEventsFlow(program, arguments, timeLimitMs);
}
