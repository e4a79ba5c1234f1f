#include "main/takeoff/recovery.h"

#include "common/core/exchange_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString RecoveryWorkbookPath(const QString& instPath) {
    return InstFilePath(instPath, QLatin1String(kRecoveryWorkbookName));
}

Result<> WriteRecoveryWorkbook(const Worksheet& sheet, const QString& instPath, bool rowsSaved) {
    return SaveWorkbook(sheet, RecoveryWorkbookPath(instPath),
                        {{QString::fromLatin1(kRowsSavedProperty), rowsSaved}});
}

RecoveryFound FindRecoveryWorkbook(const QString& instPath) {
    RecoveryFound found;
    const QString path = RecoveryWorkbookPath(instPath);
    if (!QFileInfo::exists(path))
        return found;
    Result<WorkbookData> book = ReadWorkbook(path);
    if (!book) {
        found.state = RecoveryFound::State::Unreadable;
        found.error = book.error();
        return found;
    }
    // A workbook without the mark (written before it was kept, or by someone
    // else) counts as unsaved: offering it once more loses nothing.
    const auto mark = book->customProperties.find(QString::fromLatin1(kRowsSavedProperty));
    const bool saved =
        mark != book->customProperties.end() &&
        (mark->second == QLatin1String("true") || mark->second == QLatin1String("1"));
    const bool rows = book->lastRow() > 1;
    found.state = saved || !rows ? RecoveryFound::State::Saved : RecoveryFound::State::Unsaved;
    if (found.state == RecoveryFound::State::Unsaved)
        found.data = std::move(*book);
    return found;
}

Result<QString> KeepRecoveryWorkbook(const QString& instPath, const QDateTime& when) {
    const QString path = RecoveryWorkbookPath(instPath);
    const QFileInfo info(path);
    const QString stem = info.completeBaseName() + QLatin1Char('-') +
                         when.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int n = 1; n < 1000; ++n) {
        const QString name = stem + (n == 1 ? QString() : QStringLiteral("-%1").arg(n)) +
                             QLatin1Char('.') + info.suffix();
        const QString target = info.dir().filePath(name);
        if (QFileInfo::exists(target))
            continue;
        // QFile::rename does not replace an existing file.
        QFile file(path);
        if (file.rename(target))
            return target;
        if (QFileInfo::exists(target))
            continue; // taken meanwhile
        return Fail(QStringLiteral("控えのワークブックの名前を変えられません: %1\r\n%2")
                        .arg(QDir::toNativeSeparators(path), file.errorString()));
    }
    return Fail(QStringLiteral("控えのワークブックの名前を変えられません: %1")
                    .arg(QDir::toNativeSeparators(path)));
}
