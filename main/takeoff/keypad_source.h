#pragma once
// The keypad as an input road: the estimating program's size-input module
// runs in a terminal and writes the outline to 座標.txt, which then replaces
// the outline of the take-off session.

#include "main/takeoff/outline_source.h"

class KeypadSource : public OutlineSource {
    Q_OBJECT
public:
    explicit KeypadSource(TakeoffSession& session, QObject* parent = nullptr);

    // Runs the size-input module and waits for it; the outline it wrote is
    // read. Nothing is read when it could not run or wrote nothing (said).
    void takeOutline(QWidget* window) override;
    bool running() const override { return running_; }

    // Reads 座標.txt whole: an outline that cannot be taken leaves the
    // session's outline as it was (said).
    void readCoordFile();

private:
    bool running_ = false;
};
