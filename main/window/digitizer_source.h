#pragma once
// The on-screen digitizer as an input road: the picture button opens the
// digitizer window (Form3) on the take-off session; its calibration dialog
// (Form2) is kept from one digitizer window to the next.

#include "main/takeoff/outline_source.h"

class Form2;

class DigitizerSource : public OutlineSource {
    Q_OBJECT
public:
    explicit DigitizerSource(TakeoffSession& session, QObject* parent = nullptr);

    // Opens the digitizer on `window` and waits until it is closed.
    void takeOutline(QWidget* window) override;
    bool replacesFinishedOutline() const override { return true; }

    // The calibration dialog, created hidden on first use as a child of
    // `window`, kept as long as it.
    Form2& form2(QWidget* window);

private:
    Form2* form2_ = nullptr;
};
