#include "main/takeoff/tablet_source.h"

#include "common/core/tablet_records.h"
#include "common/serial/serial_line.h"
#include "main/takeoff/takeoff_session.h"

TabletSource::TabletSource(TakeoffSession& session, SerialLine& line, Model model, QObject* parent)
    : OutlineSource(session, parent), line_(line), model_(model) {}

void TabletSource::start() {
    if (const auto opened = line_.setPortOpen(true); !opened)
        emit said(opened.error());
    session_.lineOpened();
}

void TabletSource::stop() {
    if (line_.PortOpen())
        (void)line_.setPortOpen(false);
}

void TabletSource::resume() {
    if (!line_.PortOpen())
        start();
}

void TabletSource::takeLineReport() {
    ReceptionOutcome got;
    if (line_.CommEvent() == kComEvReceive) {
        const QByteArray r = line_.Input();
        got = session_.takeRecord(model_ == Model::MT4500 ? ParseMt4500Record(r)
                                                          : ParseT5160Record(r, scaleText_));
    } else {
        got = session_.takeLineEvent(line_.CommEvent(), line_.errorText());
    }
    // The device went away: said, the points taken so far stay.
    if (got.endOfOutline)
        (void)line_.setPortOpen(false);
    if (!got.message.isEmpty())
        emit said(got.message);
    emit received();
}
