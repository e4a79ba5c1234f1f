// T5160: one outline from the T5160-25 tablet into the installation folder.
//
// With POINTRA_MESSAGE_LOG naming a file, the messages go to that file instead
// of dialogs (see devices::InstallMessageLogFromEnvironment), for tests and
// unattended runs, e.g. under QT_QPA_PLATFORM=offscreen.
#include "common/message.h"
#include "devices/support/device_support.h"
#include "devices/t5160/form1.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("T5160"));
    SetMessageTitle(QStringLiteral("T5160"));
    devices::InstallMessageLogFromEnvironment();

    t5160::Form1 form;
    QObject::connect(&form, &t5160::Form1::programEnded, &app, &QCoreApplication::exit,
                     Qt::QueuedConnection);
    if (!form.Form_Load())
        return 1;
    form.show();
    return app.exec();
}
