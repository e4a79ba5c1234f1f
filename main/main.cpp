// VarpadLumo: the main program of the take-off front end.
#include "common/message.h"
#include "main/window/form1.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VarpadLumo"));
    SetMessageTitle(QStringLiteral("VarpadLumo"));
    Form1 form;
    if (!form.Form_Load())
        return 1;
    form.show();
    return app.exec();
}
