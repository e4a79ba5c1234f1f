// MT4500: one outline from the MT4500 tablet into the installation folder.
//
// With POINTRA_MESSAGE_LOG naming a file, the messages go to that file instead
// of dialogs (see devices::InstallMessageLogFromEnvironment), for tests and
// unattended runs, e.g. under QT_QPA_PLATFORM=offscreen.
#include "common/core/command_line.h"
#include "common/ui/message.h"
#include "devices/mt4500/form1.h"
#include "devices/support/device_support.h"

#include <QApplication>

#include <optional>

namespace {

const ProgramText kProgram{
    QStringLiteral("MT4500"),
    QStringLiteral("MT4500 タブレットから外形を一つ取り、インストールフォルダの 座標.txt と "
                   "curGazo.bmp に残します。"),
    QStringLiteral(
        "roomName.txt の室名で取り、シリアル回線はレジストリの ...\\Pointra\\MT4500\\MSComm1 "
        "です。\n") +
        devices::TabletProgramHelp()};

} // namespace

int main(int argc, char** argv) {
    if (const std::optional<int> status = StartProgram(argc, argv, kProgram))
        return *status;
    std::optional<DisplayConnectGuard> guard(std::in_place, kProgram.name);
    QApplication app(argc, argv);
    guard.reset();
    QApplication::setApplicationName(QStringLiteral("MT4500"));
    SetMessageTitle(QStringLiteral("MT4500"));
    devices::InstallMessageLogFromEnvironment();

    mt4500::Form1 form;
    QObject::connect(&form, &mt4500::Form1::programEnded, &app, &QCoreApplication::exit,
                     Qt::QueuedConnection);
    if (!form.Form_Load())
        return 1;
    form.show();
    return app.exec();
}
