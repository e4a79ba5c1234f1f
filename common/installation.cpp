#include "common/installation.h"

#include "common/refusals.h"
#include "common/registry.h"
#include "common/textcodec.h"

#include <QFileInfo>

namespace {

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
    // Looked at without its "/": a file named with one would only be missing.
    const QFileInfo folder(inst.size() > 1 && inst.endsWith(QLatin1Char('/')) ? inst.chopped(1)
                                                                              : inst);
    if (!inst.endsWith(QLatin1Char('/')))
        inst += QLatin1Char('/');
    if (!folder.isDir()) {
        check.problem =
            QStringLiteral(
                "インストールフォルダ「%1」が%2（レジストリファイル（%3）の \"InstPath\"）。")
                .arg(Brief(inst, 200),
                     folder.exists() ? QStringLiteral("フォルダではありません")
                                     : QStringLiteral("ありません"),
                     registryPath);
        return check;
    }
    check.instPath = inst;
    return check;
}
