#include "common/core/installation.h"

#include "common/core/file_lock.h"
#include "common/core/refusals.h"
#include "common/core/registry.h"
#include "common/core/textcodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Makes `path` and the parents it lacks, each mode 0700 (as the XDG base
// directories ask of theirs). False with errno set when one cannot be made.
bool MakeOwnFolders(const QString& path) {
    const QStringList parts = QDir::cleanPath(path).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString at;
    for (const QString& part : parts) {
        at += QLatin1Char('/') + part;
        if (::mkdir(QFile::encodeName(at).constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

// The template's entries copied into a new working folder: files as files,
// folders as empty folders, links as the same links (LUMO80 leads to the
// root-owned module). Nothing of the template is required: what it lacks the
// programs say when they need it.
void CopyTemplate(const QString& from, const QString& to) {
    const QDir source(from);
    const QFileInfoList entries =
        source.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo& entry : entries) {
        const QString target = to + QLatin1Char('/') + entry.fileName();
        if (entry.isSymLink())
            QFile::link(entry.symLinkTarget(), target);
        else if (entry.isDir())
            ::mkdir(QFile::encodeName(target).constData(), 0700);
        else if (entry.isFile())
            QFile::copy(entry.filePath(), target);
    }
}

// Why the working folder may not be used: another user owns it, or others
// may write it. Empty when it is the user's own.
QString NotOwnFolderProblem(const QString& folder, const QString& registryPath) {
    struct stat st {};
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0)
        return QString();
    const QString where =
        QStringLiteral("（レジストリファイル（%1）の \"InstPath\"）").arg(registryPath);
    if (st.st_uid != ::geteuid())
        return QStringLiteral(
                   "作業フォルダ「%1」はほかの利用者のフォルダのため使えません%2。"
                   "利用者ごとに自分のフォルダを使います（README の「レジストリファイル」"
                   "を見てください）。")
            .arg(Brief(folder, 200), where);
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return QStringLiteral("作業フォルダ「%1」はほかの利用者も書き込めるため使えません%2。"
                              "ほかの利用者がファイルを置き換えられる場所では、"
                              "交換ファイルもサイズ入力モジュールも守れません。"
                              "自分だけが書き込めるフォルダにしてください（chmod go-w）。")
            .arg(Brief(folder, 200), where);
    return QString();
}

// The working folders this process holds, by path: held once, for the
// process's life.
std::map<QString, std::unique_ptr<FileLock>>& HeldFolders() {
    static std::map<QString, std::unique_ptr<FileLock>> held;
    return held;
}

// Holds the working folder for this process, or says who holds it
// (`inUse` set then).
QString HoldWorkingFolder(const QString& folder, bool* inUse) {
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (HeldFolders().count(canonical))
        return QString();
    auto lock = std::make_unique<FileLock>();
    QString error;
    switch (
        lock->acquire(canonical + QLatin1Char('/') + QLatin1String(kSessionLockName), 0, &error)) {
    case FileLock::Outcome::Held:
        HeldFolders().emplace(canonical, std::move(lock));
        return QString();
    case FileLock::Outcome::Busy:
        *inUse = true;
        return QStringLiteral("作業フォルダ「%1」は、別の拾いのセッション（VarpadLumo、T5160、"
                              "MT4500 または Numora）が使っています。"
                              "一つの作業フォルダを使えるのは一度に一つのプログラムだけです。"
                              "そのプログラムを終えてから、もう一度起動してください。")
            .arg(Brief(folder, 200));
    case FileLock::Outcome::Failed:
        break;
    }
    return error;
}

QString PointraKeyText() {
    return QStringLiteral("HKEY_LOCAL_MACHINE\\") + QLatin1String(kPointraKey);
}

// No file at any place looked at: each place named, in order.
QString MissingRegistryFile() {
    const QStringList places = RegistryFile::searchPlaces();
    if (!qEnvironmentVariableIsEmpty("POINTRA_REGISTRY"))
        return QStringLiteral(
                   "環境変数 POINTRA_REGISTRY が指すレジストリファイル（%1）がありません。"
                   "POINTRA_REGISTRY が設定されているときは、ほかの場所は探しません。")
            .arg(Brief(places.first(), 200));
    QString text = QStringLiteral("レジストリファイルがありません。次の場所を順に探しました:\r\n"
                                  "  1. 環境変数 POINTRA_REGISTRY（設定されていません）");
    for (int i = 0; i < places.size(); ++i)
        text += QStringLiteral("\r\n  %1. %2").arg(i + 2).arg(places[i]);
    return text;
}

// "InstPath" registered, or why not.
QString InstPathProblem(const QString& registryPath, const QString& instPath) {
    const QString where =
        QStringLiteral("レジストリファイル（%1）の %2").arg(registryPath, PointraKeyText());
    if (!instPath.isEmpty())
        return QString();
    const RegistryFile& reg = RegistryFile::current();
    const auto raw = reg.value(QString::fromLatin1(HKEY_LOCAL_MACHINE),
                               QString::fromLatin1(kPointraKey), QStringLiteral("InstPath"));
    if (!raw)
        return QStringLiteral("%1 に \"InstPath\"（インストールフォルダ）がありません。")
            .arg(where);
    if (raw->type != REG_SZ && raw->type != REG_EXPAND_SZ)
        return QStringLiteral("%1 の \"InstPath\" が文字列ではありません。").arg(where);
    return QStringLiteral("%1 の \"InstPath\" が空です。").arg(where);
}

} // namespace

QString RegistryStartProblem() {
    const RegistryFile& reg = RegistryFile::current();
    if (!reg.failure().isEmpty())
        return reg.failure();
    QString refusal;
    TextCodec::fromRegistry(&refusal);
    return refusal;
}

InstallationCheck CheckInstallation() {
    InstallationCheck check;
    const QString registryPath = RegistryFile::defaultPath();
    const QFileInfo registryFile(registryPath);
    if (!registryFile.exists() && !registryFile.isSymLink()) {
        check.problem = MissingRegistryFile();
        return check;
    }
    check.problem = RegistryStartProblem();
    if (!check.problem.isEmpty())
        return check;
    QString inst = ReadInstPath();
    check.problem = InstPathProblem(registryPath, inst);
    if (!check.problem.isEmpty())
        return check;
    inst = ExpandUserPath(inst);
    // Looked at without its "/": a file named with one would only be missing.
    const QFileInfo folder(inst.size() > 1 && inst.endsWith(QLatin1Char('/')) ? inst.chopped(1)
                                                                              : inst);
    if (!inst.endsWith(QLatin1Char('/')))
        inst += QLatin1Char('/');
    // The user's own working folder is made at first start.
    const QString home = QDir::cleanPath(QDir::homePath()) + QLatin1Char('/');
    if (!folder.exists() && !folder.isSymLink() &&
        QDir::cleanPath(folder.absoluteFilePath()).startsWith(home) &&
        MakeOwnFolders(folder.absoluteFilePath()))
        CopyTemplate(WorkingFolderTemplate(), folder.absoluteFilePath());
    if (!QFileInfo(folder.absoluteFilePath()).isDir()) {
        check.problem =
            QStringLiteral(
                "インストールフォルダ「%1」が%2（レジストリファイル（%3）の \"InstPath\"）。")
                .arg(Brief(inst, 200),
                     folder.exists() ? QStringLiteral("フォルダではありません")
                                     : QStringLiteral("ありません"),
                     registryPath);
        return check;
    }
    check.problem = NotOwnFolderProblem(folder.absoluteFilePath(), registryPath);
    if (check.problem.isEmpty())
        check.problem = HoldWorkingFolder(folder.absoluteFilePath(), &check.inUse);
    if (!check.problem.isEmpty())
        return check;
    check.instPath = inst;
    return check;
}

QString ExpandUserPath(const QString& text) {
    QString out = text;
    if (out == QLatin1String("~") || out.startsWith(QLatin1String("~/")))
        out.replace(0, 1, QDir::homePath());
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "HOME"}) {
        const QString variable = QLatin1String(name);
        const QString value = qstrcmp(name, "HOME") == 0 ? QDir::homePath() : XdgBaseFolder(name);
        out.replace(QStringLiteral("${") + variable + QLatin1Char('}'), value);
        // $NAME only where no letter, digit or "_" follows (so $HOMEPATH stays).
        const QString plain = QLatin1Char('$') + variable;
        for (qsizetype at = out.indexOf(plain); at >= 0; at = out.indexOf(plain, at)) {
            const qsizetype end = at + plain.size();
            const bool more =
                end < out.size() && (out[end].isLetterOrNumber() || out[end] == QLatin1Char('_'));
            if (more) {
                at = end;
                continue;
            }
            out.replace(at, plain.size(), value);
            at += value.size();
        }
    }
    return out;
}

QString WorkingFolderTemplate() {
    const QString given = qEnvironmentVariable("POINTRA_TEMPLATE");
    return given.isEmpty() ? QStringLiteral(POINTRA_TEMPLATE_DIR) : given;
}
