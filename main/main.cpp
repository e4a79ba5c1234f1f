// VarpadLumo: the main program of the take-off front end.
#include "common/message.h"
#include "main/window/form1.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
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
