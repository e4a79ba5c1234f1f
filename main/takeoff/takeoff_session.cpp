#include "main/takeoff/takeoff_session.h"

#include "common/core/numtext.h"
#include "common/core/point_log.h"
#include "common/core/textcodec.h"
#include "main/digitizer/view_state.h"
#include "main/takeoff/takeoff.h"
#include "main/takeoff/worksheet.h"

#include <algorithm>
#include <limits>

namespace {

int16_t ToInt16(double v) {
    v = std::clamp(v, double(std::numeric_limits<int16_t>::min()),
                   double(std::numeric_limits<int16_t>::max()));
    return static_cast<int16_t>(v);
}

} // namespace

TakeoffSession::TakeoffSession(Worksheet& sheet, QObject* parent)
    : QObject(parent), sheet_(sheet) {}

TakeoffSession::~TakeoffSession() = default;

void TakeoffSession::setInstallation(const QString& instPath, const QString& ghostscript) {
    instPath_ = instPath;
    GsDllPath_ = ghostscript;
}

void TakeoffSession::setTakeoffName(const QString& name) {
    takeoffName_ = name;
    serialNo_ = 1;
}

void TakeoffSession::setSerialText(const QString& text) {
    serialText_ = text;
    serialNo_ = ToInt16(RoundHalfEven(Val(text)));
}

QString TakeoffSession::sketchName() const {
    if (numbered_)
        return takeoffName_ + QLatin1Char('-') + QString::number(serialNo_);
    return takeoffName_;
}

QString TakeoffSession::commentText() const {
    return CommentText(takeoffName_, serialText_, numbered_);
}

void TakeoffSession::appendLog(const QString& text) {
    if (text.isEmpty())
        return;
    receivedText_ += text;
    emit logAppended(text);
}

void TakeoffSession::takeBackLog(const QString& lines) {
    // Nothing when the log does not end with them.
    if (lines.isEmpty() || !receivedText_.endsWith(lines))
        return;
    receivedText_.chop(lines.size());
    emit logReset(receivedText_);
}

void TakeoffSession::clearLog() {
    receivedText_.clear();
    emit logReset(receivedText_);
}

void TakeoffSession::sketchReceived(bool fresh) {
    const int n = std::max(outline_.pointCount() - 1, 0);
    outline_.finishWith(n);
    emit sketchReady(SketchOutline(outline_, n, sketchHeight_), fresh);
}

ReceptionOutcome TakeoffSession::takeRecord(const Result<TabletPoint>& parsed) {
    const ReceptionOutcome got = reception_.take(parsed, outline_);
    appendLog(got.logText);
    if (got.endOfOutline)
        sketchReceived(false);
    return got;
}

ReceptionOutcome TakeoffSession::takeLineEvent(int commEvent, const QString& errorText) {
    const ReceptionOutcome got = reception_.lineEvent(commEvent, errorText);
    appendLog(got.logText);
    return got;
}

void TakeoffSession::lineOpened() {
    appendLog(reception_.reset());
}

void TakeoffSession::replaceOutline(const OutlineStore& taken, const QString& logText) {
    appendLog(logText);
    outline_ = taken;
    reception_.reset();
    sketchReceived(true);
}

PressOutcome TakeoffSession::press(TakeoffTrace& trace, int button, float x, float y,
                                   const QString& xText, const QString& yText, float metresPerUnitX,
                                   float metresPerUnitY) {
    const PressOutcome out =
        trace.press(button, x, y, xText, yText, metresPerUnitX, metresPerUnitY, outline_);
    if (!out.refusal && !out.ignored)
        appendLog(out.logLine);
    return out;
}

bool TakeoffSession::takeBack(TakeoffTrace& trace) {
    const std::optional<QString> line = trace.undo(outline_);
    if (!line)
        return false;
    takeBackLog(*line);
    return true;
}

void TakeoffSession::discard(TakeoffTrace& trace) {
    takeBackLog(trace.logText());
    outline_.releaseRows();
    trace.reset();
}

void TakeoffSession::endWithoutPoint(const QString& xText, const QString& yText) {
    outline_.lastPointText = {PointFieldText(xText), PointFieldText(yText), QStringLiteral("4")};
    appendLog(PointLogLine(outline_.lastPointText[0], outline_.lastPointText[1],
                           outline_.lastPointText[2]));
    outline_.finishWith(outline_.pointCount());
}

void TakeoffSession::finishOnScreen(const TakenOutline& taken, const QString& thumbPath) {
    outline_.markFinished();
    onScreen_.finished(drawing_.imagePath, taken, outline_);
    emit thumbnailReady(thumbPath);
    outline_.releaseRows();
}

OutlineStore TakeoffSession::outlineSoFar() const {
    OutlineStore sofar = outline_;
    sofar.finishWith(sofar.pointCount());
    return sofar;
}

void TakeoffSession::cancel() {
    reception_.reset();
    clearLog();
    outline_.beginOutline();
}

RowOutcome TakeoffSession::writeRow(const QString& ceilingHeightText) {
    RowOutcome out;
    // Lengths need a finished outline: while points are still arriving the
    // end record has not come and there is nothing to compute yet.
    if (outline_.finishedCount() < 1) {
        out.refusal = QStringLiteral("図形が完了していません。\r\n"
                                     "終点まで入力してから「実行」を押して下さい");
        return out;
    }
    // rowNo and serialNo are 16-bit integers: the row after this one must be
    // one they reach, never a wrap-around.
    constexpr int16_t kLimit = std::numeric_limits<int16_t>::max();
    if (rowNo_ >= kLimit || rowNo_ > Worksheet::kLastRow) {
        out.refusal =
            QStringLiteral("ワークシートは %1 行目までです。これ以上の行は書けません。\r\n"
                           "ワークシートを保存して、新しいワークシートで続けて下さい")
                .arg(Worksheet::kLastRow);
        return out;
    }
    if (serialNo_ >= kLimit) {
        out.refusal =
            QStringLiteral("連番は %1 までです。\r\n"
                           "処理名称を変えるか、連番を小さくしてから「実行」を押して下さい")
                .arg(kLimit);
        return out;
    }
    const TakeoffRow row = ComputeTakeoffRow(outline_, ceilingHeightText);
    const int r = rowNo_;
    sheet_.Cells(r, 1) = takeoffName_ + QLatin1Char('-') + QString::number(serialNo_);
    for (int c = 2; c <= 7; ++c)
        sheet_.Cells(r, c) = row.cell(c);
    reception_.reset();
    clearLog();
    rowNo_ = static_cast<int16_t>(rowNo_ + 1);
    serialNo_ = static_cast<int16_t>(serialNo_ + 1);
    out.written = true;
    // An outline taken on screen stays on its drawing as done.
    if (const auto why = onScreen_.rowWritten(outline_, TextCodec::fromRegistry()))
        out.warning = *why;
    outline_.beginOutline();
    emit rowWritten(r);
    return out;
}
