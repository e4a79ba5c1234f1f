// VarpadLumo: the main program of the take-off front end.
#include "common/core/command_line.h"
#include "common/ui/message.h"
#include "main/window/form1.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <optional>

namespace {

const ProgramText kProgram{
    QStringLiteral("VarpadLumo"),
    QStringLiteral(
        "積算の拾い出し: タブレット・画面上の図面・テンキーで室の外形を取り、積算表の行にします。"),
    QStringLiteral("インストールフォルダはレジストリファイル（$POINTRA_REGISTRY、\n"
                   "~/.config/pointra/registry.reg、/etc/pointra/registry.reg の順に探します）の\n"
                   "InstPath です。\n"
                   "\n"
                   "終了状態:\n"
                   "  0   ウィンドウを閉じて終了しました\n"
                   "  1   レジストリファイルかインストールフォルダの問題で起動できませんでした\n"
                   "  64  コマンドラインの誤り\n"
                   "  69  画面（ディスプレイ）に接続できません\n")};

} // namespace

int main(int argc, char** argv) {
    if (const std::optional<int> status = StartProgram(argc, argv, kProgram))
        return *status;
    std::optional<DisplayConnectGuard> guard(std::in_place, kProgram.name);
    QApplication app(argc, argv);
    guard.reset();
    QApplication::setApplicationName(QStringLiteral("VarpadLumo"));
    SetMessageTitle(QStringLiteral("VarpadLumo"));
    // Japanese texts on the standard buttons of message boxes and dialogs,
    // where Qt's translations are installed.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Japanese), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);
    Form1 form;
    if (!form.Form_Load())
        return 1;
    form.show();
    form.offerRecovery();
    return app.exec();
}
