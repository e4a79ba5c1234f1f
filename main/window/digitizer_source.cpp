#include "main/window/digitizer_source.h"

#include "main/window/form2.h"
#include "main/window/form3.h"

DigitizerSource::DigitizerSource(TakeoffSession& session, QObject* parent)
    : OutlineSource(session, parent) {}

Form2& DigitizerSource::form2(QWidget* window) {
    if (!form2_) {
        form2_ = new Form2(window);
        form2_->hide();
    }
    return *form2_;
}

void DigitizerSource::takeOutline(QWidget* window) {
    Form3 digitizer(session_, form2(window), window);
    digitizer.Form_Load();
    digitizer.exec();
}
