// The digitizer's calibration: the drawing's calibration file taken, kept
// and written (another session's never used nor replaced without the user's
// word), the drawing's files watched for what other sessions write, and the
// origin and scale commands of the 基準値 menu.

#include "common/core/numtext.h"
#include "common/core/textcodec.h"
#include "common/ui/message.h"
#include "common/ui/picturebox.h"
#include "main/takeoff/takeoff_session.h"
#include "main/window/form2.h"
#include "main/window/form3.h"

#include <QApplication>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QTimer>

void Form3::takeCalibrationFile() {
    const CalibrationFileState file = ReadCalibrationState(
        CalibrationFilePath(drawing_.imagePath), TextCodec::fromRegistry(), form2_.texts());
    calibration_.know(drawing_.imagePath, file);
    // A calibration outside what a drawing can mean (a coefficient that is
    // no positive number, one of 1e308 m a pixel) is none: its values are
    // not taken, the drawing asks for its scale.
    const bool outOfRange = file.read.ok && !CheckCalibration(file.texts);
    if (!outOfRange)
        form2_.setTexts(file.texts);
    useCalibration(form2_.texts(), file.read.ok && !outOfRange);
}

void Form3::useCalibration(const CalibrationTexts& texts, bool calibrated) {
    if (!calibrated || !CheckCalibration(texts)) {
        scaleIsSet = 0;
        showStatus();
        MsgBox(this, QStringLiteral("画像のスケールを設定をして下さい\r\n基準値--->スケール"));
        return;
    }
    metresPerUnitX = float(Val(texts.X(CalRow::Coefficient)) / zoomFactor);
    metresPerUnitY = float(Val(texts.Y(CalRow::Coefficient)) / zoomFactor);
    trace.lastX = trace.lastY = TakeoffTrace::kIdle;
    scaleIsSet = 1;
    showStatus();
}

bool Form3::offerOthersCalibration() {
    const std::optional<CalibrationFileState> theirs =
        calibration_.changed(TextCodec::fromRegistry());
    if (!theirs)
        return false;
    const int points = trace.underway() ? int(trace.points().size()) : 0;
    if (!MsgBoxYesNo(
            this, CalibrationChangedQuestion(drawing_.imagePath, !theirs->stamp.exists, points))) {
        calibration_.keepOwn(*theirs, calibration_.inForce());
        return false;
    }
    // The points so far were measured with the old calibration.
    if (trace.underway())
        discardTakeoff();
    takeCalibrationFile();
    return true;
}

bool Form3::saveCalibration() {
    const TextCodec codec = TextCodec::fromRegistry();
    const QString inf = CalibrationFilePath(drawing_.imagePath);
    if (!calibration_.knows(drawing_.imagePath))
        calibration_.know(drawing_.imagePath, ReadCalibrationState(inf, codec, form2_.texts()));
    // Changed again between the question and the lock: asked again.
    for (;;) {
        const std::optional<CalibrationFileState> theirs = calibration_.othersFile(codec);
        if (theirs && !MsgBoxYesNo(this, ReplaceCalibrationQuestion(drawing_.imagePath))) {
            calibration_.keepOwn(*theirs, form2_.texts());
            return false;
        }
        // The file the user agreed to replace, else the one known (just
        // looked at).
        const FileStamp expected = theirs ? theirs->stamp : calibration_.knownStamp();
        QString error;
        switch (calibration_.write(form2_.texts(), expected, codec, &error)) {
        case CalibrationWatch::Write::Written:
            return true;
        case CalibrationWatch::Write::Changed:
            continue;
        case CalibrationWatch::Write::Locked:
            MsgBox(this, QStringLiteral("基準値を保存できませんでした。\r\n") + error);
            return false;
        case CalibrationWatch::Write::Failed:
            MsgBox(this, error);
            return false;
        }
    }
}

void Form3::watchDrawingFiles() {
    QStringList wanted;
    if (!Image1.isNull() && !drawing_.imagePath.isEmpty()) {
        wanted << QFileInfo(drawing_.imagePath).absolutePath();
        for (const QString& f :
             {TakenOutlinesPath(drawing_.imagePath), CalibrationFilePath(drawing_.imagePath)})
            if (QFileInfo(f).isFile())
                wanted << f;
    }
    const QStringList watched = watcher_->files() + watcher_->directories();
    for (const QString& p : watched)
        if (!wanted.contains(p))
            watcher_->removePath(p);
    for (const QString& p : wanted)
        if (!watched.contains(p))
            watcher_->addPath(p);
}

void Form3::checkSharedFiles() {
    if (Image1.isNull() || busy_ || checking_ || !isVisible())
        return;
    // Not under a dialog of this window (a question, the file dialog), nor
    // while the calibration dialog shows the values: once it is closed.
    const QWidget* modal = QApplication::activeModalWidget();
    if ((modal && modal != this && isAncestorOf(modal)) || form2_.isVisible()) {
        recheck_->start();
        return;
    }
    checking_ = true;
    if (!(StampFile(TakenOutlinesPath(drawing_.imagePath)) == takenStamp_))
        readTakenOutlines(false);
    offerOthersCalibration();
    // A file replaced is a new file to watch; one made since, too.
    watchDrawingFiles();
    checking_ = false;
}

bool Form3::event(QEvent* event) {
    // A watcher may miss a change made on another machine: the files are
    // looked at whenever the window gets the focus.
    if (event->type() == QEvent::WindowActivate)
        QTimer::singleShot(0, this, &Form3::checkSharedFiles);
    return QDialog::event(event);
}

void Form3::E11_Click() {
    setOriginAtPress();
}

void Form3::setOriginAtPress() {
    if (!haveDrawing())
        return;
    // 1.
    Picture1->Circle(float(Val(form2_.down座標x->text())), float(Val(form2_.down座標y->text())), 2,
                     kQBColor12);
    // 2.-3.
    if (MsgBoxOkCancel(this, kOriginQuestion)) {
        form2_.setTexts(OriginFromPress(form2_.texts(), zoomFactor));
        session_.releasePoints();
        saveCalibration();
    }
    // 4.
    LoadDrawing();
}

void Form3::E12_Click() {
    setScaleFromDrag();
}

void Form3::setScaleFromDrag() {
    if (!haveDrawing())
        return;
    // A drag without a width or a height gives no scale: refused before
    // anything changes.
    const CalibrationTexts before = form2_.texts();
    if (const auto checked = CheckScaleDrag(before); !checked) {
        MsgBox(this, checked.error());
        return;
    }
    // 1. The drag and its two sides.
    const float dx = float(Val(before.X(CalRow::MouseDown)));
    const float dy = float(Val(before.Y(CalRow::MouseDown)));
    const float ux = float(Val(before.X(CalRow::MouseUp)));
    const float uy = float(Val(before.Y(CalRow::MouseUp)));
    Picture1->Line(dx, dy, ux, uy, kQBColor12);
    Picture1->Line(dx, dy, ux, dy, kQBColor11);
    Picture1->Line(ux, dy, ux, uy, kQBColor11);
    // 4. A cancelled or empty answer abandons the scale: nothing changes.
    std::optional<QString> answerX = InputBox(this, ScalePromptX(), kScaleTitleX);
    std::optional<QString> answerY;
    if (answerX && !answerX->trimmed().isEmpty())
        answerY = InputBox(this, ScalePromptY(), kScaleTitleY);
    if (!answerY || answerY->trimmed().isEmpty()) {
        repaintWithMarks();
        if ((answerX && answerX->trimmed().isEmpty()) || (answerY && answerY->trimmed().isEmpty()))
            MsgBox(this, QStringLiteral("寸法が入力されていないため、スケールは変更されません"));
        return;
    }
    // 2.-9. Lengths that make a coefficient out of range change nothing.
    const ScaleOutcome scale = ScaleFromDrag(before, *answerX, *answerY, zoomFactor);
    if (scale.refusal) {
        repaintWithMarks();
        MsgBox(this, *scale.refusal);
        return;
    }
    // Axes that pass the check but disagree by more than a scan stretches:
    // asked first; declined, nothing of the scale is taken.
    if (scale.question && !MsgBoxYesNo(this, *scale.question)) {
        repaintWithMarks();
        return;
    }
    form2_.setTexts(scale.texts);
    MsgBox(this, scale.message);
    // 11. The calibration in force stays.
    if (!scale.accepted)
        return;
    // 10.
    scaleIsSet = 1;
    session_.releasePoints();
    saveCalibration();
    LoadDrawing();
}

void Form3::E13_Click() {
    form2_.exec();
}
