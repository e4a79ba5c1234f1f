// MT4500: one outline from the MT4500 tablet into the installation folder.
//
// With POINTRA_MESSAGE_LOG naming a file, the messages go to that file instead
// of dialogs (see devices::InstallMessageLogFromEnvironment), for tests and
// unattended runs, e.g. under QT_QPA_PLATFORM=offscreen.
#include "devices/mt4500/form1.h"
#include "devices/support/device_support.h"
#include "devices/support/tablet_main.h"

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
    return devices::RunTabletProgram<mt4500::Form1>(argc, argv, kProgram);
}
