#pragma once
// Choosing a drawing without the window: which files are PDFs, where a
// PDF's copy and its JPEG go, the Ghostscript command lines (the page count
// of a PDF and the conversion of one page at 200 dpi), the page question,
// and running a program while the window keeps handling its events.
//
// Ghostscript is always given its arguments one by one, never through a
// shell, so a path with blanks, quotes or Japanese is passed as it is.

#include <QByteArray>
#include <QString>
#include <QStringList>

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

// The conversion's arguments: "-dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg
// -r200", for page n >= 2 of a drawing set "-dFirstPage=n -dLastPage=n" (that
// page alone), then "-sOutputFile=" & jpegPath and the copy. Page 1 keeps the
// plain command line: Ghostscript writes the set's pages one after another
// into that file, and a JPEG reader shows the first of them.
QStringList GhostscriptArguments(const QString& jpegPath, const QString& copyPath, int page,
                                 int pageCount);

// The Ghostscript program of the location found at start-up (GsDllPath): a
// folder names the "gs" in it, anything else is the program itself.
QString GhostscriptProgramFor(const QString& gsDllPath);

// Asking Ghostscript for the number of pages of a PDF, and reading its
// answer (the last line that is a whole number). Nothing when the answer
// holds no positive count (not a PDF, a broken one).
QStringList PageCountArguments(const QString& pdfPath);
std::optional<int> ParsePageCount(const QByteArray& output);

// The page question of a drawing set of pageCount pages (default 1), and
// its answer: the page, or the refusal of an answer that names none.
QString PageQuestion(int pageCount);
inline const QString kPageTitle = QStringLiteral("ページの選択");
struct PageAnswer {
    int page = 0; // 1 to pageCount when taken
    std::optional<QString> refusal;
};
PageAnswer ParsePageAnswer(const QString& answer, int pageCount);

// The message when no Ghostscript was found.
QString NoGhostscriptMessage();

// Copies a file over another, whole or not at all (a temporary file beside
// the target, renamed over it). False and a message quoting both paths.
bool CopyFileReplacing(const QString& from, const QString& to, QString* error = nullptr);

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

// The message when a conversion failed or wrote no JPEG, naming the PDF and
// quoting a little of Ghostscript's own last words.
QString ConversionFailureMessage(const QString& pdfPath, const ProcessOutcome& outcome,
                                 bool wroteNoJpeg);
