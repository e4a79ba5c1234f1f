// Numora: the sketch of the outline keyed in through the size-input module.
// The run ends with Form_Load; the window is never shown.
//
// With POINTRA_MESSAGE_LOG naming a file, the messages go to that file instead
// of dialogs (see devices::InstallMessageLogFromEnvironment), for tests and
// unattended runs, e.g. under QT_QPA_PLATFORM=offscreen.
#include "common/message.h"
#include "devices/numora/form1.h"
#include "devices/support/device_support.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Numora"));
    SetMessageTitle(QStringLiteral("Numora"));
    devices::InstallMessageLogFromEnvironment();

    numora::Form1 form;
    return form.Form_Load() ? 0 : 1;
}
