#include "main/image/drawing_choice.h"

#include "common/core/atomic_file.h"
#include "common/core/exchange_files.h"
#include "common/core/file_read.h"
#include "common/core/numtext.h"
#include "common/core/refusals.h"
#include "main/image/taken_outlines.h"

#include <QCryptographicHash>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTimer>

#include <thread>

QString DrawingFileFilter() {
    return QStringLiteral("*.bmp;*.jpg;*.jpeg;*.pdf (*.bmp *.jpg *.jpeg *.pdf)");
}

QString ImageFolder(const QString& instPath) {
    return instPath + QStringLiteral("見積用画像/");
}

QString PathExtension(const QString& path) {
    return path.split(QLatin1Char('.')).last();
}

bool IsPdfPath(const QString& path) {
    return PathExtension(path).compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0;
}

QString PdfCopyPath(const QString& chosenPdf, const QString& instPath) {
    return ImageFolder(instPath) + chosenPdf.split(QLatin1Char('/')).last();
}

QString PdfJpegPath(const QString& copyPath, int page) {
    if (page <= 1)
        return copyPath + QStringLiteral(".jpg");
    return copyPath + QStringLiteral("-p") + QString::number(page) + QStringLiteral(".jpg");
}

QStringList GhostscriptArguments(const QString& outputPath, const QString& copyPath, int page,
                                 int pageCount) {
    QStringList args{QStringLiteral("-dSAFER"), QStringLiteral("-dBATCH"),
                     QStringLiteral("-dNOPAUSE"), QStringLiteral("-sDEVICE=jpeg"),
                     QStringLiteral("-r%1").arg(kPageResolution)};
    // A page of a set is converted alone: without a range Ghostscript would
    // render every page of the set into the one JPEG.
    if (pageCount > 1)
        args << QStringLiteral("-dFirstPage=%1").arg(page)
             << QStringLiteral("-dLastPage=%1").arg(page);
    args << QStringLiteral("-sOutputFile=") + GhostscriptOutputName(outputPath) << copyPath;
    return args;
}

QString GhostscriptOutputName(const QString& path) {
    QString name = path;
    return name.replace(QLatin1Char('%'), QStringLiteral("%%"));
}

QString GhostscriptProgramFor(const QString& gsDllPath) {
    if (!gsDllPath.isEmpty() && QFileInfo(gsDllPath).isDir())
        return gsDllPath +
               (gsDllPath.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) +
               QStringLiteral("gs");
    return gsDllPath;
}

QStringList PageCountArguments(const QString& pdfPath) {
    // The path reaches Ghostscript as a string parameter, never as program text.
    return {QStringLiteral("-q"),
            QStringLiteral("-dNODISPLAY"),
            QStringLiteral("-dSAFER"),
            QStringLiteral("-dBATCH"),
            QStringLiteral("-dNOPAUSE"),
            QStringLiteral("--permit-file-read=") + pdfPath,
            QStringLiteral("-sFile=") + pdfPath,
            QStringLiteral("-c"),
            QStringLiteral("File (r) file runpdfbegin pdfpagecount = quit")};
}

std::optional<int> ParsePageCount(const QByteArray& output) {
    const QList<QByteArray> lines = output.split('\n');
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const QByteArray line = it->trimmed();
        if (line.isEmpty())
            continue;
        bool ok = false;
        const int n = line.toInt(&ok);
        if (ok)
            return n > 0 ? std::optional<int>(n) : std::nullopt;
    }
    return std::nullopt;
}

QString PageQuestion(int pageCount) {
    return QStringLiteral("このPDFファイルは %1 ページあります。\r\n"
                          "画像にするページ番号を入力して下さい（1～%1）")
        .arg(pageCount);
}

Result<int> ParsePageAnswer(const QString& answer, int pageCount) {
    const QString t = answer.trimmed();
    const double v = Val(t);
    if (IsNumericText(t) && v == VbInt(v) && v >= 1 && v <= pageCount)
        return int(v);
    return Fail(
        QStringLiteral("ページ番号は 1 から %1 までの数字で入力して下さい: ").arg(pageCount) +
        Brief(answer));
}

QString NoGhostscriptMessage() {
    return QStringLiteral("pdfファイルを利用する為には\r\nGhostscriptをインストールして下さい");
}

Result<> CopyFileReplacing(const QString& from, const QString& to) {
    AtomicReplacement out(to);
    if (auto copied = CopyFileInto(from, out); !copied)
        return copied;
    if (const auto committed = out.commit(); !committed)
        return Fail(QStringLiteral("PDFファイルを画像フォルダにコピーできませんでした:\r\n") +
                    from + QStringLiteral("\r\n→ ") + to + QStringLiteral("\r\n") +
                    committed.error());
    return {};
}

Result<> CopyFileInto(const QString& from, AtomicReplacement& out) {
    auto fail = [&](const QString& why) {
        out.abandon();
        return Fail(QStringLiteral("PDFファイルを画像フォルダにコピーできませんでした:\r\n") +
                    from + QStringLiteral("\r\n→ ") + out.path() + QStringLiteral("\r\n") + why);
    };
    QFile in(from);
    if (!QFileInfo(from).isFile())
        return fail(QStringLiteral("通常のファイルではありません"));
    if (!in.open(QIODevice::ReadOnly))
        return fail(in.errorString());
    if (const auto begun = out.begin(); !begun)
        return fail(begun.error());
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 n = in.read(chunk.data(), chunk.size());
        if (n < 0)
            return fail(in.errorString());
        if (n == 0)
            return {};
        if (const auto appended = out.append(chunk.constData(), n); !appended)
            return fail(appended.error());
    }
}

bool SameFileContents(const QString& a, const QString& b) {
    QFile fa(a), fb(b);
    if (!QFileInfo(a).isFile() || !QFileInfo(b).isFile() || fa.size() != fb.size() ||
        !fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly))
        return false;
    constexpr qint64 kChunk = 1 << 20;
    for (;;) {
        const QByteArray x = fa.read(kChunk);
        const QByteArray y = fb.read(kChunk);
        if (x != y)
            return false;
        if (x.isEmpty())
            return true;
    }
}

bool CopyNeeded(const QString& chosenPdf, const QString& copyPath) {
    const QFileInfo copy(copyPath);
    if (copyPath == chosenPdf ||
        (copy.exists() && copy.canonicalFilePath() == QFileInfo(chosenPdf).canonicalFilePath()))
        return false;
    return !SameFileContents(chosenPdf, copyPath);
}

QString PageSourcePath(const QString& jpegPath) {
    return jpegPath + QStringLiteral(".source");
}

QByteArray PageSourceText(const PageSource& s) {
    return "pdf-size=" + QByteArray::number(s.pdfSize) +
           "\npdf-modified-ns=" + QByteArray::number(s.pdfModifiedNs) +
           "\npdf-sha256=" + s.pdfSha256 + "\npage=" + QByteArray::number(s.page) +
           "\nresolution=" + QByteArray::number(s.resolution) +
           "\njpeg-size=" + QByteArray::number(s.jpegSize) + "\n";
}

std::optional<PageSource> ParsePageSource(const QByteArray& text) {
    QMap<QByteArray, QByteArray> values;
    for (const QByteArray& line : text.split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            values.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    PageSource s;
    bool ok[5] = {};
    s.pdfSize = values.value("pdf-size").toLongLong(&ok[0]);
    s.pdfModifiedNs = values.value("pdf-modified-ns").toLongLong(&ok[1]);
    s.page = values.value("page").toInt(&ok[2]);
    s.resolution = values.value("resolution").toInt(&ok[3]);
    s.jpegSize = values.value("jpeg-size").toLongLong(&ok[4]);
    s.pdfSha256 = values.value("pdf-sha256");
    for (bool b : ok)
        if (!b)
            return std::nullopt;
    if (s.pdfSha256.size() != 64)
        return std::nullopt;
    return s;
}

QByteArray FileSha256(const QString& path) {
    QFile f(path);
    if (!QFileInfo(path).isFile() || !f.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&f))
        return QByteArray();
    return hash.result().toHex();
}

bool PageConvertedFrom(const QString& jpegPath, const QString& pdfPath, int page) {
    // A record is a few lines: anything bigger is none.
    const Result<FileStart> file = ReadWholeFile(PageSourcePath(jpegPath), 4096);
    if (!file)
        return false;
    const std::optional<PageSource> s = ParsePageSource(file->bytes);
    const FileStamp pdf = StampFile(pdfPath);
    const FileStamp jpeg = StampFile(jpegPath);
    if (!s || s->page != page || s->resolution != kPageResolution || !pdf.exists || !jpeg.exists ||
        s->jpegSize != jpeg.size || s->pdfSize != pdf.size)
        return false;
    return s->pdfModifiedNs == pdf.modifiedNs || FileSha256(pdfPath) == s->pdfSha256;
}

std::optional<QString> ConvertedPage(const QString& chosenPdf, const QString& instPath, int page) {
    const QString copy = PdfCopyPath(chosenPdf, instPath);
    if (!QFileInfo(copy).isFile() || CopyNeeded(chosenPdf, copy))
        return std::nullopt;
    const QString jpeg = PdfJpegPath(copy, page);
    if (!PageConvertedFrom(jpeg, copy, page))
        return std::nullopt;
    return jpeg;
}

QStringList CalibratedPages(const QString& copyPath) {
    const QFileInfo copy(copyPath);
    const QString stem = copy.fileName();
    QStringList found;
    const QStringList names = copy.dir().entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString& name : names) {
        if (!name.startsWith(stem) || !name.endsWith(QLatin1String(".jpg.inf")))
            continue;
        // stem & ".jpg.inf", or stem & "-p" & digits & ".jpg.inf".
        const QString middle = name.mid(stem.size(), name.size() - stem.size() - 8);
        bool page = middle.isEmpty();
        if (middle.size() > 2 && middle.startsWith(QLatin1String("-p"))) {
            page = true;
            for (QChar c : middle.mid(2))
                page = page && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        }
        if (page)
            found << copy.dir().filePath(name);
    }
    return found;
}

QString ReplaceDrawingQuestion(const QString& copyPath) {
    return QStringLiteral("同じ名前の図面が既にあります。置き換えますか\r\n") + copyPath +
           QStringLiteral("\r\n（置き換えると、変換するページの基準値と拾い済みの図形は"
                          "日付を付けた名前で残します）");
}

QString ReconvertPageQuestion(const QString& jpegPath) {
    return QStringLiteral("このページのPDFが前に変換した時から変わっています。\r\n") + jpegPath +
           QStringLiteral("\r\n変換し直しますか？（このページの基準値と拾い済みの図形は"
                          "日付を付けた名前で残します）");
}

QStringList KeepAside(const QStringList& paths, const QDateTime& when, QStringList* failed) {
    QStringList kept;
    const QString stamp = when.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (const QString& path : paths) {
        QString aside = path + QLatin1Char('.') + stamp + QStringLiteral(".old");
        for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
            aside = path + QLatin1Char('.') + stamp + QLatin1Char('-') + QString::number(n) +
                    QStringLiteral(".old");
        if (QFile::rename(path, aside))
            kept << aside;
        else if (failed)
            *failed << path;
    }
    return kept;
}

QString KeptAsideMessage(const QStringList& kept, const QStringList& notKept) {
    QString text;
    if (!kept.isEmpty())
        text += QStringLiteral("前の基準値と拾い済みの図形は、次の名前で残しました:\r\n") +
                kept.join(QStringLiteral("\r\n"));
    if (!notKept.isEmpty()) {
        if (!text.isEmpty())
            text += QStringLiteral("\r\n");
        text += QStringLiteral("次のファイルは名前を変えられなかったため、そのまま残っています"
                               "（今の図面には合いません。確かめて下さい）:\r\n") +
                notKept.join(QStringLiteral("\r\n"));
    }
    return text;
}

Result<> CheckDrawingName(const QString& imagePath, const TextCodec& codec) {
    if (codec.canEncode(imagePath))
        return {};
    return Fail(QStringLiteral("図面のファイル名に文字コード %1 で表せない文字があるため、"
                               "使えません:\r\n%2\r\nファイル名を変えてから選んで下さい")
                    .arg(codec.name(), Brief(imagePath, 80)));
}

ProcessOutcome RunProcessWhileEventsFlow(const QString& program, const QStringList& arguments,
                                         int timeLimitMs) {
    ProcessOutcome outcome;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    QEventLoop loop;
    QObject::connect(&process, &QProcess::readyRead, [&] {
        outcome.output += process.readAll();
        if (outcome.output.size() > ProcessOutcome::kOutputTail)
            outcome.output = outcome.output.right(ProcessOutcome::kOutputTail);
    });
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            loop.quit();
    });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, [&] {
        outcome.timedOut = true;
        process.kill();
    });
    process.start(program, arguments);
    if (!process.waitForStarted(-1) && process.state() == QProcess::NotRunning) {
        outcome.error = process.errorString();
        return outcome;
    }
    outcome.started = true;
    limit.start(timeLimitMs);
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    if (process.state() != QProcess::NotRunning)
        process.waitForFinished(-1);
    outcome.output += process.readAll();
    if (outcome.output.size() > ProcessOutcome::kOutputTail)
        outcome.output = outcome.output.right(ProcessOutcome::kOutputTail);
    outcome.crashed = process.exitStatus() == QProcess::CrashExit;
    outcome.exitCode = process.exitCode();
    return outcome;
}

void RunWhileEventsFlow(const std::function<void()>& work) {
    QEventLoop loop;
    std::thread worker([&] {
        work();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
}

PageConversion::PageConversion(const QString& chosenPdf, const QString& instPath, int page,
                               int pageCount)
    : chosen_(chosenPdf), folder_(ImageFolder(instPath)),
      copyPath_(PdfCopyPath(chosenPdf, instPath)), jpegPath_(PdfJpegPath(copyPath_, page)),
      infPath_(jpegPath_ + QStringLiteral(".inf")), page_(page), pageCount_(pageCount),
      copyNeeded_(CopyNeeded(chosenPdf, copyPath_)), copy_(copyPath_), jpeg_(jpegPath_) {}

Failure PageConversion::fail(const QString& message) {
    jpeg_.abandon();
    copy_.abandon();
    const QFileInfo old(jpegPath_);
    if (old.isFile() && old.size() == 0 && !QFileInfo::exists(infPath_))
        QFile::remove(jpegPath_);
    return Fail(message);
}

Result<> PageConversion::prepare() {
    const QString cannot = QStringLiteral("PDFファイルを画像に変換できませんでした:\r\n") +
                           chosen_ + QStringLiteral("\r\n");
    const QString cannotCopy =
        QStringLiteral("PDFファイルを画像フォルダにコピーできませんでした:\r\n") + chosen_ +
        QStringLiteral("\r\n→ ") + copyPath_ + QStringLiteral("\r\n");
    if (copyNeeded_)
        if (const auto checked = CheckWritingTo(copyPath_); !checked)
            return Fail(cannotCopy + checked.error());
    if (const auto checked = CheckWritingTo(jpegPath_); !checked)
        return Fail(cannot + checked.error());
    // The page converted again from the same bytes keeps its calibration and
    // outlines; any other conversion keeps them aside.
    sameSource_ = PageConvertedFrom(jpegPath_, sourcePdf(), page_);
    replaced_.clear();
    if (!sameSource_)
        for (const QString& kept : {infPath_, TakenOutlinesPath(jpegPath_)})
            if (QFileInfo::exists(kept) || QFileInfo(kept).isSymLink()) {
                if (const auto checked = CheckWritingTo(kept); !checked)
                    return Fail(cannot + checked.error());
                replaced_ << kept;
            }
    if (!QDir().mkpath(folder_))
        return Fail(QStringLiteral("画像フォルダを作成できませんでした: ") + folder_);
    sourceSha256_ = FileSha256(sourcePdf());
    if (copyNeeded_)
        if (const auto copied = CopyFileInto(chosen_, copy_); !copied)
            return fail(copied.error());
    if (const auto begun = jpeg_.begin(); !begun)
        return fail(cannot + begun.error());
    return {};
}

QStringList PageConversion::arguments() const {
    return GhostscriptArguments(jpeg_.temporaryPath(),
                                copyNeeded_ ? copy_.temporaryPath() : copyPath_, page_, pageCount_);
}

PageConversion::Finished PageConversion::finish(const ProcessOutcome& outcome) {
    // Ghostscript ends with 0 on a full disk too, its JPEG cut short: a
    // folder without room says why.
    const bool wroteNoJpeg = jpeg_.temporarySize() <= 0;
    if (!outcome.ok() || wroteNoJpeg)
        return {
            fail(ConversionFailureMessage(chosen_, outcome, wroteNoJpeg, FolderIsFull(folder_))),
            QString()};
    Result<DrawingPicture> picture = ReadDrawingPicture(jpeg_.temporaryPath(), jpegPath_);
    if (!picture) {
        if (FolderIsFull(folder_))
            return {fail(ConversionFailureMessage(chosen_, outcome, false, true)), QString()};
        return {fail(picture.error()), QStringLiteral("エラー")};
    }
    // The page's files change under its drawing's lock: no other session
    // adds an outline or writes a calibration between the JPEG and them.
    const QString cannot = QStringLiteral("PDFファイルを画像に変換できませんでした:\r\n") +
                           chosen_ + QStringLiteral("\r\n");
    FileLock lock;
    if (const auto locked = LockDrawing(lock, jpegPath_); !locked)
        return {fail(cannot + locked.error()), QString()};
    // Another session converted the page from the same bytes meanwhile: its
    // JPEG stays, with what was calibrated and taken off it since.
    if (!sameSource_ && PageConvertedFrom(jpegPath_, sourcePdf(), page_)) {
        jpeg_.abandon();
        copy_.abandon();
        Result<DrawingPicture> theirs = ReadDrawingPicture(jpegPath_);
        const QString title = theirs ? QString() : QStringLiteral("エラー");
        return {std::move(theirs), title};
    }
    const bool copyExisted = QFileInfo::exists(copyPath_);
    const bool jpegExisted = QFileInfo::exists(jpegPath_);
    if (copyNeeded_)
        if (const auto committed = copy_.commit(); !committed)
            return {fail(cannot + committed.error()), QString()};
    if (const auto committed = jpeg_.commit(); !committed)
        return {fail(cannot + committed.error()), QString()};
    if (copyNeeded_ && !copyExisted)
        ShareWithFolderGroup(copyPath_);
    if (!jpegExisted)
        ShareWithFolderGroup(jpegPath_);
    // A freshly converted page has no calibration, and nothing taken off it:
    // what the old page had is kept aside, never deleted. The same page of
    // the same bytes again is the same picture.
    if (!sameSource_) {
        QStringList present;
        for (const QString& path : {infPath_, TakenOutlinesPath(jpegPath_)})
            if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
                present << path;
        keptAside_ = KeepAside(present, QDateTime::currentDateTime(), &notKeptAside_);
    }
    // What the JPEG was made from. Without it (a failed write) the page is
    // converted again the next time, as a JPEG of unknown origin.
    const QString record = PageSourcePath(jpegPath_);
    QFile::remove(record);
    const FileStamp copy = StampFile(copyPath_);
    const PageSource source{copy.size, copy.modifiedNs, sourceSha256_,
                            page_,     kPageResolution, StampFile(jpegPath_).size};
    if (!sourceSha256_.isEmpty() && WriteFileAtomically(record, PageSourceText(source)))
        ShareWithFolderGroup(record);
    return {std::move(picture), QString()};
}

QString ConversionFailureMessage(const QString& pdfPath, const ProcessOutcome& outcome,
                                 bool wroteNoJpeg, bool diskFull) {
    QString why;
    const bool password = outcome.output.toLower().contains("password");
    if (!outcome.started)
        why = QStringLiteral("Ghostscriptを起動できません: ") + outcome.error;
    else if (diskFull)
        why = QStringLiteral("ディスクの空き容量が足りません");
    else if (password)
        why = QStringLiteral("パスワードで保護されたPDFファイルです。"
                             "パスワードを外したPDFファイルを選んで下さい");
    else if (outcome.timedOut)
        why = QStringLiteral("Ghostscriptが時間内に終わりませんでした");
    else if (outcome.crashed)
        why = QStringLiteral("Ghostscriptが異常終了しました");
    else if (outcome.exitCode != 0)
        why = QStringLiteral("Ghostscriptの終了コード: %1").arg(outcome.exitCode);
    else if (wroteNoJpeg)
        why = QStringLiteral("Ghostscriptが画像を書きませんでした");
    // Ghostscript's own last words, a few dozen characters of them.
    QString last;
    if (!diskFull && !password) {
        const QList<QByteArray> lines = outcome.output.split('\n');
        for (auto it = lines.crbegin(); it != lines.crend(); ++it)
            if (!it->trimmed().isEmpty()) {
                last = QString::fromLocal8Bit(it->trimmed());
                break;
            }
    }
    QString text = QStringLiteral("PDFファイルを画像に変換できませんでした:\r\n") + pdfPath;
    if (!why.isEmpty())
        text += QStringLiteral("\r\n") + why;
    if (!last.isEmpty())
        text += QStringLiteral("\r\n") + Brief(last, 80);
    return text;
}
