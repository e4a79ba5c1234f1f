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

#include "common/exchange_files.h"
#include "main/digitizer/takeoff_trace.h"
#include "main/digitizer/zoom.h"
#include "main/image/calibration.h"
#include "main/image/drawing_choice.h"
#include "main/image/pixels.h"

#include <QDialog>
#include <QImage>

#include <array>
#include <cstdint>
#include <vector>

class Form1;
class Form2;
class PictureBox;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;
class QScrollBar;
class QStatusBar;
struct ProgramState;

class Form3 : public QDialog {
    Q_OBJECT
public:
    explicit Form3(Form1& main);
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
    QMenu* E1; // "基準値"
    QAction* E11;
    QAction* E12;
    QAction* E13;
    QWidget* view;        // the part of the window the drawing is seen through
    PictureBox* Picture1; // the drawing at the current zoom
    QScrollBar* HScroll1;
    QScrollBar* VScroll1;
    QStatusBar* StatusBar1;
    std::array<QLabel*, 9> panels{}; // StatusBar1's panels 1 to 9
    QLineEdit* コメント;
    QPushButton* Command1;
    PictureBox* Picture2; // thumbnail canvas of the finish
    PictureBox* Picture3; // canvas of the rotations
    QImage Image1;        // the loaded picture, in one of the five pixel formats

    // The text of status panel i (1 to 9).
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
    PixelArray pixels;
    PixelArray rotatedPixels;
    int32_t imageWidth = 0;
    int32_t imageHeight = 0;
    int32_t rotWidth = 0;
    int32_t rotHeight = 0;

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
    // Not while a conversion runs.
    void reject() override;

public:
    // Runs a program to its end while the window keeps painting; meanwhile
    // nothing that would start another conversion or close the window can
    // be used.
    ProcessOutcome WaitForProcess(const QString& program, const QStringList& arguments,
                                  int timeLimitMs);
    // A conversion is under way.
    bool converting() const { return converting_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void applyScrollRanges();
    // An empty window: no drawing, nothing to take.
    void clearDrawing();
    // LoadDrawing of `path`: false (with the message) when it cannot be
    // loaded, and then the drawing shown, imagePath and the calibration in
    // force stay as they were.
    bool loadDrawing(const QString& path);
    // The drawing read becomes the one shown (Image1, pixels, sizes).
    void takeDrawing(DrawingPicture&& read, const QString& path, const FileStamp& stamp);
    // Steps 4-10 of LoadDrawing on the drawing taken: size, repaint, scroll
    // position, calibration.
    void showDrawing();
    void drawMarks(const PressMarks& marks);
    // The drawing with the marks of the take-off under way.
    void repaintWithMarks();
    void finish();
    // A drawing is shown; else the message asking for one.
    bool haveDrawing();
    void convertPdf(const QString& chosen);
    void zoom(ZoomCommand command);
    void rotate(QuarterTurn turn);
    // Where the file dialog opens: the current drawing's folder, else the image folder.
    QString dialogFolder() const;

    Form1& form1_;
    Form2& form2_;
    ProgramState& state_;
    QWidget* client_;               // the window's inner area (ScaleWidth x ScaleHeight)
    QImage shown_;                  // Image1 as painted (32-bit)
    QString shownPath_;             // the file Image1 was read from
    FileStamp shownStamp_;          // and how it was then
    std::vector<PressMarks> marks_; // what the take-off under way drew, in box units
    bool converting_ = false;
};
