// MT4500: one outline from the MT4500 tablet into the installation folder.
//
// With POINTRA_MESSAGE_LOG naming a file, the messages go to that file instead
// of dialogs (see devices::InstallMessageLogFromEnvironment), for tests and
// unattended runs, e.g. under QT_QPA_PLATFORM=offscreen.
#include "common/message.h"
#include "devices/mt4500/form1.h"
#include "devices/support/device_support.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
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
