#include "main/image/drawing_choice.h"

#include "common/numtext.h"
#include "common/refusals.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
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

QStringList GhostscriptArguments(const QString& jpegPath, const QString& copyPath, int page,
                                 int pageCount) {
    QStringList args{QStringLiteral("-dSAFER"), QStringLiteral("-dBATCH"),
                     QStringLiteral("-dNOPAUSE"), QStringLiteral("-sDEVICE=jpeg"),
                     QStringLiteral("-r200")};
    // Page 1 keeps the plain command line (its JPEG is the one a reader shows
    // first); any other page of a set is converted alone into its own JPEG.
    if (pageCount > 1 && page > 1)
        args << QStringLiteral("-dFirstPage=%1").arg(page)
             << QStringLiteral("-dLastPage=%1").arg(page);
    args << QStringLiteral("-sOutputFile=") + jpegPath << copyPath;
    return args;
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
    auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("PDFファイルを画像フォルダにコピーできませんでした:\r\n") +
                     from + QStringLiteral("\r\n→ ") + to + QStringLiteral("\r\n") + why;
        return false;
    };
    QFile in(from);
    if (!QFileInfo(from).isFile())
        return fail(QStringLiteral("ファイルではありません"));
    if (!in.open(QIODevice::ReadOnly))
        return fail(in.errorString());
    QSaveFile out(to);
    if (!out.open(QIODevice::WriteOnly))
        return fail(out.errorString());
    QByteArray chunk;
    while (!(chunk = in.read(1 << 20)).isEmpty()) {
        if (out.write(chunk) != chunk.size()) {
            out.cancelWriting();
            return fail(out.errorString());
        }
    }
    if (in.error() != QFileDevice::NoError) {
        out.cancelWriting();
        return fail(in.errorString());
    }
    if (!out.commit())
        return fail(out.errorString());
    return true;
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

QString ConversionFailureMessage(const QString& pdfPath, const ProcessOutcome& outcome,
                                 bool wroteNoJpeg) {
    QString why;
    if (!outcome.started)
        why = QStringLiteral("Ghostscriptを起動できません: ") + outcome.error;
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
    const QList<QByteArray> lines = outcome.output.split('\n');
    for (auto it = lines.crbegin(); it != lines.crend(); ++it)
        if (!it->trimmed().isEmpty()) {
            last = QString::fromLocal8Bit(it->trimmed());
            break;
        }
    QString text = QStringLiteral("PDFファイルを画像に変換できませんでした:\r\n") + pdfPath;
    if (!why.isEmpty())
        text += QStringLiteral("\r\n") + why;
    if (!last.isEmpty())
        text += QStringLiteral("\r\n") + Brief(last, 80);
    return text;
}
