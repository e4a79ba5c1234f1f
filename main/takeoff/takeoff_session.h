#pragma once
// The take-off behind every input road: the outline being taken (its store),
// the take-off name with its serial and row numbers, the log of what was
// received, the outline finished on screen until "実行" writes its row, and
// what the digitizer keeps between its windows. The tablets, the keypad and
// the on-screen digitizer all change it through the methods below; the main
// window shows what its signals report.

#include "common/core/outline_store.h"
#include "common/core/reception.h"
#include "common/core/sketch_geometry.h"
#include "main/digitizer/takeoff_trace.h"
#include "main/image/calibration.h"
#include "main/image/taken_outlines.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>

class Worksheet;

// What the digitizer keeps from one of its windows to the next.
struct DrawingMemory {
    QString imagePath; // the drawing image
    QString statePath; // instPath & "curPass.txt" once the digitizer was loaded
    // The drawing's calibration file as this session knows it: it outlives
    // each digitizer, so a calibration the user kept over another session's
    // stays kept.
    CalibrationWatch calibration;
};

// What "実行" did: the row written, or why not.
struct RowOutcome {
    bool written = false;
    QString refusal; // nothing written: why
    QString warning; // written, but its outline could not be kept with its drawing
};

class TakeoffSession : public QObject {
    Q_OBJECT
public:
    // The rows go to `sheet`, which outlives the session.
    explicit TakeoffSession(Worksheet& sheet, QObject* parent = nullptr);
    ~TakeoffSession() override;

    // The installation the session works in: its folder (ends with "/") and
    // the Ghostscript program (empty when none was found).
    void setInstallation(const QString& instPath, const QString& ghostscript);
    const QString& instPath() const { return instPath_; }
    const QString& GsDllPath() const { return GsDllPath_; }

    // The rows' labels: the take-off name, the serial number as typed and as
    // a number, and whether rows are numbered ("連番").
    const QString& takeoffName() const { return takeoffName_; }
    // A new name numbers from 1 again.
    void setTakeoffName(const QString& name);
    int16_t serialNo() const { return serialNo_; }
    void setSerialNo(int16_t serialNo) { serialNo_ = serialNo; }
    // The number as typed: the serial number is its rounded value.
    void setSerialText(const QString& text);
    void setNumbered(bool numbered) { numbered_ = numbered; }
    bool numbered() const { return numbered_; }
    // The sketch's name of the outline ("居間-2", or the name alone).
    QString sketchName() const;
    // The digitizer's comment: the name and the number as typed.
    QString commentText() const;

    // The worksheet row the next "実行" writes (at least 2, below the headings).
    int16_t rowNo() const { return rowNo_; }
    void setRowNo(int16_t rowNo) { rowNo_ = rowNo; }

    // The outline being taken, as "実行" will read it.
    const OutlineStore& outline() const { return outline_; }

    // The received-points log exactly as taken (lines ended by CR LF).
    const QString& receivedText() const { return receivedText_; }

    // The sketch is drawn in a box of this inner height (its positions are
    // left in the outline's millimetre rows).
    void setSketchHeight(double height) { sketchHeight_ = height; }

    // --- The tablets
    // One record of a tablet; an end record finishes the outline and its
    // sketch (sketchReady).
    ReceptionOutcome takeRecord(const Result<TabletPoint>& parsed);
    // What the line reported besides a record (dropped bytes, a lost device).
    ReceptionOutcome takeLineEvent(int commEvent, const QString& errorText);
    // A tablet's line was opened: refusals may be told again; those only
    // counted so far stay counted in the log.
    void lineOpened();

    // --- The keypad
    // The outline read from the coordinates file replaces whatever the store
    // held; its points are logged and its sketch drawn (sketchReady).
    void replaceOutline(const OutlineStore& taken, const QString& logText);

    // --- The on-screen digitizer
    // A press on the drawing (see TakeoffTrace::press); a point taken is logged.
    PressOutcome press(TakeoffTrace& trace, int button, float x, float y, const QString& xText,
                       const QString& yText, float metresPerUnitX, float metresPerUnitY);
    // The last point taken back, with its log line; false when none is held.
    bool takeBack(TakeoffTrace& trace);
    // The take-off under way is given up: its points and its log lines.
    void discard(TakeoffTrace& trace);
    // "中ボタン": the outline ends at the last press (its texts), without a
    // point; every point stored counts.
    void endWithoutPoint(const QString& xText, const QString& yText);
    // The outline on screen is finished: no record may join it before
    // "実行", which keeps it with its drawing; its thumbnail is at thumbPath.
    void finishOnScreen(const TakenOutline& taken, const QString& thumbPath);
    // A new calibration: the points taken with the old one are no longer held.
    void releasePoints() { outline_.releaseRows(); }
    // The outline as far as it is taken, as "実行" would read it.
    OutlineStore outlineSoFar() const;
    // What the digitizer keeps between its windows, and the outlines
    // finished on screen whose drawing's file could not take them yet.
    DrawingMemory& drawing() { return drawing_; }
    OnScreenOutlines& onScreen() { return onScreen_; }

    // --- The worksheet
    // "キャンセル": the outline, its log and its refusals are given up.
    void cancel();
    // "実行": the finished outline's row at rowNo (the label, lengths and
    // areas with the ceiling height as typed), then the next row and number.
    RowOutcome writeRow(const QString& ceilingHeightText);

    // Tests set up an outline straight in the store.
    friend OutlineStore& StoreOf(TakeoffSession& session);

signals:
    // The log had `text` appended (CR LF ended lines).
    void logAppended(const QString& text);
    // The log was replaced as a whole (emptied, or lines taken back).
    void logReset(const QString& text);
    // A received or keyed outline ended: its sketch is `geometry` (drawn
    // over an emptied box when `fresh`).
    void sketchReady(const SketchGeometry& geometry, bool fresh);
    // The digitizer finished an outline; its thumbnail is at `path`.
    void thumbnailReady(const QString& path);
    // "実行" wrote row `row`.
    void rowWritten(int row);

private:
    void appendLog(const QString& text);
    void takeBackLog(const QString& lines);
    void clearLog();
    // The outline received ended with its end record (the last row).
    void sketchReceived(bool fresh);

    Worksheet& sheet_;
    QString instPath_;
    QString GsDllPath_;
    QString takeoffName_;
    QString serialText_;
    bool numbered_ = true;
    int16_t serialNo_ = 1;
    int16_t rowNo_ = 2;
    OutlineStore outline_;
    Reception reception_;
    QString receivedText_;
    double sketchHeight_ = 0;
    OnScreenOutlines onScreen_;
    DrawingMemory drawing_;
};
