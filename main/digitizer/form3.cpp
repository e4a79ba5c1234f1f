#include "main/digitizer/form3.h"

#include "common/atomic_file.h"
#include "common/exchange_files.h"
#include "common/message.h"
#include "common/numtext.h"
#include "common/picturebox.h"
#include "common/textcodec.h"
#include "common/uifont.h"
#include "main/digitizer/view_state.h"
#include "main/image/form2.h"
#include "main/window/form1.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

const QString kErrorTitle = QStringLiteral("エラー");
constexpr int kScrollBarSize = 20; // the scroll bars' width, pixels
constexpr int kBottomRow = 24;     // comment and button row below the scroll bar
constexpr QSize kDefaultClient(1000, 680);
constexpr QSize kMinClient(400, 260);
constexpr int kThumbnailSide = 400; // curGazo.bmp: the 6000 x 6000 twips of the sketches
// Ghostscript's time limits: a page count is quick; a big sheet at 200 dpi
// takes seconds, a drawing set's page rarely a minute.
constexpr int kPageCountLimitMs = 60 * 1000;
constexpr int kConversionLimitMs = 10 * 60 * 1000;

// The window frame's extra size over its inner size, as last seen: the
// view-state file keeps the outer size.
QSize& lastFrameExtra() {
    static QSize extra(0, 0);
    return extra;
}

} // namespace

Form3::Form3(Form1& main)
    : QDialog(&main), form1_(main), form2_(main.form2()), state_(main.state()) {
    buildControls();
}

Form3::~Form3() = default;

void Form3::buildControls() {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Varpadizer"));
    setModal(true);
    setFont(JapaneseUiFont(9));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    menuBar = new QMenuBar(this);
    menuBar->setObjectName(QStringLiteral("menuBar"));
    layout->setMenuBar(menuBar);
    auto item = [this](QMenu* menu, const char* name, const QString& caption) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    A1 = menuBar->addMenu(QStringLiteral("ファイル"));
    A1->setObjectName(QStringLiteral("A1"));
    A11 = item(A1, "A11", QStringLiteral("画像の選択"));
    A12 = item(A1, "A12", QStringLiteral("中断-->再開"));
    A13 = item(A1, "A13", QStringLiteral("終了"));
    D1 = menuBar->addMenu(QStringLiteral("画像編集"));
    D1->setObjectName(QStringLiteral("D1"));
    D11 = item(D1, "D11", QStringLiteral("元のスケール"));
    D12 = item(D1, "D12", QStringLiteral("拡大"));
    D13 = item(D1, "D13", QStringLiteral("拡大（２段階）"));
    D14 = item(D1, "D14", QStringLiteral("縮小"));
    D15 = item(D1, "D15", QStringLiteral("縮小（２段階）"));
    D16 = item(D1, "D16", QStringLiteral("右に回転"));
    D17 = item(D1, "D17", QStringLiteral("左に回転"));
    E1 = menuBar->addMenu(QStringLiteral("基準値"));
    E1->setObjectName(QStringLiteral("E1"));
    E11 = item(E1, "E11", QStringLiteral("原点設定"));
    E12 = item(E1, "E12", QStringLiteral("スケール"));
    E13 = item(E1, "E13", QStringLiteral("基準値表示"));

    client_ = new QWidget(this);
    client_->setObjectName(QStringLiteral("client"));
    client_->installEventFilter(this);
    layout->addWidget(client_, 1);

    view = new QWidget(client_);
    view->setObjectName(QStringLiteral("view"));
    view->setAutoFillBackground(true);
    QPalette pal = view->palette();
    pal.setColor(QPalette::Window, QColor(128, 128, 128));
    view->setPalette(pal);
    Picture1 = new PictureBox(view);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setScaleMode(PictureBox::ScaleMode::Pixels);
    Picture1->setGeometry(0, 0, 0, 0);
    Picture1->setCursor(Qt::CrossCursor);

    HScroll1 = new QScrollBar(Qt::Horizontal, client_);
    HScroll1->setObjectName(QStringLiteral("HScroll1"));
    VScroll1 = new QScrollBar(Qt::Vertical, client_);
    VScroll1->setObjectName(QStringLiteral("VScroll1"));
    for (QScrollBar* s : {HScroll1, VScroll1})
        s->setRange(0, 0);

    コメント = new QLineEdit(client_);
    コメント->setObjectName(QStringLiteral("コメント"));
    Command1 = new QPushButton(QStringLiteral("中ボタン"), client_);
    Command1->setObjectName(QStringLiteral("Command1"));

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    const char* fixed[9] = {"X軸",   nullptr,  nullptr, "Y軸",   nullptr,
                            nullptr, "軸係数", nullptr, "部屋名"};
    for (int i = 0; i < 9; ++i) {
        auto* l = new QLabel(fixed[i] ? QString::fromUtf8(fixed[i]) : QString(), StatusBar1);
        l->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
        l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        l->setMinimumWidth(fixed[i] ? 50 : 80);
        StatusBar1->addWidget(l, fixed[i] ? 0 : 1);
        panels[i] = l;
    }
    layout->addWidget(StatusBar1);

    // Canvases of the finish and of the rotations; never shown.
    Picture2 = new PictureBox(this);
    Picture2->setObjectName(QStringLiteral("Picture2"));
    Picture2->setScaleMode(PictureBox::ScaleMode::Pixels);
    Picture2->setGeometry(0, 0, kThumbnailSide, kThumbnailSide);
    Picture2->hide();
    Picture3 = new PictureBox(this);
    Picture3->setObjectName(QStringLiteral("Picture3"));
    Picture3->setScaleMode(PictureBox::ScaleMode::Pixels);
    Picture3->hide();

    connect(HScroll1, &QScrollBar::valueChanged, this, &Form3::HScroll1_Change);
    connect(VScroll1, &QScrollBar::valueChanged, this, &Form3::VScroll1_Change);
    connect(Picture1, &PictureBox::MouseDown, this, &Form3::Picture1_MouseDown);
    connect(Picture1, &PictureBox::MouseMove, this, &Form3::Picture1_MouseMove);
    connect(Picture1, &PictureBox::MouseUp, this, &Form3::Picture1_MouseUp);
    connect(Command1, &QPushButton::clicked, this, &Form3::Command1_Click);
    connect(A11, &QAction::triggered, this, &Form3::A11_Click);
    connect(A12, &QAction::triggered, this, &Form3::A12_Click);
    connect(A13, &QAction::triggered, this, &Form3::A13_Click);
    connect(D11, &QAction::triggered, this, &Form3::D11_Click);
    connect(D12, &QAction::triggered, this, &Form3::D12_Click);
    connect(D13, &QAction::triggered, this, &Form3::D13_Click);
    connect(D14, &QAction::triggered, this, &Form3::D14_Click);
    connect(D15, &QAction::triggered, this, &Form3::D15_Click);
    connect(D16, &QAction::triggered, this, &Form3::D16_Click);
    connect(D17, &QAction::triggered, this, &Form3::D17_Click);
    connect(E11, &QAction::triggered, this, &Form3::E11_Click);
    connect(E12, &QAction::triggered, this, &Form3::E12_Click);
    connect(E13, &QAction::triggered, this, &Form3::E13_Click);

    resize(kDefaultClient.width(), kDefaultClient.height() + menuBar->sizeHint().height() +
                                       StatusBar1->sizeHint().height());
}

QString Form3::panelText(int i) const {
    return panels[std::clamp(i, 1, 9) - 1]->text();
}

bool Form3::eventFilter(QObject* watched, QEvent* event) {
    if (watched == client_ && event->type() == QEvent::Resize)
        Form_Resize();
    return QDialog::eventFilter(watched, event);
}

DrawingPoint Form3::toDrawing(float x, float y) const {
    return PositionToDrawing(
        x, y, DrawingFrame::from(form2_.texts(), zoomFactor, metresPerUnitX, metresPerUnitY));
}

void Form3::Form_Load() {
    // 1.
    trace.reset();
    state_.statePath = state_.instPath + QStringLiteral("curPass.txt");
    // 2.
    コメント->setText(
        CommentText(form1_.Text2->text(), form1_.Text3->text(), form1_.Check1->isChecked()));
    // 3.-4. A missing file is handled like an empty one: no drawing yet.
    const ViewStateRead read = ReadViewState(state_.statePath, TextCodec::fromRegistry());
    if (read.empty || !read.state) {
        if (!read.error.isEmpty())
            MsgBox(this, read.error);
        MsgBox(this, QStringLiteral("画像ファイルを設定して下さい"));
        zoomFactor = 1;
        clearDrawing();
        return;
    }
    const ViewState& vs = *read.state;
    savedTop = vs.savedTop;
    savedLeft = vs.savedLeft;
    // The window's outer size, within what the screen can show.
    QSize outer(int(std::lround(vs.formWidth / 15.0)), int(std::lround(vs.formHeight / 15.0)));
    outer -= lastFrameExtra();
    QSize most(4096, 4096);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        most = screen->availableGeometry().size();
    const QSize least(kMinClient.width(), kMinClient.height() + menuBar->sizeHint().height() +
                                              StatusBar1->sizeHint().height());
    resize(outer.expandedTo(least).boundedTo(most.expandedTo(least)));
    zoomFactor = vs.zoomFactor;
    loadDrawing(vs.imagePath);
}

void Form3::clearDrawing() {
    Image1 = QImage();
    shown_ = QImage();
    shownPath_.clear();
    shownStamp_ = FileStamp();
    pixels.clear();
    imageWidth = imageHeight = 0;
    marks_.clear();
    Picture1->clearPicture();
    Picture1->Cls();
    Picture1->setGeometry(0, 0, 0, 0);
    scaleIsSet = 0;
    trace.lastX = trace.lastY = TakeoffTrace::kIdle;
    applyScrollRanges();
}

void Form3::LoadDrawing() {
    loadDrawing(state_.imagePath);
}

bool Form3::loadDrawing(const QString& path) {
    if (path.isEmpty()) {
        clearDrawing();
        MsgBox(this, QStringLiteral("ファイル未選択"));
        return false;
    }
    // 1.-3. Read whole before anything changes: a drawing that cannot be
    // loaded leaves the one shown, its path and its calibration as they
    // were. The drawing shown, unchanged on the disk, is not read again.
    const FileStamp stamp = StampFile(path);
    if (shown_.isNull() || path != shownPath_ || !(stamp == shownStamp_)) {
        DrawingPicture read = ReadDrawingPicture(path);
        if (!read.ok()) {
            // 11.
            MsgBox(this, read.error, kErrorTitle);
            return false;
        }
        takeDrawing(std::move(read), path, stamp);
    }
    state_.imagePath = path;
    showDrawing();
    return true;
}

void Form3::takeDrawing(DrawingPicture&& read, const QString& path, const FileStamp& stamp) {
    Image1 = std::move(read.picture);
    shown_ = std::move(read.shown);
    pixels = std::move(read.pixels);
    colourDepth = read.colourDepth;
    imageWidth = pixels.width();
    imageHeight = pixels.height();
    shownPath_ = path;
    shownStamp_ = stamp;
}

void Form3::showDrawing() {
    // The marks of a take-off go with the old picture.
    marks_.clear();
    // 4.
    Picture1->resize(int(std::lround(zoomFactor * imageWidth)),
                     int(std::lround(zoomFactor * imageHeight)));
    // 5.
    Redraw();
    // 6.-7. The bars' ranges follow the zoomed drawing; the saved position
    // comes back through them.
    applyScrollRanges();
    HScroll1->setValue(int(std::lround(-savedLeft)));
    VScroll1->setValue(int(std::lround(-savedTop)));
    HScroll1_Change();
    VScroll1_Change();
    // 9.-10. A calibration outside what a drawing can mean (a coefficient
    // that is no positive number, one of 1e308 m a pixel) is none: its
    // values are not taken, the drawing asks for its scale.
    CalibrationTexts texts = form2_.texts();
    const CalibrationRead read = ReadCalibrationFile(CalibrationFilePath(state_.imagePath),
                                                     TextCodec::fromRegistry(), texts);
    const bool outOfRange = read.ok && RefuseCalibration(texts);
    if (!outOfRange)
        form2_.setTexts(texts);
    if (!read.ok || outOfRange) {
        scaleIsSet = 0;
        MsgBox(this, QStringLiteral("画像のスケールを設定をして下さい\r\n基準値--->スケール"));
        return;
    }
    metresPerUnitX = float(Val(texts.X(CalRow::Coefficient)) / zoomFactor);
    metresPerUnitY = float(Val(texts.Y(CalRow::Coefficient)) / zoomFactor);
    trace.lastX = trace.lastY = TakeoffTrace::kIdle;
    scaleIsSet = 1;
}

void Form3::Redraw() {
    Picture1->clearPicture();
    Picture1->Cls();
    if (shown_.isNull())
        return;
    // At the box's own origin: the scroll bars move the box, not the picture.
    Picture1->PaintPicture(
        shown_, QRectF(0, 0, double(zoomFactor) * imageWidth, double(zoomFactor) * imageHeight),
        QRectF(0, 0, imageWidth, imageHeight));
}

void Form3::applyScrollRanges() {
    const ScrollRange h = ScrollRangeFor(Picture1->width(), view->width());
    const ScrollRange v = ScrollRangeFor(Picture1->height(), view->height());
    HScroll1->setRange(0, h.max);
    HScroll1->setPageStep(h.largeChange);
    HScroll1->setSingleStep(h.smallChange);
    VScroll1->setRange(0, v.max);
    VScroll1->setPageStep(v.largeChange);
    VScroll1->setSingleStep(v.smallChange);
}

void Form3::HScroll1_Change() {
    Picture1->move(-HScroll1->value(), Picture1->y());
}

void Form3::VScroll1_Change() {
    Picture1->move(Picture1->x(), -VScroll1->value());
}

void Form3::Form_Resize() {
    const int sw = client_->width();
    const int sh = client_->height();
    view->setGeometry(0, 0, std::max(0, sw - kScrollBarSize), std::max(0, sh - 44));
    HScroll1->setGeometry(0, sh - 44, std::max(0, sw - kScrollBarSize), kScrollBarSize);
    VScroll1->setGeometry(sw - kScrollBarSize, 0, kScrollBarSize, std::max(0, sh - 44));
    コメント->setGeometry(4, sh - kBottomRow + 1, 260, kBottomRow - 2);
    Command1->setGeometry(272, sh - kBottomRow + 1, 100, kBottomRow - 2);
    // What can be scrolled depends on what is seen.
    applyScrollRanges();
    HScroll1_Change();
    VScroll1_Change();
}

void Form3::Picture1_MouseDown(int button, int, float x, float y) {
    // 1. Always, also before any calibration: the press position for the
    // calibration commands.
    const DrawingPoint d = toDrawing(x, y);
    form2_.down座標x->setText(SingleToText(x));
    form2_.down座標y->setText(SingleToText(y));
    form2_.変換down座標x->setText(Format(d.x, QStringLiteral("0.00")));
    form2_.変換down座標y->setText(Format(d.y, QStringLiteral("0.00")));
    // 2.
    if (!scaleIsSet)
        return;
    // 3.
    Picture1->setDrawWidth(2);
    Picture1->setDrawStyle(PictureBox::DrawStyle::Solid);
    Picture1->setFillStyle(PictureBox::FillStyle::Solid);
    Picture1->setFillColor(kQBColor12);
    // 4.-7. The position as the labels hold it.
    const float xr = float(Val(form2_.down座標x->text()));
    const float yr = float(Val(form2_.down座標y->text()));
    const PressOutcome out =
        trace.press(button, xr, yr, form2_.変換down座標x->text(), form2_.変換down座標y->text(),
                    metresPerUnitX, metresPerUnitY, state_.outline);
    if (out.refusal) {
        MsgBox(this, *out.refusal);
        return;
    }
    drawMarks(out.marks);
    marks_.push_back(out.marks);
    form1_.AppendLogLine(out.logLine);
    if (out.finish)
        finish();
}

void Form3::drawMarks(const PressMarks& m) {
    if (m.line)
        Picture1->Line(float(m.from.x()), float(m.from.y()), float(m.at.x()), float(m.at.y()),
                       m.lineColour);
    if (m.dot)
        Picture1->Circle(float(m.at.x()), float(m.at.y()), 0.3f, m.lineColour);
    if (m.number) {
        Picture1->setCurrentX(float(m.numberPos.x()));
        Picture1->setCurrentY(float(m.numberPos.y()));
        Picture1->setForeColor(kQBColor12);
        Picture1->setFontBold(true);
        Picture1->setFontSize(14);
        Picture1->Print(m.numberText);
    }
}

void Form3::repaintWithMarks() {
    Redraw();
    for (const PressMarks& m : marks_)
        drawMarks(m);
}

void Form3::Picture1_MouseMove(int, int, float x, float y) {
    const DrawingPoint d = toDrawing(x, y);
    panels[1]->setText(Format(d.x, QStringLiteral("0.00")));
    panels[2]->setText(QStringLiteral("ｍ"));
    panels[4]->setText(Format(d.y, QStringLiteral("0.00")));
    panels[5]->setText(QStringLiteral("ｍ"));
    panels[7]->setText(FormatSingle(zoomFactor, QStringLiteral("0.0")));
}

void Form3::Picture1_MouseUp(int, int, float x, float y) {
    const DrawingPoint d = toDrawing(x, y);
    form2_.up座標x->setText(SingleToText(x));
    form2_.up座標y->setText(SingleToText(y));
    form2_.変換up座標x->setText(Format(d.x, QStringLiteral("0.00")));
    form2_.変換up座標y->setText(Format(d.y, QStringLiteral("0.00")));
}

void Form3::Command1_Click() {
    // A finish divides by the segment count and the coefficients.
    if (!scaleIsSet || !(metresPerUnitX > 0) || !(metresPerUnitY > 0)) {
        MsgBox(this, NoCalibrationMessage());
        return;
    }
    if (const auto why = trace.refuseFinish()) {
        MsgBox(this, *why);
        return;
    }
    if (const auto why =
            RefusePointDigits(form2_.変換down座標x->text(), form2_.変換down座標y->text())) {
        MsgBox(this, *why);
        return;
    }
    OutlineStore& store = state_.outline;
    // 1.-3. As a middle-button press, without adding a point.
    trace.lastX = float(Val(form2_.down座標x->text()));
    trace.lastY = float(Val(form2_.down座標y->text()));
    store.lastPointText = {PointFieldText(form2_.変換down座標x->text()),
                           PointFieldText(form2_.変換down座標y->text()), QStringLiteral("4")};
    form1_.AppendLogLine(QStringLiteral("( ") + store.lastPointText[0] + QStringLiteral(" , ") +
                         store.lastPointText[1] + QStringLiteral(" )  Flg = 4\r\n"));
    // 4. Every stored point counts; no closing point is stored.
    store.finishedCount = store.pointCount;
    // 5.
    finish();
}

void Form3::finish() {
    OutlineStore& store = state_.outline;
    // 1. The comment at the mean of the vertices.
    Picture1->setCurrentX(float(trace.sumX / trace.segmentCount - 0.4 / metresPerUnitX));
    Picture1->setCurrentY(float(trace.sumY / trace.segmentCount - 0.15 / metresPerUnitY));
    Picture1->setForeColor(kQBColor12);
    Picture1->setFontBold(true);
    Picture1->setFontSize(14);
    Picture1->Print(コメント->text());
    // 2.-3. The figure with a metre of margin, cut from the drawing box at
    // the thumbnail's scale: only the figure's area is rendered.
    const Thumbnail t = ThumbnailFor(trace.minX, trace.maxX, trace.minY, trace.maxY, metresPerUnitX,
                                     Picture2->ScaleHeight());
    Picture2->clearPicture();
    Picture2->Cls();
    const QImage figure = Picture1->Image(QRectF(t.x0, t.y0, t.w, t.h), t.k);
    Picture2->PaintPicture(figure, QRectF(0, 0, t.k * t.w, t.k * t.h));
    // 4.
    thumbPath = state_.instPath + QStringLiteral("curGazo.bmp");
    QString error;
    if (!Picture2->SavePicture(thumbPath, &error))
        MsgBox(this, QStringLiteral("図形の画像を保存できませんでした: ") + thumbPath +
                         QStringLiteral("\r\n") + error);
    // 5.-6.
    savedTop = float(Picture1->y());
    savedLeft = float(Picture1->x());
    const QSize outer = frameGeometry().size();
    lastFrameExtra() = outer - size();
    ViewState vs;
    vs.imagePath = state_.imagePath;
    vs.savedTop = savedTop;
    vs.savedLeft = savedLeft;
    vs.formHeight = float(outer.height() * 15);
    vs.formWidth = float(outer.width() * 15);
    vs.pictureHeight = float(Picture1->height());
    vs.pictureWidth = float(Picture1->width());
    vs.zoomFactor = zoomFactor;
    if (!WriteViewState(state_.statePath, vs, TextCodec::fromRegistry(), &error))
        MsgBox(this, QStringLiteral("表示状態を保存できませんでした: ") + state_.statePath +
                         QStringLiteral("\r\n") + error);
    // 7. The outline is finished: no record may join it before "実行".
    store.markFinished();
    accept();
    form1_.ShowTakeoffThumbnail(thumbPath);
    // 8.
    store.pointCount = 0;
}

void Form3::A12_Click() {
    state_.outline.pointCount = 0;
    // The abandoned take-off's sums and bounding box go with it, so the next
    // one's label and thumbnail stand on its own points.
    trace.reset();
    MsgBox(this, QStringLiteral("最初から拾い直して下さい"));
    LoadDrawing();
}

void Form3::A13_Click() {
    reject();
}

void Form3::reject() {
    if (converting_)
        return;
    QDialog::reject();
}

void Form3::closeEvent(QCloseEvent* event) {
    if (converting_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

bool Form3::haveDrawing() {
    if (!shown_.isNull() && !pixels.empty())
        return true;
    MsgBox(this, QStringLiteral("画像ファイルを設定して下さい"));
    return false;
}

QString Form3::dialogFolder() const {
    const QFileInfo current(state_.imagePath);
    if (!state_.imagePath.isEmpty() && current.absoluteDir().exists())
        return current.absolutePath();
    const QString images = ImageFolder(state_.instPath);
    return QFileInfo(images).isDir() ? images : state_.instPath;
}

void Form3::A11_Click() {
    // 1. A cancelled dialog changes nothing.
    const QString chosen =
        GetOpenFileName(this, QStringLiteral("画像の選択"), DrawingFileFilter(), dialogFolder());
    if (chosen.isEmpty())
        return;
    // 2.-3. A bitmap or JPEG is shown where it lies, if its name can go into
    // the view-state file and it can be loaded; else the drawing shown stays.
    if (!IsPdfPath(chosen)) {
        if (const auto why = RefuseDrawingName(chosen, TextCodec::fromRegistry())) {
            MsgBox(this, *why);
            return;
        }
        loadDrawing(chosen);
        return;
    }
    // 4. The drawing shown and its path stay as they were.
    if (state_.GsDllPath.isEmpty()) {
        MsgBox(this, NoGhostscriptMessage());
        return;
    }
    // 5.
    convertPdf(chosen);
}

void Form3::convertPdf(const QString& chosen) {
    // Nothing changes until the new page is loaded: every refusal below
    // leaves the drawing shown, the copy, the page's JPEG and its calibration.
    // Ghostscript would wait on a FIFO for ever.
    if (!QFileInfo(chosen).isFile()) {
        MsgBox(this, QStringLiteral("PDFファイルを画像に変換できませんでした:\r\n") + chosen +
                         QStringLiteral("\r\n通常のファイルではありません"));
        return;
    }
    const QString copyPath = PdfCopyPath(chosen, state_.instPath);
    if (const auto why = RefuseDrawingName(PdfJpegPath(copyPath, 1), TextCodec::fromRegistry())) {
        MsgBox(this, *why);
        return;
    }
    // 5.1-5.2 A PDF chosen from the image folder is converted where it lies;
    // another one is copied there, over a copy of the same name. When that
    // copy holds another PDF whose pages are calibrated, the user is asked.
    if (QFileInfo::exists(copyPath) && !CalibratedPages(copyPath).isEmpty() &&
        CopyNeeded(chosen, copyPath) && !MsgBoxYesNo(this, ReplaceDrawingQuestion(copyPath)))
        return;
    // A drawing set: which page. A PDF Ghostscript cannot count is tried as
    // one page, and its conversion says what is wrong.
    const QString program = GhostscriptProgramFor(state_.GsDllPath);
    int pageCount = 1;
    const ProcessOutcome counted =
        WaitForProcess(program, PageCountArguments(chosen), kPageCountLimitMs);
    if (counted.ok())
        pageCount = ParsePageCount(counted.output).value_or(1);
    int page = 1;
    if (pageCount > 1) {
        const std::optional<QString> answer =
            InputBox(this, PageQuestion(pageCount), kPageTitle, QStringLiteral("1"));
        if (!answer)
            return;
        const PageAnswer a = ParsePageAnswer(*answer, pageCount);
        if (a.refusal) {
            MsgBox(this, *a.refusal);
            return;
        }
        page = a.page;
    }
    // 5.3-5.8 Ghostscript writes the page while the window keeps painting;
    // the copy and the JPEG take their places only with a page that loads.
    PageConversion conversion(chosen, state_.instPath, page, pageCount);
    if (const auto why = conversion.prepare()) {
        MsgBox(this, *why);
        return;
    }
    PageConversion::Result done =
        conversion.finish(WaitForProcess(program, conversion.arguments(), kConversionLimitMs));
    if (!done.picture.ok()) {
        if (done.title.isEmpty())
            MsgBox(this, done.message);
        else
            MsgBox(this, done.message, done.title);
        return;
    }
    // 5.9
    const QString jpegPath = conversion.jpegPath();
    takeDrawing(std::move(done.picture), jpegPath, StampFile(jpegPath));
    state_.imagePath = jpegPath;
    showDrawing();
}

ProcessOutcome Form3::WaitForProcess(const QString& program, const QStringList& arguments,
                                     int timeLimitMs) {
    // No re-entry: no menu command, no close, no take-off meanwhile.
    const bool outer = !converting_;
    converting_ = true;
    std::vector<QAction*> enabled;
    if (outer) {
        for (QAction* a : {A11, A12, A13, D11, D12, D13, D14, D15, D16, D17, E11, E12, E13})
            if (a->isEnabled()) {
                a->setEnabled(false);
                enabled.push_back(a);
            }
        Command1->setEnabled(false);
        Picture1->setEnabled(false);
        setCursor(Qt::BusyCursor);
    }
    const ProcessOutcome outcome = RunProcessWhileEventsFlow(program, arguments, timeLimitMs);
    if (outer) {
        unsetCursor();
        Picture1->setEnabled(true);
        Command1->setEnabled(true);
        for (QAction* a : enabled)
            a->setEnabled(true);
        converting_ = false;
    }
    return outcome;
}

void Form3::zoom(ZoomCommand command) {
    const ZoomStep step = ZoomAfter(command, zoomFactor);
    if (step.refusal)
        MsgBox(this, *step.refusal);
    const float old = zoomFactor;
    zoomFactor = step.zoom;
    // 1.
    const CalibrationTexts t = form2_.texts();
    metresPerUnitX = float(Val(t.X(CalRow::Coefficient)) / zoomFactor);
    metresPerUnitY = float(Val(t.Y(CalRow::Coefficient)) / zoomFactor);
    if (shown_.isNull())
        return;
    // 2. The box takes the zoomed size and the bars its range; the view
    // stays on the same drawing point, and the take-off under way (its last
    // point, sums, bounding box and marks, and the last press and release
    // of the calibration commands) follows the drawing.
    const double ratio = old > 0 ? double(zoomFactor) / double(old) : 1.0;
    const double centreX = (HScroll1->value() + view->width() / 2.0) * ratio;
    const double centreY = (VScroll1->value() + view->height() / 2.0) * ratio;
    Picture1->resize(int(std::lround(zoomFactor * imageWidth)),
                     int(std::lround(zoomFactor * imageHeight)));
    if (ratio != 1.0) {
        trace.rescale(ratio);
        for (PressMarks& m : marks_)
            m = ScaledMarks(m, ratio);
        for (CalRow r : {CalRow::MouseDown, CalRow::MouseUp})
            for (bool y : {false, true})
                form2_.setText(r, y, SingleToText(float(Val(form2_.text(r, y)) * ratio)));
    }
    repaintWithMarks();
    applyScrollRanges();
    HScroll1->setValue(int(std::lround(centreX - view->width() / 2.0)));
    VScroll1->setValue(int(std::lround(centreY - view->height() / 2.0)));
    HScroll1_Change();
    VScroll1_Change();
}

void Form3::D11_Click() {
    zoom(ZoomCommand::Original);
}
void Form3::D12_Click() {
    zoom(ZoomCommand::Enlarge);
}
void Form3::D13_Click() {
    zoom(ZoomCommand::Enlarge2);
}
void Form3::D14_Click() {
    zoom(ZoomCommand::Reduce);
}
void Form3::D15_Click() {
    zoom(ZoomCommand::Reduce2);
}
void Form3::D16_Click() {
    rotate(QuarterTurn::Right);
}
void Form3::D17_Click() {
    rotate(QuarterTurn::Left);
}

void Form3::rotate(QuarterTurn turn) {
    if (!haveDrawing())
        return;
    if (const auto why = RefuseRotation(imageWidth, imageHeight)) {
        MsgBox(this, *why);
        return;
    }
    // The turn replaces the drawing and deletes its calibration: a drawing or
    // a calibration the user may not change is not turned at all.
    const QString inf = CalibrationFilePath(state_.imagePath);
    if (const auto why = RefuseWritingTo(state_.imagePath)) {
        MsgBox(this, QStringLiteral("画像を保存できませんでした: ") + state_.imagePath +
                         QStringLiteral("\r\n") + *why);
        return;
    }
    if (QFileInfo::exists(inf) || QFileInfo(inf).isSymLink())
        if (const auto why = RefuseWritingTo(inf)) {
            MsgBox(this,
                   *why + QStringLiteral("\r\n回転すると基準値が消えるため、図面は回転しません"));
            return;
        }
    // 1.-4.
    rotWidth = imageHeight;
    rotHeight = imageWidth;
    RotatePixels(pixels, turn, rotatedPixels);
    // 5. Into Picture3 at the drawing's depth (an 8-bit drawing keeps its colours).
    QImage canvas;
    if (colourDepth == 8) {
        canvas = QImage(1, 1, QImage::Format_Indexed8);
        canvas.setColorTable(Image1.colorTable());
    }
    try {
        SetBitmapPixels(canvas, colourDepth, rotatedPixels);
    } catch (const BitmapError& e) {
        rotatedPixels.clear();
        MsgBox(this, e.description(), kErrorTitle);
        return;
    }
    rotatedPixels.clear();
    Picture3->resize(rotWidth, rotHeight);
    Picture3->setPicture(canvas);
    canvas = QImage();
    // 6. The JPEG replaces the drawing once it is complete: a failed save
    // leaves the drawing and its calibration as they were.
    QString error;
    const bool saved = DCSavetoJPEG(Picture3->Picture(), state_.imagePath, 80, &error);
    // 7.
    Picture3->clearPicture();
    Picture3->Cls();
    if (!saved) {
        MsgBox(this, error);
        return;
    }
    // 8.-9. The turned drawing needs a new scale. The old picture is gone
    // from the disk: it is let go before the turned one is read.
    QFile::remove(inf);
    clearDrawing();
    LoadDrawing();
}

void Form3::E11_Click() {
    if (!haveDrawing())
        return;
    // 1.
    Picture1->Circle(float(Val(form2_.down座標x->text())), float(Val(form2_.down座標y->text())), 2,
                     kQBColor12);
    // 2.-3.
    if (MsgBoxOkCancel(this, kOriginQuestion)) {
        form2_.setTexts(OriginFromPress(form2_.texts(), zoomFactor));
        state_.outline.pointCount = 0;
        QString error;
        if (!WriteCalibrationFile(CalibrationFilePath(state_.imagePath), form2_.texts(),
                                  TextCodec::fromRegistry(), &error))
            MsgBox(this, error);
    }
    // 4.
    LoadDrawing();
}

void Form3::E12_Click() {
    if (!haveDrawing())
        return;
    // A drag without a width or a height gives no scale: refused before
    // anything changes.
    const CalibrationTexts before = form2_.texts();
    if (const auto why = RefuseScaleDrag(before)) {
        MsgBox(this, *why);
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
    form2_.setTexts(scale.texts);
    MsgBox(this, scale.message);
    // 11. The calibration in force stays.
    if (!scale.accepted)
        return;
    // 10.
    scaleIsSet = 1;
    state_.outline.pointCount = 0;
    QString error;
    if (!WriteCalibrationFile(CalibrationFilePath(state_.imagePath), form2_.texts(),
                              TextCodec::fromRegistry(), &error))
        MsgBox(this, error);
    LoadDrawing();
}

void Form3::E13_Click() {
    form2_.exec();
}
