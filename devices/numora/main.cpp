// Numora: the sketch of the outline keyed in through the size-input module.
// The run ends with Form_Load; the window is never shown, so Numora needs no
// display: it runs on Qt's offscreen platform unless another is named.
//
// Its messages go to standard error, or with POINTRA_MESSAGE_LOG naming a
// file to that file (see devices::InstallMessageLogFromEnvironment).
#include "common/core/command_line.h"
#include "common/ui/message.h"
#include "devices/numora/form1.h"
#include "devices/support/device_support.h"

#include <QApplication>

#include <optional>

namespace {

const ProgramText kProgram{
    QStringLiteral("Numora"),
    QStringLiteral("寸法入力モジュールが残した 座標.txt の外形を描き、curGazo.bmp に保存します。"),
    QStringLiteral(
        "ウィンドウは開かず、画面（ディスプレイ）がなくても動きます。メッセージは標準エラー出力に\n"
        "書きます（POINTRA_MESSAGE_LOG=ファイル のときはそのファイルに）。\n"
        "インストールフォルダはレジストリファイル（$POINTRA_REGISTRY、\n"
        "~/.config/pointra/registry.reg、/etc/pointra/registry.reg の順に探します）の\n"
        "InstPath です。\n"
        "\n"
        "終了状態:\n"
        "  0   外形図を保存しました\n"
        "  1   知らせた失敗（レジストリファイル、室名、座標.txt、外形図）\n"
        "  64  コマンドラインの誤り\n")};

} // namespace

int main(int argc, char** argv) {
    if (const std::optional<int> status = StartProgram(argc, argv, kProgram, false))
        return *status;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(kProgram.name);
    SetMessageTitle(kProgram.name);
    if (!devices::InstallMessageLogFromEnvironment())
        devices::InstallMessagesOnStandardError();

    numora::Form1 form;
    return form.Form_Load() ? 0 : devices::kExitFailed;
}
