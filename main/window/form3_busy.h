#pragma once
// While a conversion or a turn runs in the digitizer: every command off, the
// busy cursor (over the drawing too) and the status text; all back as they
// were at the end. Nested uses leave it to the outermost.

#include "common/ui/picturebox.h"
#include "main/window/form3.h"

#include <QAction>
#include <QPushButton>

#include <vector>

class Form3::Busy {
public:
    Busy(Form3& form, const QString& status) : form_(form), outer_(!form.busy_) {
        if (!outer_)
            return;
        form_.busy_ = true;
        form_.busyText_ = status;
        for (QAction* a : {form.A11, form.A12, form.A13, form.D11, form.D12, form.D13, form.D14,
                           form.D15, form.D16, form.D17, form.D18, form.E11, form.E12, form.E13})
            if (a->isEnabled()) {
                a->setEnabled(false);
                enabled_.push_back(a);
            }
        form.Command1->setEnabled(false);
        form.Picture1->setEnabled(false);
        form.setCursor(Qt::BusyCursor);
        // The drawing's own cross would hide it.
        form.Picture1->setCursor(Qt::BusyCursor);
        form_.showStatus();
    }
    ~Busy() {
        if (!outer_)
            return;
        form_.unsetCursor();
        form_.Picture1->setCursor(Qt::CrossCursor);
        form_.Picture1->setEnabled(true);
        form_.Command1->setEnabled(true);
        for (QAction* a : enabled_)
            a->setEnabled(true);
        form_.busy_ = false;
        form_.busyText_.clear();
        form_.showStatus();
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    Form3& form_;
    bool outer_;
    std::vector<QAction*> enabled_;
};
