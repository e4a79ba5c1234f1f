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
#include "main/takeoff/takeoff_session.h"
#include "main/window/form2.h"
#include "main/window/form3_busy.h"

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
#include <QImageReader>
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

Form3::Form3(TakeoffSession& session, Form2& calibrationDialog, QWidget* parent)
    : QDialog(parent), session_(session), form2_(calibrationDialog), drawing_(session.drawing()),
      calibration_(session.drawing().calibration) {
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
    for (QWidget* w : std::initializer_list<QWidget*>{コメント, Command1, HScroll1, VScroll1})
        w->installEventFilter(this);

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
    // Space over the drawing pans, wherever the focus is: it neither types
    // into コメント nor presses "中ボタン".
    if ((watched == コメント || watched == Command1 || watched == HScroll1 ||
         watched == VScroll1) &&
        (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)) {
        auto* k = static_cast<QKeyEvent*>(event);
        if (k->key() == Qt::Key_Space && (spaceHeld_ || pointerOverDrawing()))
            return eventFilter(Picture1, event);
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
        if (drawingKey(k))
            return true;
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

bool Form3::drawingKey(QKeyEvent* k) {
    if (busy_)
        return false;
    switch (k->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // As "中ボタン" (Return in コメント stays the box's).
        Command1_Click();
        return true;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoom(ZoomCommand::Enlarge, std::nullopt, true);
        return true;
    case Qt::Key_Minus:
        zoom(ZoomCommand::Reduce, std::nullopt, true);
        return true;
    case Qt::Key_F:
        fitDrawing();
        return true;
    case Qt::Key_Left:
    case Qt::Key_Right:
        HScroll1->setValue(HScroll1->value() +
                           (k->key() == Qt::Key_Left ? -1 : 1) * std::max(1, view->width() / 10));
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down:
        VScroll1->setValue(VScroll1->value() +
                           (k->key() == Qt::Key_Up ? -1 : 1) * std::max(1, view->height() / 10));
        return true;
    default:
        return false;
    }
}

bool Form3::pointerOverDrawing() const {
    return view->rect().contains(view->mapFromGlobal(QCursor::pos())) &&
           Picture1->geometry().contains(Picture1->parentWidget()->mapFromGlobal(QCursor::pos()));
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
    drawing_.statePath = session_.instPath() + QStringLiteral("curPass.txt");
    // Outlines whose drawing's file could not take them yet (another
    // session held its lock) are tried again.
    if (const auto why = session_.onScreen().retry(TextCodec::fromRegistry()))
        MsgBox(this, *why);
    // 2.
    コメント->setText(session_.commentText());
    // 3.-4. A missing file is handled like an empty one: no drawing yet.
    const ViewStateRead read = ReadViewState(drawing_.statePath, TextCodec::fromRegistry());
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
    loadDrawing(drawing_.imagePath, Image1.isNull() || shownPath_ != drawing_.imagePath
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
    drawing_.imagePath = path;
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
    if (calibration_.knows(drawing_.imagePath)) {
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
    const QString path = TakenOutlinesPath(drawing_.imagePath);
    takenStamp_ = StampFile(path);
    const TakenOutlinesRead taken = ReadTakenOutlines(path, TextCodec::fromRegistry());
    takenOutlines = taken.outlines + session_.onScreen().unsaved(drawing_.imagePath);
    takenView_->update();
    if (say && !taken.error.isEmpty())
        MsgBox(this, taken.error);
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
        running = QStringLiteral("延長 ") +
                  Format(ComputeTakeoffRow(session_.outlineSoFar(), QString()).total,
                         QStringLiteral("0.00")) +
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
    // The position is taken as its texts give it back, so the stored points
    // and every file stay what the texts say.
    const DrawingPoint d = toDrawing(x, y);
    const QString xText = SingleToText(x);
    const QString yText = SingleToText(y);
    const QString drawingX = snap ? snap->xText : Format(d.x, QStringLiteral("0.00"));
    const QString drawingY = snap ? snap->yText : Format(d.y, QStringLiteral("0.00"));
    form2_.down座標x->setText(xText);
    form2_.down座標y->setText(yText);
    form2_.変換down座標x->setText(drawingX);
    form2_.変換down座標y->setText(drawingY);
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
    // 4.-7.
    const PressOutcome out = session_.press(trace, button, float(Val(xText)), float(Val(yText)),
                                            drawingX, drawingY, metresPerUnitX, metresPerUnitY);
    if (out.refusal) {
        MsgBox(this, *out.refusal);
        return;
    }
    if (out.ignored)
        return;
    drawMarks(out.marks);
    marks_.push_back(out.marks);
    if (out.finish)
        finish();
    else
        showStatus();
}

void Form3::undoLastPoint() {
    if (busy_)
        return;
    if (!session_.takeBack(trace))
        return;
    if (!marks_.empty())
        marks_.pop_back();
    repaintWithMarks();
    showStatus();
}

void Form3::discardTakeoff() {
    session_.discard(trace);
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
    // The last press, as the calibration dialog holds it.
    const CalibrationTexts press = form2_.texts();
    const QString drawingX = press.X(CalRow::ConvertedDown);
    const QString drawingY = press.Y(CalRow::ConvertedDown);
    if (const auto checked = CheckPointDigits(drawingX, drawingY); !checked) {
        MsgBox(this, checked.error());
        return;
    }
    // A calibration another session wrote meanwhile, taken, discards the
    // take-off measured with the old one: nothing to finish.
    if (offerOthersCalibration())
        return;
    // 1.-3. As a middle-button press, without adding a point. 4. Every
    // stored point counts; no closing point is stored.
    trace.lastX = float(Val(press.X(CalRow::MouseDown)));
    trace.lastY = float(Val(press.Y(CalRow::MouseDown)));
    session_.endWithoutPoint(drawingX, drawingY);
    // 5.
    finish();
}

void Form3::finish() {
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
    thumbPath = session_.instPath() + QStringLiteral("curGazo.bmp");
    if (const auto saved = Picture2->SavePicture(thumbPath); !saved)
        MsgBox(this, QStringLiteral("図形の画像を保存できませんでした: ") + thumbPath +
                         QStringLiteral("\r\n") + saved.error());
    // 5.-6.
    savedTop = float(Picture1->y());
    savedLeft = float(Picture1->x());
    const QSize outer = frameGeometry().size();
    lastFrameExtra() = outer - size();
    ViewState vs;
    vs.imagePath = drawing_.imagePath;
    vs.savedTop = savedTop;
    vs.savedLeft = savedLeft;
    vs.formHeight = float(outer.height() * 15);
    vs.formWidth = float(outer.width() * 15);
    vs.pictureHeight = float(Picture1->height());
    vs.pictureWidth = float(Picture1->width());
    vs.zoomFactor = zoomFactor;
    if (const auto written = WriteViewState(drawing_.statePath, vs, TextCodec::fromRegistry());
        !written)
        MsgBox(this, QStringLiteral("表示状態を保存できませんでした: ") + drawing_.statePath +
                         QStringLiteral("\r\n") + written.error());
    // 7. The outline is finished: no record may join it before "実行",
    // which keeps it with the drawing as taken off.
    TakenOutline taken;
    for (const TracePoint& p : trace.points())
        taken.points.append(QPointF(p.x / zoomFactor, p.y / zoomFactor));
    taken.comment = コメント->text();
    accept();
    // 8. The thumbnail shows in the main window; the rows are released.
    session_.finishOnScreen(taken, thumbPath);
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

void Form3::zoom(ZoomCommand command, std::optional<QPointF> anchor, bool silent) {
    const ZoomStep step = ZoomAfter(command, zoomFactor);
    if (step.refusal) {
        if (silent)
            return;
        MsgBox(this, *step.refusal);
    }
    zoomTo(step.zoom, anchor);
}

void Form3::fitDrawing() {
    if (Image1.isNull() || imageWidth <= 0 || imageHeight <= 0)
        return;
    // The whole sheet in the view, below the commands' 0.3 when it must be.
    const float fit = std::min(float(view->width()) / float(imageWidth),
                               float(view->height()) / float(imageHeight));
    zoomTo(std::clamp(fit, kMinFitZoom, kMaxZoom));
    HScroll1->setValue(0);
    VScroll1->setValue(0);
}

void Form3::zoomTo(float zoom, std::optional<QPointF> anchor) {
    const float old = zoomFactor;
    zoomFactor = zoom;
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
    // The turn replaces the drawing, its calibration and its outlines, turned
    // with it: a drawing or a record the user may not change is not turned
    // at all.
    const QString inf = CalibrationFilePath(drawing_.imagePath);
    if (const auto checked = CheckWritingTo(drawing_.imagePath); !checked) {
        MsgBox(this, QStringLiteral("画像を保存できませんでした: ") + drawing_.imagePath +
                         QStringLiteral("\r\n") + checked.error());
        return;
    }
    const QString taken = TakenOutlinesPath(drawing_.imagePath);
    for (const auto& [kept, what] : {std::pair(inf, QStringLiteral("基準値")),
                                     std::pair(taken, QStringLiteral("拾い済みの記録"))})
        if (QFileInfo::exists(kept) || QFileInfo(kept).isSymLink())
            if (const auto checked = CheckWritingTo(kept); !checked) {
                MsgBox(this,
                       checked.error() +
                           QStringLiteral("\r\n回転すると%1も書き換えるため、図面は回転しません")
                               .arg(what));
                return;
            }
    // Its files change under the drawing's lock: no other session adds an
    // outline or writes a calibration between the turn and their removal.
    FileLock lock;
    {
        if (const auto locked = LockDrawing(lock, drawing_.imagePath); !locked) {
            MsgBox(this, QStringLiteral("画像を回転できませんでした: ") + drawing_.imagePath +
                             QStringLiteral("\r\n") + locked.error());
            return;
        }
    }
    // What was calibrated and taken off the drawing, read whole before
    // anything changes: a record that cannot be read whole is not turned,
    // and so neither is the drawing.
    const TextCodec codec = TextCodec::fromRegistry();
    const bool hasCalibration = QFileInfo::exists(inf);
    CalibrationTexts calibration = form2_.texts();
    if (hasCalibration) {
        const CalibrationRead readInf = ReadCalibrationFile(inf, codec, calibration);
        if (!readInf.ok) {
            MsgBox(this, readInf.error + QStringLiteral("\r\n図面は回転しません"));
            return;
        }
    }
    const TakenOutlinesRead outlines = ReadTakenOutlines(taken, codec);
    if (!outlines.error.isEmpty()) {
        MsgBox(this, outlines.error + QStringLiteral("\r\n図面は回転しません"));
        return;
    }
    // The drawing point in the middle of the view stays there, turned.
    const QPointF middle =
        (currentView() + QPointF(view->width(), view->height()) / 2) / double(zoomFactor);
    const QPointF turned = turn == QuarterTurn::Right
                               ? QPointF(imageHeight - middle.y(), middle.x())
                               : QPointF(middle.y(), imageWidth - middle.x());
    const QString path = drawing_.imagePath;
    Result<DrawingPicture> read = Fail(QString()); // read below, once turned
    FileStamp stamp;
    {
        const Busy busy(*this, QStringLiteral("回転中…"));
        // 1.-7. The drawing keeps its format and never loses quality: a
        // bitmap is written turned as a bitmap; a JPEG's turned rows go into
        // a JPEG of quality 95 a band at a time (no second copy of the
        // drawing). Both while the window keeps painting; the new file
        // replaces the drawing once it is complete: a failed save leaves the
        // drawing and its records as they were.
        Result<> saved;
        {
            const QImage picture = Image1;
            const bool bitmap = QImageReader(path).format() == "bmp";
            RunWhileEventsFlow([&] {
                if (!bitmap) {
                    saved = SaveTurnedJpeg(picture, turn, path, kTurnedJpegQuality);
                    return;
                }
                saved = SaveTurnedBmp(picture, turn, path);
            });
        }
        if (!saved) {
            MsgBox(this, saved.error());
            return;
        }
        // 8. Its calibration and outlines turn with it. One that cannot be
        // written is kept aside under a dated name: never applied to the
        // turned drawing, never lost.
        const int width = imageWidth, height = imageHeight;
        QStringList notTurned;
        if (hasCalibration)
            if (!WriteCalibrationFile(inf, TurnedCalibration(calibration, turn, width, height),
                                      codec))
                notTurned << inf;
        QList<TakenOutline> turnedOutlines;
        for (TakenOutline o : outlines.outlines) {
            for (QPointF& p : o.points)
                p = TurnedPoint(p, turn, width, height);
            turnedOutlines << o;
        }
        if (!WriteTakenOutlines(path, turnedOutlines, codec))
            notTurned << taken;
        QStringList notKept;
        const QStringList kept = KeepAside(notTurned, QDateTime::currentDateTime(), &notKept);
        QFile::remove(PageSourcePath(path)); // no longer the page Ghostscript wrote
        lock.release();
        if (!notTurned.isEmpty())
            MsgBox(this, QStringLiteral("回転した図面の記録を書けませんでした。\r\n") +
                             KeptAsideMessage(kept, notKept));
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
