#include "main/image/drawing_choice.h"

#include "common/atomic_file.h"
#include "common/numtext.h"
#include "common/refusals.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

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
                     QStringLiteral("-r200")};
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

PageAnswer ParsePageAnswer(const QString& answer, int pageCount) {
    PageAnswer a;
    const QString t = answer.trimmed();
    const double v = Val(t);
    if (IsNumericText(t) && v == VbInt(v) && v >= 1 && v <= pageCount) {
        a.page = int(v);
        return a;
    }
    a.refusal =
        QStringLiteral("ページ番号は 1 から %1 までの数字で入力して下さい: ").arg(pageCount) +
        Brief(answer);
    return a;
}

QString NoGhostscriptMessage() {
    return QStringLiteral("pdfファイルを利用する為には\r\nGhostscriptをインストールして下さい");
}

bool CopyFileReplacing(const QString& from, const QString& to, QString* error) {
    AtomicReplacement out(to);
    if (!CopyFileInto(from, out, error))
        return false;
    QString why;
    if (out.commit(&why))
        return true;
    if (error)
        *error = QStringLiteral("PDFファイルを画像フォルダにコピーできませんでした:\r\n") + from +
                 QStringLiteral("\r\n→ ") + to + QStringLiteral("\r\n") + why;
    return false;
}

bool CopyFileInto(const QString& from, AtomicReplacement& out, QString* error) {
    auto fail = [&](const QString& why) {
        out.abandon();
        if (error)
            *error = QStringLiteral("PDFファイルを画像フォルダにコピーできませんでした:\r\n") +
                     from + QStringLiteral("\r\n→ ") + out.path() + QStringLiteral("\r\n") + why;
        return false;
    };
    QFile in(from);
    if (!QFileInfo(from).isFile())
        return fail(QStringLiteral("通常のファイルではありません"));
    if (!in.open(QIODevice::ReadOnly))
        return fail(in.errorString());
    QString why;
    if (!out.begin(&why))
        return fail(why);
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 n = in.read(chunk.data(), chunk.size());
        if (n < 0)
            return fail(in.errorString());
        if (n == 0)
            return true;
        if (!out.append(chunk.constData(), n, &why))
            return fail(why);
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
           QStringLiteral("\r\n（置き換えると、変換するページの基準値は消えます）");
}

std::optional<QString> RefuseDrawingName(const QString& imagePath, const TextCodec& codec) {
    if (codec.canEncode(imagePath))
        return std::nullopt;
    return QStringLiteral("図面のファイル名に文字コード %1 で表せない文字があるため、"
                          "使えません:\r\n%2\r\nファイル名を変えてから選んで下さい")
        .arg(codec.name(), Brief(imagePath, 80));
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

PageConversion::PageConversion(const QString& chosenPdf, const QString& instPath, int page,
                               int pageCount)
    : chosen_(chosenPdf), folder_(ImageFolder(instPath)),
      copyPath_(PdfCopyPath(chosenPdf, instPath)), jpegPath_(PdfJpegPath(copyPath_, page)),
      infPath_(jpegPath_ + QStringLiteral(".inf")), page_(page), pageCount_(pageCount),
      copyNeeded_(CopyNeeded(chosenPdf, copyPath_)), copy_(copyPath_), jpeg_(jpegPath_) {}

QString PageConversion::fail(const QString& message) {
    jpeg_.abandon();
    copy_.abandon();
    const QFileInfo old(jpegPath_);
    if (old.isFile() && old.size() == 0 && !QFileInfo::exists(infPath_))
        QFile::remove(jpegPath_);
    return message;
}

std::optional<QString> PageConversion::prepare() {
    const QString cannot = QStringLiteral("PDFファイルを画像に変換できませんでした:\r\n") +
                           chosen_ + QStringLiteral("\r\n");
    const QString cannotCopy =
        QStringLiteral("PDFファイルを画像フォルダにコピーできませんでした:\r\n") + chosen_ +
        QStringLiteral("\r\n→ ") + copyPath_ + QStringLiteral("\r\n");
    if (copyNeeded_)
        if (const auto why = RefuseWritingTo(copyPath_))
            return cannotCopy + *why;
    if (const auto why = RefuseWritingTo(jpegPath_))
        return cannot + *why;
    if (QFileInfo::exists(infPath_) || QFileInfo(infPath_).isSymLink())
        if (const auto why = RefuseWritingTo(infPath_))
            return cannot + *why;
    if (!QDir().mkpath(folder_))
        return QStringLiteral("画像フォルダを作成できませんでした: ") + folder_;
    QString error;
    if (copyNeeded_ && !CopyFileInto(chosen_, copy_, &error))
        return fail(error);
    if (!jpeg_.begin(&error))
        return fail(cannot + error);
    return std::nullopt;
}

QStringList PageConversion::arguments() const {
    return GhostscriptArguments(jpeg_.temporaryPath(),
                                copyNeeded_ ? copy_.temporaryPath() : copyPath_, page_, pageCount_);
}

PageConversion::Result PageConversion::finish(const ProcessOutcome& outcome) {
    Result r;
    // Ghostscript ends with 0 on a full disk too, its JPEG cut short: a
    // folder without room says why.
    const bool wroteNoJpeg = jpeg_.temporarySize() <= 0;
    if (!outcome.ok() || wroteNoJpeg) {
        r.message =
            fail(ConversionFailureMessage(chosen_, outcome, wroteNoJpeg, FolderIsFull(folder_)));
        return r;
    }
    r.picture = ReadDrawingPicture(jpeg_.temporaryPath(), jpegPath_);
    if (!r.picture.ok()) {
        if (FolderIsFull(folder_)) {
            r.message = fail(ConversionFailureMessage(chosen_, outcome, false, true));
        } else {
            r.message = fail(r.picture.error);
            r.title = QStringLiteral("エラー");
        }
        return r;
    }
    QString error;
    if ((copyNeeded_ && !copy_.commit(&error)) || !jpeg_.commit(&error)) {
        r.picture = DrawingPicture();
        r.message = fail(QStringLiteral("PDFファイルを画像に変換できませんでした:\r\n") + chosen_ +
                         QStringLiteral("\r\n") + error);
        return r;
    }
    // A freshly converted page has no calibration.
    QFile::remove(infPath_);
    return r;
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
