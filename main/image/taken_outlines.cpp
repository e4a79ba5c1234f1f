#include "main/image/taken_outlines.h"

#include "common/core/atomic_file.h"
#include "common/core/file_read.h"
#include "common/core/numtext.h"
#include "common/core/refusals.h"

#include <QFileInfo>

#include <cmath>
#include <optional>
#include <utility>

namespace {

// Positions far outside any drawing are no positions.
constexpr double kMaxPosition = 1000000;

// A field that is a plain number (the texts DoubleToText writes).
std::optional<double> Number(const QString& field) {
    bool ok = false;
    const double v = field.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v) || std::fabs(v) > kMaxPosition)
        return std::nullopt;
    return v;
}

std::optional<TakenOutline> ParseLine(const QString& line) {
    const QStringList f = line.split(QLatin1Char(','));
    bool ok = false;
    const int n = f.value(0).trimmed().toInt(&ok);
    if (!ok || n < 1 || n > kMaxTakenOutlinePoints || f.size() < 1 + 2 * n + 1)
        return std::nullopt;
    TakenOutline o;
    for (int i = 0; i < n; ++i) {
        const auto x = Number(f[1 + 2 * i]);
        const auto y = Number(f[2 + 2 * i]);
        if (!x || !y)
            return std::nullopt;
        o.points.append(QPointF(*x, *y));
    }
    o.comment = f.mid(1 + 2 * n).join(QLatin1Char(','));
    return o;
}

} // namespace

QString TakenOutlinesPath(const QString& imagePath) {
    return imagePath + QStringLiteral(".takeoff");
}

QString TakenOutlineLine(const TakenOutline& outline) {
    QStringList f{QString::number(outline.points.size())};
    // A hundredth of a pixel is finer than any press.
    auto text = [](double v) { return DoubleToText(std::round(v * 100) / 100); };
    for (const QPointF& p : outline.points)
        f << text(p.x()) << text(p.y());
    // A line end in the comment would start another line.
    QString comment = outline.comment;
    comment.replace(QLatin1Char('\r'), QLatin1Char(' '))
        .replace(QLatin1Char('\n'), QLatin1Char(' '));
    f << comment;
    return f.join(QLatin1Char(','));
}

TakenOutlinesRead ReadTakenOutlines(const QString& path, const TextCodec& codec) {
    TakenOutlinesRead read;
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return read;
    const Result<FileStart> file = ReadWholeFile(path, kMaxTakenOutlinesBytes);
    if (!file) {
        read.error = file.error();
        return read;
    }
    int bad = 0;
    const QStringList lines = SplitTextLines(file->bytes, codec);
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].trimmed().isEmpty())
            continue;
        const bool tooLong = lines[i].size() > kMaxTakenLineLength;
        if (const auto o = tooLong ? std::nullopt : ParseLine(lines[i])) {
            read.outlines.append(*o);
        } else if (bad++ == 0) {
            read.error =
                QStringLiteral("拾い済みの記録の %1 行目を読めません%3: 「%2」")
                    .arg(i + 1)
                    .arg(Brief(lines[i]),
                         tooLong ? QStringLiteral("（図形の記録としては長すぎます: %1 文字）")
                                       .arg(lines[i].size())
                                 : QString());
        }
    }
    if (bad > 1)
        read.error += QStringLiteral("（ほかに %1 行）").arg(bad - 1);
    if (!read.error.isEmpty())
        read.error += QStringLiteral("\r\n") + path;
    return read;
}

QString DrawingLockPath(const QString& imagePath) {
    return imagePath + QStringLiteral(".lock");
}

Result<> LockDrawing(FileLock& lock, const QString& imagePath, int waitMs) {
    QString why;
    switch (lock.acquire(DrawingLockPath(imagePath), waitMs, &why)) {
    case FileLock::Outcome::Held:
        return {};
    case FileLock::Outcome::Busy:
        return Fail(
            QStringLiteral("図面「%1」のファイルを他の画面が書き込み中です（%2 秒待ちました）")
                .arg(imagePath)
                .arg((waitMs + 999) / 1000));
    case FileLock::Outcome::Failed:
        break;
    }
    return Fail(why);
}

Result<> AppendTakenOutlines(const QString& imagePath, const QList<TakenOutline>& outlines,
                             const TextCodec& codec, int waitMs) {
    // From the read to the replacement no other session changes the file.
    FileLock lock;
    if (auto locked = LockDrawing(lock, imagePath, waitMs); !locked)
        return locked;
    const QString path = TakenOutlinesPath(imagePath);
    const bool existed = QFileInfo::exists(path) || QFileInfo(path).isSymLink();
    QByteArray bytes;
    if (existed) {
        const Result<FileStart> file = ReadWholeFile(path, kMaxTakenOutlinesBytes);
        if (!file)
            return Fail(file.error());
        bytes = file->bytes;
        // A last line without its end is ended first.
        if (!bytes.isEmpty() && !bytes.endsWith('\n') && !bytes.endsWith('\r'))
            bytes += "\r\n";
    }
    for (const TakenOutline& outline : outlines)
        bytes += CrLfLine(TakenOutlineLine(outline), codec);
    if (bytes.size() > kMaxTakenOutlinesBytes)
        return Fail(QStringLiteral("拾い済みの記録がいっぱいです（%1 MB まで）: ")
                        .arg(kMaxTakenOutlinesBytes / (1024 * 1024)) +
                    path);
    if (auto written = WriteFileAtomically(path, bytes); !written)
        return written;
    if (!existed)
        ShareWithFolderGroup(path);
    return {};
}

Result<> WriteTakenOutlines(const QString& imagePath, const QList<TakenOutline>& outlines,
                            const TextCodec& codec) {
    const QString path = TakenOutlinesPath(imagePath);
    const bool existed = QFileInfo::exists(path) || QFileInfo(path).isSymLink();
    if (!existed && outlines.isEmpty())
        return {};
    QByteArray bytes;
    for (const TakenOutline& outline : outlines)
        bytes += CrLfLine(TakenOutlineLine(outline), codec);
    if (auto written = WriteFileAtomically(path, bytes); !written)
        return written;
    if (!existed)
        ShareWithFolderGroup(path);
    return {};
}

namespace {

// The same finished outline: its points and codes as "実行" reads them.
bool SameOutline(const OutlineStore& a, const OutlineStore& b) {
    if (a.finishedCount() != b.finishedCount() || a.finishedCount() < 1)
        return false;
    for (int i = 1; i <= a.finishedCount(); ++i)
        for (int c = 1; c <= 3; ++c)
            if (a.pointsM[i][c] != b.pointsM[i][c])
                return false;
    return true;
}

} // namespace

void OnScreenOutlines::finished(const QString& imagePath, const TakenOutline& outline,
                                const OutlineStore& store) {
    waiting_ = Waiting{imagePath, outline, store};
}

std::optional<QString> OnScreenOutlines::rowWritten(const OutlineStore& written,
                                                    const TextCodec& codec) {
    if (waiting_ && SameOutline(waiting_->store, written)) {
        const Waiting w = *std::exchange(waiting_, std::nullopt);
        unsaved_.append(Unsaved{w.imagePath, w.outline});
    }
    return retry(codec);
}

std::optional<QString> OnScreenOutlines::retry(const TextCodec& codec, int waitMs) {
    QStringList drawings;
    for (const Unsaved& u : unsaved_)
        if (!drawings.contains(u.imagePath))
            drawings << u.imagePath;
    QStringList said;
    for (const QString& drawing : drawings) {
        // A drawing's outlines go in together: one lock, one replacement.
        const QList<TakenOutline> outlines = unsaved(drawing);
        const Result<> added = AppendTakenOutlines(drawing, outlines, codec, waitMs);
        if (added) {
            unsaved_.removeIf([&](const Unsaved& u) { return u.imagePath == drawing; });
            reported_.removeAll(drawing);
            continue;
        }
        if (reported_.contains(drawing))
            continue;
        reported_ << drawing;
        said << QStringLiteral("拾い済みの図形を図面に記録できませんでした"
                               "（行は書き込まれています）。\r\n") +
                    added.error() +
                    QStringLiteral("\r\n図形は残してあり、次の「実行」で記録し直します");
    }
    if (said.isEmpty())
        return std::nullopt;
    return said.join(QStringLiteral("\r\n\r\n"));
}

QList<TakenOutline> OnScreenOutlines::unsaved(const QString& imagePath) const {
    QList<TakenOutline> found;
    for (const Unsaved& u : unsaved_)
        if (u.imagePath == imagePath)
            found << u.outline;
    return found;
}
