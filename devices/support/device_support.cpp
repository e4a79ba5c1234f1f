#include "devices/support/device_support.h"

#include "common/core/exchange_files.h"
#include "common/core/installation.h"
#include "common/core/refusals.h"
#include "common/core/textcodec.h"
#include "common/serial/serial_line.h"
#include "common/ui/message.h"
#include "common/ui/picturebox.h"

#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QWidget>

#include <cstdio>

namespace devices {

namespace {

// A message on one line: its line breaks as blanks.
QString OneLine(const QString& text) {
    QString line = text;
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return line;
}

} // namespace

void InstallMessagesOnStandardError() {
    SetMessageHook([](const QString& text) {
        std::fprintf(stderr, "%s: %s\n", MessageTitle().toLocal8Bit().constData(),
                     OneLine(text).toLocal8Bit().constData());
        return MsgAnswer::Yes;
    });
}

bool InstallMessageLogFromEnvironment() {
    const QString path = qEnvironmentVariable(kMessageLogVariable);
    if (path.isEmpty())
        return false;
    SetMessageHook([path](const QString& text) {
        const QString line = OneLine(text);
        QFile f(path);
        if (f.open(QIODevice::WriteOnly | QIODevice::Append)) {
            f.write(line.toUtf8() + '\n');
            f.close();
        } else {
            // The message must not vanish: the console is the last place left.
            std::fprintf(stderr, "%s\n", line.toUtf8().constData());
        }
        return MsgAnswer::Yes;
    });
    return true;
}

QString ReadInstallationFolder(QWidget* parent) {
    const InstallationCheck installation = CheckInstallation();
    if (!installation.problem.isEmpty())
        MsgBox(parent, installation.problem + QStringLiteral("\n起動できないため終了します。"));
    return installation.instPath;
}

bool ReadRoomName(QWidget* parent, const QString& path, const TextCodec& codec, QString* name) {
    const Result<QString> room = ReadRoomNameFile(path, codec);
    if (!room) {
        MsgBox(parent, room.error() + QStringLiteral("作業部位名が読めないため終了します。"));
        return false;
    }
    *name = *room;
    return true;
}

bool ReadStart(QWidget* parent, const TextCodec& codec, QString* instPath, QString* roomName) {
    *instPath = ReadInstallationFolder(parent);
    if (instPath->isEmpty())
        return false;
    return ReadRoomName(parent, RoomNameFilePath(*instPath), codec, roomName);
}

QPlainTextEdit* PlaceLogBox(QWidget* parent, const QRect& where) {
    auto* box = Place(new QPlainTextEdit(parent), "Text1", where);
    box->setLineWrapMode(QPlainTextEdit::NoWrap);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    return box;
}

bool SaveSketch(QWidget* parent, const PictureBox& picture, const QString& path) {
    const Result<> saved = picture.SavePicture(path);
    if (saved)
        return true;
    MsgBox(parent,
           QStringLiteral("%1 を保存できません（%2）。")
               .arg(QFileInfo(path).fileName(), saved.error().isEmpty() ? path : saved.error()));
    return false;
}

QString TabletProgramHelp() {
    return QStringLiteral(
        "インストールフォルダはレジストリファイル（$POINTRA_REGISTRY、\n"
        "~/.config/pointra/registry.reg、/etc/pointra/registry.reg の順に探します）の\n"
        "InstPath です。シリアルポートを開くには dialout グループに入っている必要があります。\n"
        "POINTRA_MESSAGE_LOG=ファイル のときは、メッセージを画面ではなくそのファイルに書きます。\n"
        "\n"
        "終了状態:\n"
        "  0   外形図を保存したか、利用者が終了しました\n"
        "  1   知らせた失敗（レジストリファイル、室名、縮尺ファイル、ポート、座標.txt、外形図）\n"
        "  2   外形の終わりの前にタブレットとの接続が切れました（座標.txt は取った点まで）\n"
        "  64  コマンドラインの誤り\n"
        "  69  画面（ディスプレイ）に接続できません\n");
}

} // namespace devices
