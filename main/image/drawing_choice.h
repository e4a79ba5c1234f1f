#pragma once
// Choosing a drawing without the window: which files are PDFs, where a
// PDF's copy and its JPEG go, the Ghostscript command lines (the page count
// of a PDF and the conversion of one page at 200 dpi), the page question,
// and running a program while the window keeps handling its events.
//
// Ghostscript is always given its arguments one by one, never through a
// shell, so a path with blanks, quotes or Japanese is passed as it is.

#include "common/core/atomic_file.h"
#include "common/core/textcodec.h"
#include "main/image/pixels.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The open-file dialog's filter: the patterns "*.bmp;*.jpg;*.jpeg;*.pdf".
QString DrawingFileFilter();

// The image folder, instPath & "見積用画像/": PDF copies and their JPEGs.
QString ImageFolder(const QString& instPath);

// The extension rule: the last piece of the path split at "." (the whole
// path when it has none). A PDF is one whose extension is "pdf" in any
// case, so PLAN.PDF is converted like plan.pdf.
QString PathExtension(const QString& path);
bool IsPdfPath(const QString& path);

// Where a chosen PDF is converted from: the image folder & its file name
// (the last piece of the path split at "/"). A PDF already there (the same
// text) is not copied.
QString PdfCopyPath(const QString& chosenPdf, const QString& instPath);

// The JPEG of one page of the copy: copy & ".jpg" for page 1, copy & "-p" &
// n & ".jpg" for page n of a drawing set, so every page keeps its own JPEG
// and its own calibration file.
QString PdfJpegPath(const QString& copyPath, int page);

// The resolution pages are converted at, dots per inch.
inline constexpr int kPageResolution = 200;

// The conversion's arguments: "-dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg
// -r200", for page n of a drawing set of more than one page
// "-dFirstPage=n -dLastPage=n" (that page alone, page 1 too), then
// "-sOutputFile=" & the output file (GhostscriptOutputName) and the copy. A
// one-page PDF keeps the plain command line.
QStringList GhostscriptArguments(const QString& outputPath, const QString& copyPath, int page,
                                 int pageCount);

// The output file as Ghostscript takes it: "%" starts a page-number template
// there ("%d"), so every "%" of the name is doubled. Input files are taken
// as they are named.
QString GhostscriptOutputName(const QString& path);

// The Ghostscript program of the location found at start-up (GsDllPath): a
// folder names the "gs" in it, anything else is the program itself.
QString GhostscriptProgramFor(const QString& gsDllPath);

// Asking Ghostscript for the number of pages of a PDF, and reading its
// answer (the last line that is a whole number). Nothing when the answer
// holds no positive count (not a PDF, a broken one).
QStringList PageCountArguments(const QString& pdfPath);
std::optional<int> ParsePageCount(const QByteArray& output);

// The page question of a drawing set of pageCount pages (default 1), and
// its answer: the page (1 to pageCount), or the refusal of an answer that
// names none.
QString PageQuestion(int pageCount);
inline const QString kPageTitle = QStringLiteral("ページの選択");
Result<int> ParsePageAnswer(const QString& answer, int pageCount);

// The message when no Ghostscript was found.
QString NoGhostscriptMessage();

// Copies a file over another, whole or not at all, reading and writing it a
// piece at a time (AtomicReplacement): a PDF need not fit in memory, and a
// full disk or a read-only copy leaves the old copy whole. A failure's
// message quotes both paths and says why.
Result<> CopyFileReplacing(const QString& from, const QString& to);
// The same up to the commit: `to` is begun and holds the copy in its
// temporary file, for the caller to commit (or abandon) with what depends on it.
Result<> CopyFileInto(const QString& from, AtomicReplacement& to);

// Two files hold the same bytes (both readable).
bool SameFileContents(const QString& a, const QString& b);

// A chosen PDF is copied over the image folder's copy of its name unless it
// is that copy (chosen from the image folder) or holds the same bytes.
bool CopyNeeded(const QString& chosenPdf, const QString& copyPath);

// ---- What a page's JPEG was converted from ----
//
// Beside every JPEG a conversion writes lies jpeg & ".source": the size,
// modification time and SHA-256 of the PDF it was converted from, the page,
// the resolution and the size of the JPEG written. Choosing that page of the
// same PDF again shows the JPEG as it is, with its calibration and the
// outlines taken off it, in this session or another one sharing the folder;
// a JPEG without it is converted again.
struct PageSource {
    qint64 pdfSize = -1;
    qint64 pdfModifiedNs = 0;
    QByteArray pdfSha256; // lower-case hex
    int page = 0;
    int resolution = 0;
    qint64 jpegSize = -1;
    bool operator==(const PageSource&) const = default;
};

QString PageSourcePath(const QString& jpegPath);
// The file's text: one "name=value" line each, LF ended.
QByteArray PageSourceText(const PageSource& source);
// Nothing when a value is missing or is no number.
std::optional<PageSource> ParsePageSource(const QByteArray& text);

// The SHA-256 of a regular file's bytes in lower-case hex, read a piece at a
// time; empty when it cannot be read.
QByteArray FileSha256(const QString& path);

// The JPEG at jpegPath is a page's, converted from the bytes the PDF at
// pdfPath holds now (that page, at kPageResolution), and still the file
// written then (its size): its record says so. The PDF is hashed only when
// its modification time is not the one recorded.
bool PageConvertedFrom(const QString& jpegPath, const QString& pdfPath, int page);

// The JPEG of a page of a chosen PDF that is shown as it lies: the image
// folder's copy is the chosen PDF or holds the same bytes, and the page's
// JPEG was converted from them. Else nothing: the page is converted.
std::optional<QString> ConvertedPage(const QString& chosenPdf, const QString& instPath, int page);

// The calibration files of the page JPEGs of a PDF copy in the image folder
// (copy & ".jpg.inf", copy & "-pN.jpg.inf").
QStringList CalibratedPages(const QString& copyPath);

// The question before a different PDF replaces a copy of the same name whose
// pages are calibrated.
QString ReplaceDrawingQuestion(const QString& copyPath);

// The question before a page is converted again from other bytes (the PDF
// changed) while its JPEG has a calibration or outlines taken off it.
QString ReconvertPageQuestion(const QString& jpegPath);

// Renames each file aside, beside itself, as name & "." & when
// (yyyyMMdd-HHmmss) & ".old" (a number added when that name is taken): what
// was calibrated and taken off a page is never deleted by a conversion. The
// new names; a file that could not be renamed goes to *failed.
QStringList KeepAside(const QStringList& paths, const QDateTime& when, QStringList* failed);

// What the user is told after a conversion or a turn kept a drawing's files aside.
QString KeptAsideMessage(const QStringList& kept, const QStringList& notKept);

// A drawing's path goes into the view-state file in the code page: one the
// code page cannot hold is refused (naming the code page).
Result<> CheckDrawingName(const QString& imagePath, const TextCodec& codec);

// A program run to its end.
struct ProcessOutcome {
    bool started = false;
    bool timedOut = false; // killed at the time limit
    bool crashed = false;
    int exitCode = -1;
    QByteArray output; // the end of what it wrote (both channels), at most kOutputTail bytes
    QString error;     // why it did not start
    bool ok() const { return started && !timedOut && !crashed && exitCode == 0; }
    static constexpr int kOutputTail = 4096;
};

// Starts program with its arguments and waits for its end, handling the
// pending events of the program's windows all the while (they keep painting
// and answering). A program still running after timeLimitMs is killed.
ProcessOutcome RunProcessWhileEventsFlow(const QString& program, const QStringList& arguments,
                                         int timeLimitMs);

// Runs work on a thread of its own and handles the pending events of the
// program's windows until it ends (they keep painting and answering). The
// work must leave the windows and their objects alone.
void RunWhileEventsFlow(const std::function<void()>& work);

// One page of a PDF made into its JPEG in the image folder, whole or not at
// all. prepare() refuses before anything changes when a file the conversion
// replaces or deletes does not allow it (the copy, the page's JPEG, its
// calibration), then makes the copy beside the old one and begins the JPEG's
// temporary file; Ghostscript writes the page there (arguments()); finish()
// reads it whole (ReadDrawingPicture) and only then, holding the page's
// drawing lock, puts the copy and the JPEG in their places with the JPEG's
// record (PageSource) and keeps the page's calibration and outlines aside
// under dated names (KeepAside), never deleting them. A
// JPEG converted again from the same PDF keeps them (the page is the same
// picture). When another session converted the page from the same PDF
// while Ghostscript ran, its JPEG stays with what was taken off it since, and
// is the page read. A failure at any step removes what was begun and leaves
// every old file as it was, an empty JPEG an earlier failure left excepted
// (removed).
class PageConversion {
public:
    PageConversion(const QString& chosenPdf, const QString& instPath, int page, int pageCount);

    const QString& jpegPath() const { return jpegPath_; }
    Result<> prepare();
    // After prepare(): the page's calibration and outline files the
    // conversion replaces (a page converted from other bytes); empty when it
    // keeps them or there are none. finish() keeps them aside.
    const QStringList& replacedRecords() const { return replaced_; }
    // After finish(): the names they were kept under, and the ones that could
    // not be renamed (they stay in place, said).
    const QStringList& keptAside() const { return keptAside_; }
    const QStringList& notKeptAside() const { return notKeptAside_; }
    QStringList arguments() const;

    struct Finished {
        Result<DrawingPicture> picture; // the page, now at jpegPath(); else why not, for the user
        QString title; // the failure message's title when it is a load's ("エラー")
    };
    Finished finish(const ProcessOutcome& outcome);

private:
    // Removes what was begun and leaves the old files; the failure to return.
    Failure fail(const QString& message);

    // The PDF Ghostscript converts: the chosen one when it is copied, else the copy.
    QString sourcePdf() const { return copyNeeded_ ? chosen_ : copyPath_; }

    QString chosen_, folder_, copyPath_, jpegPath_, infPath_;
    int page_, pageCount_;
    bool copyNeeded_;
    bool sameSource_ = false; // the page's JPEG was converted from these bytes already
    QStringList replaced_, keptAside_, notKeptAside_;
    QByteArray sourceSha256_;
    AtomicReplacement copy_, jpeg_;
};

// The message when a conversion failed or wrote no JPEG, naming the PDF and
// saying why: the disk is full (diskFull), the PDF needs a password, or
// Ghostscript's own last words, a few dozen characters of them.
QString ConversionFailureMessage(const QString& pdfPath, const ProcessOutcome& outcome,
                                 bool wroteNoJpeg, bool diskFull = false);
