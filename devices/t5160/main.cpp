// T5160: one outline from the T5160-25 tablet into the installation folder.
//
// With POINTRA_MESSAGE_LOG naming a file, the messages go to that file instead
// of dialogs (see devices::InstallMessageLogFromEnvironment), for tests and
// unattended runs, e.g. under QT_QPA_PLATFORM=offscreen.
#include "devices/support/device_support.h"
#include "devices/support/tablet_main.h"
#include "devices/t5160/form1.h"

namespace {

const ProgramText kProgram{
    QStringLiteral("T5160"),
    QStringLiteral("T5160-25 タブレットから外形を一つ取り、インストールフォルダの 座標.txt と "
                   "curGazo.bmp に残します。"),
    QStringLiteral(
        "roomName.txt の室名、縮尺.txt "
        "の縮尺で取り、シリアル回線はレジストリの\n...\\Pointra\\T5160\\MSComm1 です。\n") +
        devices::TabletProgramHelp()};

} // namespace

int main(int argc, char** argv) {
    return devices::RunTabletProgram<t5160::Form1>(argc, argv, kProgram);
}
