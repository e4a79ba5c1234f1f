#pragma once
// The serial tablets as input roads: each record a line reports joins the
// take-off session; an end record closes the line until the outline's row is
// written or given up.

#include "main/takeoff/outline_source.h"

class SerialLine;

class TabletSource : public OutlineSource {
    Q_OBJECT
public:
    enum class Model { MT4500, T5160 };
    // Records come from `line`, framed and parsed as `model` sends them.
    TabletSource(TakeoffSession& session, SerialLine& line, Model model, QObject* parent = nullptr);

    // The T5160's scale ("1/" and this text): its records are in drawing
    // millimetres at this scale.
    void setScaleText(const QString& text) { scaleText_ = text; }

    void start() override;
    void stop() override;
    void resume() override;

public slots:
    // The line reported a record or an event.
    void takeLineReport();

private:
    SerialLine& line_;
    Model model_;
    QString scaleText_;
};
