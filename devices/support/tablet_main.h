#pragma once
// The main() of a tablet program (T5160, MT4500): the command line, the
// display guard, the application named after the program, messages to the
// log file when one is named, then its window until the program ends itself.

#include "common/core/command_line.h"
#include "common/ui/message.h"
#include "devices/support/device_support.h"

#include <QApplication>

#include <optional>

namespace devices {

template <class Form> int RunTabletProgram(int argc, char** argv, const ProgramText& program) {
    if (const std::optional<int> status = StartProgram(argc, argv, program))
        return *status;
    std::optional<DisplayConnectGuard> guard(std::in_place, program.name);
    QApplication app(argc, argv);
    guard.reset();
    QApplication::setApplicationName(program.name);
    SetMessageTitle(program.name);
    InstallMessageLogFromEnvironment();

    Form form;
    QObject::connect(&form, &Form::programEnded, &app, &QCoreApplication::exit,
                     Qt::QueuedConnection);
    if (!form.Form_Load())
        return 1;
    form.show();
    return app.exec();
}

} // namespace devices
