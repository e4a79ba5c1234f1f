#include "main/window/form3.h"

#include "common/core/atomic_file.h"
#include "common/core/exchange_files.h"
#include "common/core/numtext.h"
#include "common/core/textcodec.h"
#include "common/ui/message.h"
#include "common/ui/picturebox.h"
#include "common/ui/uifont.h"
#include "main/digitizer/view_state.h"
#include "main/takeoff/takeoff.h"
#include "main/window/form1.h"
#include "main/window/form2.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

const QString kErrorTitle = QStringLiteral("エラー");
constexpr int kScrollBarSize = 20;   // the scroll bars' width, pixels
constexpr int kBottomRow = 24;       // comment and button row below the scroll bar
constexpr int kBottomRowWidth = 372; // コメント and 中ボタン side by side
constexpr QSize kDefaultClient(1000, 680);
constexpr int kMinViewHeight = 120; // the least of the drawing the window shows
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

const QString kNoScaleStatus = QStringLiteral("スケール未設定: 基準値--->スケール");
const QString kNoScalePanel = QStringLiteral("未設定");
// One notch of a mouse wheel: 15 degrees in eighths of a degree.
constexpr int kWheelNotch = 120;

// The outlines already written from the drawing, drawn faintly over the
// drawing box: seen, but not part of what the box holds (so never in the
// thumbnail of a finish), and transparent for the mouse.
class TakenOutlinesView : public QWidget {
public:
    TakenOutlinesView(const Form3& form, QWidget* box) : QWidget(box), form_(form) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        if (form_.takenOutlines.isEmpty())
            return;
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QColor line(30, 90, 230, 110);
        const QColor fill(30, 90, 230, 28);
        QFont font = p.font();
        font.setBold(true);
        font.setPixelSize(14);
        p.setFont(font);
        const double z = form_.zoomFactor;
        for (const TakenOutline& o : form_.takenOutlines) {
            QPolygonF shape;
            for (const QPointF& pt : o.points)
                shape << pt * z;
            const QRectF around = shape.boundingRect().adjusted(-200, -40, 200, 40);
            if (!around.intersects(event->rect()))
                continue;
            p.setPen(QPen(line, 3));
            p.setBrush(fill);
            if (shape.size() > 2 && shape.first() == shape.last())
                p.drawPolygon(shape);
            else
                p.drawPolyline(shape);
            // The comment in the middle of the outline's extent.
            p.setPen(line);
            p.drawText(QRectF(shape.boundingRect().center() - QPointF(200, 20), QSizeF(400, 40)),
                       Qt::AlignCenter, o.comment);
        }
    }

private:
    const Form3& form_;
};

// A check put off while a dialog of the window is open is tried again this often.
constexpr int kRecheckMs = 500;

} // namespace

class Form3::Busy {
public:
    Busy(Form3& form, const QString& status) : form_(form), outer_(!form.busy_) {
        if (!outer_)
            return;
        form_.busy_ = true;
        form_.busyText_ = status;
        for (QAction* a : {form.A11, form.A12, form.A13, form.D11, form.D12, form.D13, form.D14,
                           form.D15, form.D16, form.D17, form.D18, form.E11, form.E12, form.E13})
            if (a->isEnabled()) {
                a->setEnabled(false);
                enabled_.push_back(a);
            }
        form.Command1->setEnabled(false);
        form.Picture1->setEnabled(false);
        form.setCursor(Qt::BusyCursor);
        // The drawing's own cross would hide it.
        form.Picture1->setCursor(Qt::BusyCursor);
        form_.showStatus();
    }
    ~Busy() {
        if (!outer_)
            return;
        form_.unsetCursor();
        form_.Picture1->setCursor(Qt::CrossCursor);
        form_.Picture1->setEnabled(true);
        form_.Command1->setEnabled(true);
        for (QAction* a : enabled_)
            a->setEnabled(true);
        form_.busy_ = false;
        form_.busyText_.clear();
        form_.showStatus();
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    Form3& form_;
    bool outer_;
    std::vector<QAction*> enabled_;
};

Form3::Form3(Form1& main)
    : QDialog(&main), form1_(main), form2_(main.form2()), state_(main.state()),
      calibration_(main.state().calibration) {
    buildControls();
    watcher_ = new QFileSystemWatcher(this);
    connect(watcher_, &QFileSystemWatcher::fileChanged, this, &Form3::checkSharedFiles);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &Form3::checkSharedFiles);
    recheck_ = new QTimer(this);
    recheck_->setSingleShot(true);
    recheck_->setInterval(kRecheckMs);
    connect(recheck_, &QTimer::timeout, this, &Form3::checkSharedFiles);
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
    D1->addSeparator();
    D18 = item(D1, "D18", QStringLiteral("拾い済みを隠す"));
    D18->setCheckable(true);
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
    // A press on the drawing takes the keyboard focus: its keys act there only.
    Picture1->setFocusPolicy(Qt::ClickFocus);
    Picture1->installEventFilter(this);
    view->installEventFilter(this);
    takenView_ = new TakenOutlinesView(*this, Picture1);
    takenView_->setObjectName(QStringLiteral("takenOutlines"));

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
    // Never the dialog's default button, never the keyboard's: Return in
    // コメント must not finish the take-off.
    Command1->setAutoDefault(false);
    Command1->setDefault(false);
    Command1->setFocusPolicy(Qt::NoFocus);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    // Each panel as wide as the widest text it shows.
    const char* fixed[10] = {"X軸",   nullptr,  nullptr, "Y軸",    nullptr,
                             nullptr, "軸係数", nullptr, "部屋名", nullptr};
    const char* widest[10] = {"X軸", "-00000.00", "ｍ",  "Y軸",    "-00000.00",
                              "ｍ",  "軸係数",    "0.0", "部屋名", "延長 00000.00 ｍ"};
    const QFontMetrics fm(font());
    for (int i = 0; i < 10; ++i) {
        auto* l = new QLabel(fixed[i] ? QString::fromUtf8(fixed[i]) : QString(), StatusBar1);
        l->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
        l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        int w = fm.horizontalAdvance(QString::fromUtf8(widest[i]));
        if (i == 1 || i == 4)
            w = std::max(w, fm.horizontalAdvance(kNoScalePanel));
        l->setMinimumWidth(w + 12);
        StatusBar1->addWidget(l, 0);
        panels[i] = l;
    }
    statusText = new QLabel(StatusBar1);
    statusText->setObjectName(QStringLiteral("StatusText"));
    statusText->setMinimumWidth(fm.horizontalAdvance(kNoScaleStatus) + 12);
    StatusBar1->addWidget(statusText, 1);
    layout->addWidget(StatusBar1);

    // Canvas of the finish; never shown.
    Picture2 = new PictureBox(this);
    Picture2->setObjectName(QStringLiteral("Picture2"));
    Picture2->setScaleMode(PictureBox::ScaleMode::Pixels);
    Picture2->setGeometry(0, 0, kThumbnailSide, kThumbnailSide);
    Picture2->hide();

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
    connect(D18, &QAction::triggered, this, &Form3::D18_Click);
    connect(E11, &QAction::triggered, this, &Form3::E11_Click);
    connect(E12, &QAction::triggered, this, &Form3::E12_Click);
    connect(E13, &QAction::triggered, this, &Form3::E13_Click);

    // The least size that shows every status panel and the bottom row.
    const int rows = menuBar->sizeHint().height() + StatusBar1->sizeHint().height();
    setMinimumSize(
        std::max(StatusBar1->minimumSizeHint().width(), kBottomRowWidth + kScrollBarSize + 8),
        rows + 44 + kMinViewHeight);
    resize(kDefaultClient.width(), kDefaultClient.height() + rows);
}

QString Form3::panelText(int i) const {
    return panels[std::clamp(i, 1, 10) - 1]->text();
}

bool Form3::eventFilter(QObject* watched, QEvent* event) {
    if (watched == client_ && event->type() == QEvent::Resize)
        Form_Resize();
    if (watched == view && event->type() == QEvent::Wheel) {
        wheel(static_cast<QWheelEvent*>(event));
        return true;
    }
    if (watched != Picture1)
        return QDialog::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Resize:
        takenView_->setGeometry(Picture1->rect());
        break;
    case QEvent::Wheel:
        wheel(static_cast<QWheelEvent*>(event));
        return true;
    case QEvent::KeyPress: {
        auto* k = static_cast<QKeyEvent*>(event);
        if (k->key() == Qt::Key_Backspace || k->matches(QKeySequence::Undo)) {
            undoLastPoint();
            return true;
        }
        if (k->key() == Qt::Key_Space) {
            if (!k->isAutoRepeat() && !busy_) {
                spaceHeld_ = true;
                Picture1->setCursor(Qt::OpenHandCursor);
            }
            return true;
        }
        break;
    }
    case QEvent::KeyRelease:
        if (static_cast<QKeyEvent*>(event)->key() != Qt::Key_Space)
            break;
        if (static_cast<QKeyEvent*>(event)->isAutoRepeat())
            return true;
        [[fallthrough]];
    case QEvent::FocusOut:
        // A release that never comes (the focus went elsewhere) ends it too.
        if (spaceHeld_ || panFrom_) {
            spaceHeld_ = false;
            panFrom_.reset();
            if (!busy_)
                Picture1->setCursor(Qt::CrossCursor);
        }
        if (event->type() == QEvent::KeyRelease)
            return true;
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease:
        if (pan(event))
            return true;
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

bool Form3::pan(QEvent* event) {
    auto* m = static_cast<QMouseEvent*>(event);
    const QPoint at = m->globalPosition().toPoint();
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (!spaceHeld_ || m->button() != Qt::LeftButton)
            return false;
        panFrom_ = at;
        panView_ = currentView();
        Picture1->setCursor(Qt::ClosedHandCursor);
        return true;
    case QEvent::MouseMove:
        if (!panFrom_)
            return false;
        HScroll1->setValue(int(std::lround(panView_.x() - (at.x() - panFrom_->x()))));
        VScroll1->setValue(int(std::lround(panView_.y() - (at.y() - panFrom_->y()))));
        return true;
    case QEvent::MouseButtonRelease:
        if (!panFrom_ || m->button() != Qt::LeftButton)
            return bool(panFrom_);
        panFrom_.reset();
        Picture1->setCursor(spaceHeld_ ? Qt::OpenHandCursor : Qt::CrossCursor);
        return true;
    default:
        return false;
    }
}

void Form3::wheel(QWheelEvent* event) {
    if (busy_ || Image1.isNull())
        return;
    const QPoint delta = event->angleDelta();
    if (event->modifiers() & Qt::ControlModifier) {
        // Ctrl+wheel: a zoom step a notch, around the pointer; at a limit, nothing.
        wheelZoomSteps_ += delta.y();
        const QPointF anchor = view->mapFromGlobal(event->globalPosition());
        while (std::abs(wheelZoomSteps_) >= kWheelNotch) {
            const bool in = wheelZoomSteps_ > 0;
            wheelZoomSteps_ -= in ? kWheelNotch : -kWheelNotch;
            zoom(in ? ZoomCommand::Enlarge : ZoomCommand::Reduce, anchor, true);
        }
        return;
    }
    // A notch moves the view by 120 screen pixels; Shift+wheel sideways.
    const bool sideways = (event->modifiers() & Qt::ShiftModifier) || delta.y() == 0;
    const int by = delta.y() != 0 ? delta.y() : delta.x();
    QScrollBar* bar = sideways ? HScroll1 : VScroll1;
    bar->setValue(bar->value() - by);
}

DrawingPoint Form3::toDrawing(float x, float y) const {
    return PositionToDrawing(
        x, y, DrawingFrame::from(form2_.texts(), zoomFactor, metresPerUnitX, metresPerUnitY));
}

void Form3::Form_Load() {
    // 1.
    trace.reset();
    state_.statePath = state_.instPath + QStringLiteral("curPass.txt");
    // Outlines whose drawing's file could not take them yet (another
    // session held its lock) are tried again.
    if (const auto why = state_.onScreen.retry(TextCodec::fromRegistry()))
        MsgBox(this, *why);
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
    const QSize least = minimumSize();
    resize(outer.expandedTo(least).boundedTo(most.expandedTo(least)));
    zoomFactor = vs.zoomFactor;
    loadDrawing(vs.imagePath);
}

void Form3::clearDrawing() {
    Image1 = QImage();
    half_ = QImage();
    shownPath_.clear();
    shownStamp_ = FileStamp();
    imageWidth = imageHeight = 0;
    marks_.clear();
    takenOutlines.clear();
    takenStamp_ = FileStamp();
    watchDrawingFiles();
    Picture1->clearPicture();
    Picture1->Cls();
    Picture1->setGeometry(0, 0, 0, 0);
    scaleIsSet = 0;
    trace.reset();
    applyScrollRanges();
    showStatus();
}

void Form3::LoadDrawing() {
    // The drawing shown again (a calibration, a fresh start): the view stays
    // where the user has it.
    loadDrawing(state_.imagePath, Image1.isNull() || shownPath_ != state_.imagePath
                                      ? std::nullopt
                                      : std::optional<QPointF>(currentView()));
}

QPointF Form3::currentView() const {
    return QPointF(HScroll1->value(), VScroll1->value());
}

bool Form3::loadDrawing(const QString& path, std::optional<QPointF> view) {
    if (path.isEmpty()) {
        clearDrawing();
        MsgBox(this, QStringLiteral("ファイル未選択"));
        return false;
    }
    // 1.-3. Read whole before anything changes: a drawing that cannot be
    // loaded leaves the one shown, its path and its calibration as they
    // were. The drawing shown, unchanged on the disk, is not read again.
    const FileStamp stamp = StampFile(path);
    if (Image1.isNull() || path != shownPath_ || !(stamp == shownStamp_)) {
        Result<DrawingPicture> read = ReadDrawingPicture(path);
        if (!read) {
            // 11.
            MsgBox(this, read.error(), kErrorTitle);
            return false;
        }
        takeDrawing(std::move(*read), path, stamp);
    }
    state_.imagePath = path;
    showDrawing(view);
    return true;
}

void Form3::takeDrawing(DrawingPicture&& read, const QString& path, const FileStamp& stamp) {
    Image1 = std::move(read.picture);
    half_ = std::move(read.half);
    colourDepth = read.colourDepth;
    imageWidth = Image1.width();
    imageHeight = Image1.height();
    shownPath_ = path;
    shownStamp_ = stamp;
}

void Form3::showDrawing(std::optional<QPointF> at) {
    // The marks of a take-off go with the old picture.
    marks_.clear();
    // 4.
    Picture1->resize(int(std::lround(zoomFactor * imageWidth)),
                     int(std::lround(zoomFactor * imageHeight)));
    // 5.
    Redraw();
    // 6.-7. The bars' ranges follow the zoomed drawing; the saved position
    // (or the view asked for) comes back through them.
    applyScrollRanges();
    const QPointF to = at.value_or(QPointF(-savedLeft, -savedTop));
    HScroll1->setValue(int(std::lround(to.x())));
    VScroll1->setValue(int(std::lround(to.y())));
    HScroll1_Change();
    VScroll1_Change();
    // What was taken off it shows faintly; a record that cannot be read is
    // said once, and what could be read is shown.
    takenView_->setGeometry(Picture1->rect());
    takenView_->setVisible(!D18->isChecked());
    readTakenOutlines(true);
    watchDrawingFiles();
    // 9.-10. The drawing shown again: a calibration another session wrote
    // since is taken only when the user says so, and the own one the user
    // kept over another's stays in force.
    if (calibration_.knows(state_.imagePath)) {
        if (offerOthersCalibration())
            return;
        if (calibration_.keepsOwn()) {
            const std::optional<CalibrationTexts>& own = calibration_.ownKept();
            if (own)
                form2_.setTexts(*own);
            useCalibration(form2_.texts(), own.has_value());
            return;
        }
    }
    takeCalibrationFile();
}

void Form3::readTakenOutlines(bool say) {
    const QString path = TakenOutlinesPath(state_.imagePath);
    takenStamp_ = StampFile(path);
    const TakenOutlinesRead taken = ReadTakenOutlines(path, TextCodec::fromRegistry());
    takenOutlines = taken.outlines + state_.onScreen.unsaved(state_.imagePath);
    takenView_->update();
    if (say && !taken.error.isEmpty())
        MsgBox(this, taken.error);
}

void Form3::takeCalibrationFile() {
    const CalibrationFileState file = ReadCalibrationState(
        CalibrationFilePath(state_.imagePath), TextCodec::fromRegistry(), form2_.texts());
    calibration_.know(state_.imagePath, file);
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
    if (!MsgBoxYesNo(this,
                     CalibrationChangedQuestion(state_.imagePath, !theirs->stamp.exists, points))) {
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
    const QString inf = CalibrationFilePath(state_.imagePath);
    if (!calibration_.knows(state_.imagePath))
        calibration_.know(state_.imagePath, ReadCalibrationState(inf, codec, form2_.texts()));
    // Changed again between the question and the lock: asked again.
    for (;;) {
        const std::optional<CalibrationFileState> theirs = calibration_.othersFile(codec);
        if (theirs && !MsgBoxYesNo(this, ReplaceCalibrationQuestion(state_.imagePath))) {
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
    if (!Image1.isNull() && !state_.imagePath.isEmpty()) {
        wanted << QFileInfo(state_.imagePath).absolutePath();
        for (const QString& f :
             {TakenOutlinesPath(state_.imagePath), CalibrationFilePath(state_.imagePath)})
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
    if (!(StampFile(TakenOutlinesPath(state_.imagePath)) == takenStamp_))
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

void Form3::Redraw() {
    Picture1->clearPicture();
    Picture1->Cls();
    if (Image1.isNull())
        return;
    // At the box's own origin: the scroll bars move the box, not the picture.
    // Shrunk, it is smoothed, so thin lines stay visible.
    Picture1->PaintPicture(
        Image1, half_,
        QRectF(0, 0, double(zoomFactor) * imageWidth, double(zoomFactor) * imageHeight),
        QRectF(0, 0, imageWidth, imageHeight));
}

void Form3::showStatus() {
    const bool noScale = !Image1.isNull() && !scaleIsSet;
    statusText->setText(busy_ ? busyText_ : noScale ? kNoScaleStatus : QString());
    if (noScale) {
        panels[1]->setText(kNoScalePanel);
        panels[2]->clear();
        panels[4]->setText(kNoScalePanel);
        panels[5]->clear();
    }
    // The outline's length so far, as "実行" would total it.
    QString running;
    if (trace.underway()) {
        OutlineStore sofar = state_.outline;
        sofar.finishedCount = sofar.pointCount;
        running = QStringLiteral("延長 ") +
                  Format(ComputeTakeoffRow(sofar, QString()).total, QStringLiteral("0.00")) +
                  QStringLiteral(" ｍ");
    }
    panels[9]->setText(running);
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
    // A press near the first point of an outline of two points or more
    // closes it there exactly.
    const std::optional<TakeoffTrace::Snap> snap =
        scaleIsSet ? trace.snapToFirst(button, x, y) : std::nullopt;
    if (snap) {
        x = snap->x;
        y = snap->y;
    }
    // 1. Always, also before any calibration: the press position for the
    // calibration commands.
    const DrawingPoint d = toDrawing(x, y);
    form2_.down座標x->setText(SingleToText(x));
    form2_.down座標y->setText(SingleToText(y));
    form2_.変換down座標x->setText(snap ? snap->xText : Format(d.x, QStringLiteral("0.00")));
    form2_.変換down座標y->setText(snap ? snap->yText : Format(d.y, QStringLiteral("0.00")));
    // 2. The status bar says why nothing is taken.
    if (!scaleIsSet)
        return;
    // 3.
    Picture1->setDrawWidth(2);
    Picture1->setDrawStyle(PictureBox::DrawStyle::Solid);
    Picture1->setFillStyle(PictureBox::FillStyle::Solid);
    Picture1->setFillColor(kQBColor12);
    // The middle button finishes: a calibration another session wrote
    // meanwhile, taken, discards the take-off instead.
    if (button == 4 && trace.underway() && offerOthersCalibration())
        return;
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
    if (out.ignored)
        return;
    drawMarks(out.marks);
    marks_.push_back(out.marks);
    form1_.AppendLogLine(out.logLine);
    if (out.finish)
        finish();
    else
        showStatus();
}

void Form3::undoLastPoint() {
    if (busy_)
        return;
    const std::optional<QString> line = trace.undo(state_.outline);
    if (!line)
        return;
    if (!marks_.empty())
        marks_.pop_back();
    form1_.TakeBackLog(*line);
    repaintWithMarks();
    showStatus();
}

void Form3::discardTakeoff() {
    form1_.TakeBackLog(trace.logText());
    state_.outline.pointCount = 0;
    trace.reset();
    marks_.clear();
    repaintWithMarks();
    showStatus();
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
    panels[7]->setText(FormatSingle(zoomFactor, QStringLiteral("0.0")));
    // Without a calibration there are no metres to show (the values held
    // are another drawing's).
    if (!scaleIsSet) {
        showStatus();
        return;
    }
    const DrawingPoint d = toDrawing(x, y);
    panels[1]->setText(Format(d.x, QStringLiteral("0.00")));
    panels[2]->setText(QStringLiteral("ｍ"));
    panels[4]->setText(Format(d.y, QStringLiteral("0.00")));
    panels[5]->setText(QStringLiteral("ｍ"));
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
    if (const auto checked = trace.checkFinish(); !checked) {
        MsgBox(this, checked.error());
        return;
    }
    if (const auto checked =
            CheckPointDigits(form2_.変換down座標x->text(), form2_.変換down座標y->text());
        !checked) {
        MsgBox(this, checked.error());
        return;
    }
    // A calibration another session wrote meanwhile, taken, discards the
    // take-off measured with the old one: nothing to finish.
    if (offerOthersCalibration())
        return;
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
    if (const auto saved = Picture2->SavePicture(thumbPath); !saved)
        MsgBox(this, QStringLiteral("図形の画像を保存できませんでした: ") + thumbPath +
                         QStringLiteral("\r\n") + saved.error());
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
    if (const auto written = WriteViewState(state_.statePath, vs, TextCodec::fromRegistry());
        !written)
        MsgBox(this, QStringLiteral("表示状態を保存できませんでした: ") + state_.statePath +
                         QStringLiteral("\r\n") + written.error());
    // 7. The outline is finished: no record may join it before "実行",
    // which keeps it with the drawing as taken off.
    store.markFinished();
    TakenOutline taken;
    for (const TracePoint& p : trace.points())
        taken.points.append(QPointF(p.x / zoomFactor, p.y / zoomFactor));
    taken.comment = コメント->text();
    state_.onScreen.finished(state_.imagePath, taken, store);
    accept();
    form1_.ShowTakeoffThumbnail(thumbPath);
    // 8.
    store.pointCount = 0;
}

void Form3::A12_Click() {
    // The abandoned take-off's points, sums, bounding box and log lines go
    // with it, so the next one's label and thumbnail stand on its own points.
    discardTakeoff();
    MsgBox(this, QStringLiteral("最初から拾い直して下さい"));
    LoadDrawing();
}

void Form3::A13_Click() {
    reject();
}

void Form3::reject() {
    // Esc, the window's close button (QDialog::closeEvent) and "終了" come here.
    if (busy_)
        return;
    if (trace.underway()) {
        if (!MsgBoxYesNo(this, QStringLiteral("拾い中の点を破棄して閉じますか")))
            return;
        discardTakeoff();
    }
    QDialog::reject();
}

void Form3::closeEvent(QCloseEvent* event) {
    if (busy_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void Form3::D18_Click() {
    takenView_->setVisible(!D18->isChecked());
}

bool Form3::haveDrawing() {
    if (!Image1.isNull())
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
        if (const auto checked = CheckDrawingName(chosen, TextCodec::fromRegistry()); !checked) {
            MsgBox(this, checked.error());
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
    if (const auto checked = CheckDrawingName(PdfJpegPath(copyPath, 1), TextCodec::fromRegistry());
        !checked) {
        MsgBox(this, checked.error());
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
        WaitForProcess(program, PageCountArguments(chosen), kPageCountLimitMs,
                       QStringLiteral("変換中… ページ数を調べています（%1）")
                           .arg(Brief(QFileInfo(chosen).fileName())));
    if (counted.ok())
        pageCount = ParsePageCount(counted.output).value_or(1);
    int page = 1;
    if (pageCount > 1) {
        const std::optional<QString> answer =
            InputBox(this, PageQuestion(pageCount), kPageTitle, QStringLiteral("1"));
        if (!answer)
            return;
        const Result<int> a = ParsePageAnswer(*answer, pageCount);
        if (!a) {
            MsgBox(this, a.error());
            return;
        }
        page = *a;
    }
    // The page converted before from the same bytes is shown as it lies,
    // with its calibration and the outlines taken off it (another session's
    // too). One that cannot be read is converted again.
    if (const auto converted = ConvertedPage(chosen, state_.instPath, page)) {
        const FileStamp stamp = StampFile(*converted);
        Result<DrawingPicture> read = ReadDrawingPicture(*converted);
        if (read) {
            takeDrawing(std::move(*read), *converted, stamp);
            state_.imagePath = *converted;
            showDrawing();
            return;
        }
    }
    // 5.3-5.8 Ghostscript writes the page while the window keeps painting;
    // the copy and the JPEG take their places only with a page that loads.
    PageConversion conversion(chosen, state_.instPath, page, pageCount);
    if (const auto prepared = conversion.prepare(); !prepared) {
        MsgBox(this, prepared.error());
        return;
    }
    PageConversion::Finished done =
        conversion.finish(WaitForProcess(program, conversion.arguments(), kConversionLimitMs,
                                         QStringLiteral("変換中… %1 ページ目（%2）")
                                             .arg(page)
                                             .arg(Brief(QFileInfo(chosen).fileName()))));
    if (!done.picture) {
        if (done.title.isEmpty())
            MsgBox(this, done.picture.error());
        else
            MsgBox(this, done.picture.error(), done.title);
        return;
    }
    // 5.9
    const QString jpegPath = conversion.jpegPath();
    takeDrawing(std::move(*done.picture), jpegPath, StampFile(jpegPath));
    // This session's conversion may have removed the page's calibration.
    calibration_.forget();
    state_.imagePath = jpegPath;
    showDrawing();
}

ProcessOutcome Form3::WaitForProcess(const QString& program, const QStringList& arguments,
                                     int timeLimitMs, const QString& status) {
    // No re-entry: no menu command, no close, no take-off meanwhile.
    const Busy busy(*this, status);
    return RunProcessWhileEventsFlow(program, arguments, timeLimitMs);
}

void Form3::zoom(ZoomCommand command, std::optional<QPointF> anchor, bool silent) {
    const ZoomStep step = ZoomAfter(command, zoomFactor);
    if (step.refusal) {
        if (silent)
            return;
        MsgBox(this, *step.refusal);
    }
    const float old = zoomFactor;
    zoomFactor = step.zoom;
    // 1.
    const CalibrationTexts t = form2_.texts();
    metresPerUnitX = float(Val(t.X(CalRow::Coefficient)) / zoomFactor);
    metresPerUnitY = float(Val(t.Y(CalRow::Coefficient)) / zoomFactor);
    panels[7]->setText(FormatSingle(zoomFactor, QStringLiteral("0.0")));
    if (Image1.isNull())
        return;
    // 2. The box takes the zoomed size and the bars its range; the view
    // stays on the same drawing point (at the anchor), and the take-off under
    // way (its last point, sums, bounding box and marks, and the last press
    // and release of the calibration commands) follows the drawing.
    const double ratio = old > 0 ? double(zoomFactor) / double(old) : 1.0;
    const QPointF a = anchor.value_or(QPointF(view->width() / 2.0, view->height() / 2.0));
    const double atX = (HScroll1->value() + a.x()) * ratio;
    const double atY = (VScroll1->value() + a.y()) * ratio;
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
    HScroll1->setValue(int(std::lround(atX - a.x())));
    VScroll1->setValue(int(std::lround(atY - a.y())));
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
    if (const auto checked = CheckRotation(imageWidth, imageHeight); !checked) {
        MsgBox(this, checked.error());
        return;
    }
    // The turn replaces the drawing and deletes its calibration: a drawing or
    // a calibration the user may not change is not turned at all.
    const QString inf = CalibrationFilePath(state_.imagePath);
    if (const auto checked = CheckWritingTo(state_.imagePath); !checked) {
        MsgBox(this, QStringLiteral("画像を保存できませんでした: ") + state_.imagePath +
                         QStringLiteral("\r\n") + checked.error());
        return;
    }
    const QString taken = TakenOutlinesPath(state_.imagePath);
    for (const auto& [kept, what] : {std::pair(inf, QStringLiteral("基準値")),
                                     std::pair(taken, QStringLiteral("拾い済みの記録"))})
        if (QFileInfo::exists(kept) || QFileInfo(kept).isSymLink())
            if (const auto checked = CheckWritingTo(kept); !checked) {
                MsgBox(this, checked.error() +
                                 QStringLiteral("\r\n回転すると%1が消えるため、図面は回転しません")
                                     .arg(what));
                return;
            }
    // Its files change under the drawing's lock: no other session adds an
    // outline or writes a calibration between the turn and their removal.
    FileLock lock;
    {
        if (const auto locked = LockDrawing(lock, state_.imagePath); !locked) {
            MsgBox(this, QStringLiteral("画像を回転できませんでした: ") + state_.imagePath +
                             QStringLiteral("\r\n") + locked.error());
            return;
        }
    }
    // The drawing point in the middle of the view stays there, turned.
    const QPointF middle =
        (currentView() + QPointF(view->width(), view->height()) / 2) / double(zoomFactor);
    const QPointF turned = turn == QuarterTurn::Right
                               ? QPointF(imageHeight - middle.y(), middle.x())
                               : QPointF(middle.y(), imageWidth - middle.x());
    const QString path = state_.imagePath;
    Result<DrawingPicture> read = Fail(QString()); // read below, once turned
    FileStamp stamp;
    {
        const Busy busy(*this, QStringLiteral("回転中…"));
        // 1.-7. The turned rows go into the JPEG a band at a time (no second
        // copy of the drawing) while the window keeps painting. The JPEG
        // replaces the drawing once it is complete: a failed save leaves the
        // drawing and its calibration as they were.
        Result<> saved;
        {
            const QImage picture = Image1;
            RunWhileEventsFlow([&] { saved = SaveTurnedJpeg(picture, turn, path, 80); });
        }
        if (!saved) {
            MsgBox(this, saved.error());
            return;
        }
        // 8. The turned drawing needs a new scale, and nothing is taken off
        // it yet.
        QFile::remove(inf);
        QFile::remove(taken);
        QFile::remove(PageSourcePath(path)); // no longer the page Ghostscript wrote
        lock.release();
        calibration_.forget();
        // 9. The old picture is gone from the disk: it is let go before the
        // turned one is read.
        clearDrawing();
        stamp = StampFile(path);
        RunWhileEventsFlow([&] { read = ReadDrawingPicture(path); });
    }
    if (!read) {
        MsgBox(this, read.error(), kErrorTitle);
        return;
    }
    takeDrawing(std::move(*read), path, stamp);
    showDrawing(turned * double(zoomFactor) - QPointF(view->width(), view->height()) / 2);
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
        saveCalibration();
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
    state_.outline.pointCount = 0;
    saveCalibration();
    LoadDrawing();
}

void Form3::E13_Click() {
    form2_.exec();
}
