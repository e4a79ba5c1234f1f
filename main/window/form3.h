#pragma once
// Form3 ("Varpadizer"): the on-screen digitizer. It shows a scanned drawing,
// takes the points of an outline from the mouse into the main window's
// outline store, and at the finish hands a thumbnail of the figure back to
// the main window. Created anew for every take-off and shown modally by the
// main window's picture button in the "Varpad" mode.
//
// The drawing box Picture1 has the size of the drawing at the current zoom
// and paints the drawing at its own origin; the scroll bars move it inside
// the view. So a point of the drawing keeps its Picture1 coordinates at any
// scroll position, and the marks of a take-off stay on the drawing.
//
// Beyond its menus and buttons the drawing takes what estimators are used
// to: once pressed it has the keyboard focus, BackSpace or Ctrl+Z takes the
// last point back, Space held with the left button drags the view, the
// wheel scrolls (Shift+wheel sideways) and Ctrl+wheel zooms around the
// pointer. Outlines already written by "実行" are shown faintly over it.
//
// Other estimators may take off the same drawing at the same time, in a
// drawing folder they share. The outlines they add appear as they are
// written (the file is watched, and checked again whenever the window gets
// the focus, since a watcher may miss a change on a network file system);
// a calibration another session writes is never used nor overwritten
// without the user's word (CalibrationWatch, kept for the life of the main
// window).

#include "common/core/exchange_files.h"
#include "main/digitizer/takeoff_trace.h"
#include "main/digitizer/zoom.h"
#include "main/image/calibration.h"
#include "main/image/drawing_choice.h"
#include "main/image/pixels.h"
#include "main/image/taken_outlines.h"

#include <QDialog>
#include <QImage>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

class Form2;
class PictureBox;
class QAction;
class QFileSystemWatcher;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;
class QScrollBar;
class QStatusBar;
class QTimer;
class QKeyEvent;
class QWheelEvent;
class TakeoffSession;
struct DrawingMemory;

class Form3 : public QDialog {
    Q_OBJECT
public:
    // A take-off on `session`; the calibration in force is shown and kept in
    // `calibrationDialog`, which outlives this window.
    Form3(TakeoffSession& session, Form2& calibrationDialog, QWidget* parent = nullptr);
    ~Form3() override;

    // Controls, named as the window's layout names them.
    QMenuBar* menuBar;
    QMenu* A1; // "ファイル"
    QAction* A11;
    QAction* A12;
    QAction* A13;
    QMenu* D1; // "画像編集"
    QAction* D11;
    QAction* D12;
    QAction* D13;
    QAction* D14;
    QAction* D15;
    QAction* D16;
    QAction* D17;
    QAction* D18; // "拾い済みを隠す": the outlines already written are not shown
    QMenu* E1;    // "基準値"
    QAction* E11;
    QAction* E12;
    QAction* E13;
    QWidget* view;        // the part of the window the drawing is seen through
    PictureBox* Picture1; // the drawing at the current zoom
    QScrollBar* HScroll1;
    QScrollBar* VScroll1;
    QStatusBar* StatusBar1;
    // StatusBar1's panels 1 to 9, and 10: the running length of the outline.
    std::array<QLabel*, 10> panels{};
    QLabel* statusText; // what the window is doing or waits for
    QLineEdit* コメント;
    QPushButton* Command1;
    PictureBox* Picture2; // thumbnail canvas of the finish
    QImage Image1;        // the loaded picture, in one of the five pixel formats: its only copy

    // The text of status panel i (1 to 10).
    QString panelText(int i) const;

    // Form variables.
    float zoomFactor = 0;
    float metresPerUnitX = 0;
    float metresPerUnitY = 0;
    float savedTop = 0;
    float savedLeft = 0;
    TakeoffTrace trace; // lastX, lastY, segmentCount, sumX, sumY, minX, maxX, minY, maxY
    QString thumbPath;
    int16_t scaleIsSet = 0;
    int16_t colourDepth = 0;
    int32_t imageWidth = 0;
    int32_t imageHeight = 0;
    // The outlines written from this drawing, in drawing pixels.
    QList<TakenOutline> takenOutlines;

    // The drawing coordinates of a Picture1 position with the calibration in force.
    DrawingPoint toDrawing(float x, float y) const;

public slots:
    void Form_Load();
    void LoadDrawing();
    void Redraw();
    void HScroll1_Change();
    void VScroll1_Change();
    void Form_Resize();
    void Picture1_MouseDown(int button, int shift, float x, float y);
    void Picture1_MouseMove(int button, int shift, float x, float y);
    void Picture1_MouseUp(int button, int shift, float x, float y);
    void Command1_Click();
    void A11_Click();
    void A12_Click();
    void A13_Click();
    void D11_Click();
    void D12_Click();
    void D13_Click();
    void D14_Click();
    void D15_Click();
    void D16_Click();
    void D17_Click();
    void E11_Click();
    void E12_Click();
    void E13_Click();
    void D18_Click();
    // Not while a conversion or a turn runs; in the middle of a take-off
    // only when the user agrees to discard its points.
    void reject() override;

public:
    // Runs a program to its end while the window keeps painting, `status`
    // in the status bar; meanwhile nothing that would start another
    // conversion or close the window can be used.
    ProcessOutcome WaitForProcess(const QString& program, const QStringList& arguments,
                                  int timeLimitMs, const QString& status = QString());
    // A conversion or a turn is under way.
    bool converting() const { return busy_; }

    // Takes the last point of the take-off under way back (BackSpace or
    // Ctrl+Z on the drawing).
    void undoLastPoint();

    // Looks whether another session changed the drawing's files: its
    // outlines are read again when their file changed, and a calibration
    // written meanwhile is asked about. Called by the file watcher and when
    // the window gets the focus; put off while a dialog of the window is open.
    void checkSharedFiles();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void applyScrollRanges();
    // An empty window: no drawing, nothing to take.
    void clearDrawing();
    // LoadDrawing of `path`: false (with the message) when it cannot be
    // loaded, and then the drawing shown, imagePath and the calibration in
    // force stay as they were. The view goes to `view` (scroll values), else
    // to the position kept in savedLeft and savedTop.
    bool loadDrawing(const QString& path, std::optional<QPointF> view = std::nullopt);
    // The drawing read becomes the one shown (Image1, its half-size copy, sizes).
    void takeDrawing(DrawingPicture&& read, const QString& path, const FileStamp& stamp);
    // Steps 4-10 of LoadDrawing on the drawing taken: size, repaint, scroll
    // position (`view`, else the kept one), calibration, outlines taken off it.
    void showDrawing(std::optional<QPointF> view = std::nullopt);
    // The scroll values of the view now.
    QPointF currentView() const;
    void drawMarks(const PressMarks& marks);
    // The drawing with the marks of the take-off under way.
    void repaintWithMarks();
    void finish();
    // The take-off under way is given up: its points, sums and marks, and
    // its lines in the main window's log.
    void discardTakeoff();
    // A drawing is shown; else the message asking for one.
    bool haveDrawing();
    void convertPdf(const QString& chosen);
    // A zoom command; the drawing point at `anchor` (view coordinates, the
    // view's centre when not given) stays where it is seen. Silent: at a
    // limit nothing happens and nothing is said.
    void zoom(ZoomCommand command, std::optional<QPointF> anchor = std::nullopt,
              bool silent = false);
    // The zoom becomes `zoom`, the drawing point at `anchor` (the view's
    // centre when not given) staying where it is seen.
    void zoomTo(float zoom, std::optional<QPointF> anchor = std::nullopt);
    // The whole drawing in the view (key F), at its top-left corner.
    void fitDrawing();
    void rotate(QuarterTurn turn);
    void wheel(QWheelEvent* event);
    // Space held with the left button: the view follows the pointer.
    bool pan(QEvent* event);
    // The mouse pointer is over the drawing as the view shows it.
    bool pointerOverDrawing() const;
    // The drawing's keys: Return or Enter finishes as "中ボタン", + and -
    // zoom a step (quietly at the limits), F shows the whole drawing, the
    // arrows move the view a tenth of itself. True when the key was one of
    // them.
    bool drawingKey(QKeyEvent* key);
    // The status texts: the coordinates panels and the status text of a
    // drawing without a calibration, the running length of the take-off.
    void showStatus();
    // Where the file dialog opens: the current drawing's folder, else the image folder.
    QString dialogFolder() const;

    // The outlines taken off the drawing shown (its file's, and those whose
    // row was written but which the file could not take yet); a line that
    // cannot be read is said when `say`.
    void readTakenOutlines(bool say);
    // The drawing's calibration file becomes the calibration in force, and
    // the one known.
    void takeCalibrationFile();
    // The calibration in force from `texts` (none: the drawing asks for its scale).
    void useCalibration(const CalibrationTexts& texts, bool calibrated);
    // A calibration another session wrote, noticed: the user takes it (the
    // take-off under way is discarded, measured with the old one) or keeps
    // the own one. True when it was taken.
    bool offerOthersCalibration();
    // Writes the calibration in force to the drawing's file; another
    // session's calibration there is replaced only when the user agrees.
    // False when nothing was written (said).
    bool saveCalibration();
    // The folder of the drawing and its outline and calibration files are watched.
    void watchDrawingFiles();

    // The origin at the last press (基準値--->原点設定), when the user agrees.
    void setOriginAtPress();
    // The scale from the last drag and the lengths the user gives it (基準値--->スケール).
    void setScaleFromDrag();
    // A drawing chosen in the file dialog; a PDF's page converted first.
    void chooseDrawing();
    // While a conversion or a turn runs: every command off, the busy cursor
    // (over the drawing too) and the status text.
    class Busy;

    TakeoffSession& session_;
    Form2& form2_;
    DrawingMemory& drawing_;        // what the digitizer keeps between its windows
    QWidget* client_;               // the window's inner area (ScaleWidth x ScaleHeight)
    QWidget* takenView_;            // the outlines taken off the drawing, over Picture1
    QImage half_;                   // Image1 at half its size, for views below half
    QString shownPath_;             // the file Image1 was read from
    FileStamp shownStamp_;          // and how it was then
    std::vector<PressMarks> marks_; // what the take-off under way drew, in box units
    bool busy_ = false;
    QString busyText_;
    bool spaceHeld_ = false;
    std::optional<QPoint> panFrom_; // global pointer position where a pan started
    QPointF panView_;               // and the scroll values then
    int wheelZoomSteps_ = 0;        // wheel turn towards the next zoom step (1/8 degrees)
    CalibrationWatch& calibration_; // the drawing's calibration file as this session knows it
    QFileSystemWatcher* watcher_;
    QTimer* recheck_;       // a check put off while a dialog was open
    FileStamp takenStamp_;  // the outline file when it was read
    bool checking_ = false; // a check (and its question) under way
};
