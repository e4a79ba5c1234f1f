#include "main/window/form1.h"

#include "common/core/atomic_file.h"
#include "common/core/exchange_files.h"
#include "common/core/installation.h"
#include "common/core/numtext.h"
#include "common/core/point_log.h"
#include "common/core/refusals.h"
#include "common/core/registry.h"
#include "common/core/tablet_records.h"
#include "common/core/textcodec.h"
#include "common/serial/serial_line.h"
#include "common/ui/message.h"
#include "common/ui/outline_sketch.h"
#include "common/ui/picturebox.h"
#include "common/ui/twips.h"
#include "common/ui/uifont.h"
#include "main/image/drawing_choice.h"
#include "main/takeoff/keypad_source.h"
#include "main/takeoff/recovery.h"
#include "main/takeoff/tablet_source.h"
#include "main/takeoff/takeoff.h"
#include "main/takeoff/workbook.h"
#include "main/window/digitizer_source.h"
#include "main/window/form2.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
#include <QTableView>

#include <algorithm>
#include <limits>
#include <set>
#include <utility>

#include <unistd.h>

Form1::Form1(QWidget* parent)
    : QWidget(parent), sheet_(new Worksheet(this)), session_(new TakeoffSession(*sheet_, this)) {
    buildControls();
    session_->setSketchHeight(Picture1->ScaleHeight());
    connect(session_, &TakeoffSession::logAppended, this, &Form1::showLogAppended);
    connect(session_, &TakeoffSession::logReset, this, &Form1::showLog);
    connect(session_, &TakeoffSession::sketchReady, this, &Form1::showSketch);
    connect(session_, &TakeoffSession::thumbnailReady, this, &Form1::showThumbnail);

    mt4500Road_ = new TabletSource(*session_, *MSComm1, TabletSource::Model::MT4500, this);
    t5160Road_ = new TabletSource(*session_, *MSComm2, TabletSource::Model::T5160, this);
    digitizerRoad_ = new DigitizerSource(*session_, this);
    keypadRoad_ = new KeypadSource(*session_, this);
    connect(Text5, &QLineEdit::textChanged, t5160Road_, &TabletSource::setScaleText);
    connect(Check1, &QCheckBox::toggled, session_, &TakeoffSession::setNumbered);
    for (OutlineSource* road : std::initializer_list<OutlineSource*>{mt4500Road_, t5160Road_,
                                                                     digitizerRoad_, keypadRoad_}) {
        connect(road, &OutlineSource::said, this, [this](const QString& m) { MsgBox(this, m); });
        connect(road, &OutlineSource::received, this, &Form1::enableOutlineButtons);
        connect(road, &OutlineSource::runningChanged, this,
                [this](bool running) { setEnabled(!running); });
    }
}

Form1::~Form1() = default;

void Form1::buildControls() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tallio(Excel連携)"));
    setFixedSize(Twips(0, 0, 15240, 9390).size());
    const QFont uiFont = JapaneseUiFont(11.25);

    Label1 =
        Place(new QLabel(QStringLiteral("処理名称"), this), "Label1", Twips(240, 315, 975, 255));
    Text2 = Place(new QLineEdit(this), "Text2", Twips(1230, 270, 2055, 330));
    Label3 = Place(new QLabel(QStringLiteral("－"), this), "Label3", Twips(3330, 360, 180, 195));
    Text3 = Place(new QLineEdit(this), "Text3", Twips(3540, 270, 375, 330));
    Text3->setAlignment(Qt::AlignCenter);
    Check1 =
        Place(new QCheckBox(QStringLiteral("連番"), this), "Check1", Twips(4080, 315, 855, 255));
    Command5 = Place(new QPushButton(this), "Command5", Twips(5640, 210, 480, 480));
    Command5->setToolTip(QStringLiteral("デジタイザで数量拾い"));
    Command5->setIcon(style()->standardIcon(QStyle::SP_ComputerIcon));
    Label4 = Place(new QLabel(QStringLiteral("天井高（mm）"), this), "Label4",
                   Twips(6360, 315, 1335, 255));
    Text4 = Place(new QLineEdit(this), "Text4", Twips(7680, 270, 735, 330));
    Command4 = Place(new QPushButton(this), "Command4", Twips(8640, 210, 480, 480));
    Command4->setToolTip(QStringLiteral("過去の積算を編集"));
    Command4->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));

    CommandSave = Place(new QPushButton(this), "CommandSave", Twips(9135, 210, 450, 480));
    CommandSave->setToolTip(QStringLiteral("ワークシートを保存 (Ctrl+S)"));
    CommandSave->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    auto* saveKey = new QShortcut(QKeySequence::Save, this);
    connect(saveKey, &QShortcut::activated, this, &Form1::SaveSheet);

    Frame1 = Place(new QGroupBox(QStringLiteral("入力デバイス"), this), "Frame1",
                   Twips(9600, 60, 5415, 650));
    Option4 = Place(new QRadioButton(QStringLiteral("KeyIN"), Frame1), "Option4",
                    Twips(360, 250, 1095, 240));
    Option3 = Place(new QRadioButton(QStringLiteral("Varpad"), this), "Option3",
                    Twips(11160, 345, 1095, 240));
    Option1 = Place(new QRadioButton(QStringLiteral("MT4500"), this), "Option1",
                    Twips(12360, 345, 1095, 240));
    Option2 = Place(new QRadioButton(QStringLiteral("T5160-25"), this), "Option2",
                    Twips(13560, 345, 1335, 240));

    Picture1 = Place(new PictureBox(this), "Picture1", Twips(0, 840, 6000, 6000));
    OLE1 = Place(new QTableView(this), "OLE1", Twips(6210, 810, 8775, 8295));
    OLE1->setModel(sheet_);
    // The sheet opens on A1:H31, as the embedded worksheet did.
    OLE1->horizontalHeader()->setMinimumSectionSize(20);
    OLE1->verticalHeader()->setMinimumSectionSize(12);
    OLE1->horizontalHeader()->setDefaultSectionSize(66);
    OLE1->verticalHeader()->setDefaultSectionSize(16);
    OLE1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    OLE1->verticalHeader()->setFixedWidth(28);
    // Cells are edited in place, as in a spreadsheet: typing starts an edit,
    // Delete empties the selected cells, the context menu inserts and deletes
    // rows.
    OLE1->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                          QAbstractItemView::AnyKeyPressed);
    auto* clearKey = new QAction(OLE1);
    clearKey->setShortcut(QKeySequence::Delete);
    clearKey->setShortcutContext(Qt::WidgetShortcut);
    OLE1->addAction(clearKey);
    connect(clearKey, &QAction::triggered, this, &Form1::clearSelectedCells);
    OLE1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(OLE1, &QWidget::customContextMenuRequested, this, &Form1::showSheetMenu);
    connect(sheet_, &Worksheet::edited, this, &Form1::sheetChanged);

    Label2 = Place(new QLabel(QStringLiteral("受信データ"), this), "Label2",
                   Twips(240, 7095, 1095, 255));
    Text1 = Place(new QPlainTextEdit(this), "Text1", Twips(1440, 7035, 3015, 1695));
    Text1->setReadOnly(true);
    // A record stays on its line: no wrapping, a horizontal scroll bar for
    // what is wider than the box.
    Text1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Label5 =
        Place(new QLabel(QStringLiteral("縮尺設定"), this), "Label5", Twips(300, 7600, 975, 240));
    Label6 = Place(new QLabel(QStringLiteral("1/"), this), "Label6", Twips(340, 7950, 255, 240));
    Text5 = Place(new QLineEdit(this), "Text5", Twips(680, 7900, 550, 300));
    Command3 = Place(new QPushButton(QStringLiteral("設定"), this), "Command3",
                     Twips(4920, 7155, 1095, 400));
    Command1 = Place(new QPushButton(QStringLiteral("キャンセル"), this), "Command1",
                     Twips(4920, 7635, 1095, 400));
    Command2 = Place(new QPushButton(QStringLiteral("実行"), this), "Command2",
                     Twips(4920, 8115, 1095, 375));

    for (QWidget* w : std::initializer_list<QWidget*>{
             Label1, Text2, Label3, Text3, Check1, Label4, Text4, Frame1, Option4, Option3, Option1,
             Option2, Label2, Text1, Label5, Label6, Text5})
        w->setFont(uiFont);

    // Captions wider than their design width in the fallback font are
    // narrowed a little, so that neighbouring options do not cut them: the
    // four options share one stretch, the widest that fits them all, so they
    // read alike.
    const auto narrowToFit = [](const std::initializer_list<QWidget*>& group) {
        QFont f = (*group.begin())->font();
        const auto fits = [&] {
            return std::all_of(group.begin(), group.end(),
                               [](QWidget* w) { return w->sizeHint().width() <= w->width(); });
        };
        for (int stretch = 95; stretch >= 70 && !fits(); stretch -= 5) {
            f.setStretch(stretch);
            for (QWidget* w : group)
                w->setFont(f);
        }
    };
    narrowToFit({Option1, Option2, Option3, Option4});
    narrowToFit({Check1});
    // The frame's caption sits on its border line, as the frame was designed.
    Frame1->setStyleSheet(QStringLiteral(
        "QGroupBox#Frame1 { border: 1px solid palette(mid); border-radius: 2px;"
        " margin-top: 0.5em; }"
        "QGroupBox#Frame1::title { subcontrol-origin: margin; subcontrol-position: top left;"
        " left: 8px; padding: 0 2px; }"));

    // The name takes Japanese text; the number fields take digits only, with
    // the input method off.
    Text2->setInputMethodHints(Qt::ImhPreferLowercase);
    for (QLineEdit* e : {Text3, Text4, Text5}) {
        e->setInputMethodHints(Qt::ImhPreferNumbers | Qt::ImhNoPredictiveText);
        e->setAttribute(Qt::WA_InputMethodEnabled, false);
    }

    // The options live in two parents (Option4 in the frame), so the platform
    // does not group them: every handler sets all four itself.
    for (QRadioButton* o : {Option1, Option2, Option3, Option4})
        o->setAutoExclusive(false);
    Check1->setChecked(true);

    MSComm1 = new SerialLine(QStringLiteral("VarpadLumo"), QStringLiteral("MSComm1"),
                             RecordFramer::Mode::FixedLength, this);
    MSComm1->setObjectName(QStringLiteral("MSComm1"));
    MSComm2 = new SerialLine(QStringLiteral("VarpadLumo"), QStringLiteral("MSComm2"),
                             RecordFramer::Mode::Line, this);
    MSComm2->setObjectName(QStringLiteral("MSComm2"));

    auto optionClick = [this](QRadioButton* o, void (Form1::*handler)()) {
        connect(o, &QRadioButton::clicked, this, [this, o, handler](bool checked) {
            // Clicking the option that is already chosen changes nothing.
            if (!checked) {
                o->setChecked(true);
                return;
            }
            (this->*handler)();
        });
    };
    optionClick(Option1, &Form1::Option1_Click);
    optionClick(Option2, &Form1::Option2_Click);
    optionClick(Option3, &Form1::Option3_Click);
    optionClick(Option4, &Form1::Option4_Click);
    connect(Check1, &QCheckBox::clicked, this, &Form1::Check1_Click);
    connect(Text2, &QLineEdit::textChanged, this, &Form1::Text2_Change);
    connect(Text3, &QLineEdit::textChanged, this, &Form1::Text3_Change);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(CommandSave, &QPushButton::clicked, this, &Form1::SaveSheet);
    connect(MSComm1, &SerialLine::OnComm, this, &Form1::MSComm1_OnComm);
    connect(MSComm2, &SerialLine::OnComm, this, &Form1::MSComm2_OnComm);
}

bool Form1::Form_Load() {
    // 1.
    Command1->setEnabled(false);
    Command2->setEnabled(false);
    // 2. "KeyIN" chosen; its handler applies the mode.
    Option1->setChecked(false);
    Option2->setChecked(false);
    Option3->setChecked(false);
    Option4->setChecked(true);
    Option4_Click();
    // 3.
    Label5->setVisible(false);
    Label6->setVisible(false);
    Text5->setVisible(false);
    Check1->setChecked(true);
    Command5->setVisible(true);
    // 4.
    const QString ghostscript = GhostscriptPath();
    // 5. The installation folder. A folder that does not exist is no
    // installation either: every file of the system lives in it. The
    // message says what is wrong after the two lines of the original.
    const InstallationCheck installation = CheckInstallation();
    // A folder another session holds is no installation fault: said alone.
    if (installation.inUse) {
        MsgBox(this, installation.problem);
        return false;
    }
    if (!installation.problem.isEmpty()) {
        MsgBox(this, QStringLiteral("VarpadXLは正しくインストールされていません\r\n"
                                    "再度インストールをして下さい\r\n\r\n") +
                         installation.problem);
        return false;
    }
    session_->setInstallation(installation.instPath, ghostscript);
    // 6.
    session_->setRowNo(2);
    session_->setTakeoffName(QStringLiteral("拾い"));
    Text2->setText(session_->takeoffName());
    // 7.
    showSerialNumber();
    // 8.-9.
    reopenChosenPort();
    // 10.
    writeHeadingRow();
    recoveryFound_ = FindRecoveryWorkbook(session_->instPath());
    recoveryHeld_ = recoveryFound_.state == RecoveryFound::State::Unsaved ||
                    recoveryFound_.state == RecoveryFound::State::Unreadable;
    return true;
}

void Form1::offerRecovery() {
    RecoveryFound found = std::exchange(recoveryFound_, RecoveryFound{});
    const QDateTime now = QDateTime::currentDateTime();
    switch (found.state) {
    case RecoveryFound::State::None:
    case RecoveryFound::State::Saved:
        return;
    case RecoveryFound::State::Unreadable:
        MsgBox(this, found.error + QStringLiteral("\r\n控えのワークブックを読み込めないため、"
                                                  "日付を付けた名前で残します"));
        keepRecoveryAside(now);
        return;
    case RecoveryFound::State::Unsaved:
        break;
    }
    const QString kept = QFileInfo(RecoveryWorkbookPath(session_->instPath())).completeBaseName() +
                         now.toString(QStringLiteral("-yyyyMMdd-HHmmss")) + QStringLiteral(".xlsx");
    recoveryHeld_ = false; // the file holds the rows the sheet now holds
    if (!MsgBoxYesNo(this, QStringLiteral("前回保存されなかった行が控えのワークブックにあります"
                                          "（%1 行目まで）。\r\n"
                                          "ワークシートに戻しますか？\r\n"
                                          "（いいえ: 控えを %2 として残します）")
                               .arg(found.data.lastRow())
                               .arg(kept))) {
        keepRecoveryAside(now);
        return;
    }
    // As a past workbook is loaded, but the rows stay unsaved; the take-off
    // goes on where it stopped: the name and the next number of the last
    // row's label (Text2 first, since a new name sets the number to 1).
    CopyIntoSheet(found.data, *sheet_);
    followLastRow();
    unsavedRows_ = true;
    const QVariant label = sheet_->Cells(sheet_->usedRows(), 1).value();
    if (label.typeId() != QMetaType::QString)
        return;
    if (const auto next = ContinueFromRowLabel(label.toString())) {
        Text2->setText(next->takeoffName);
        if (Check1->isChecked())
            Text3->setText(QString::number(next->serialNo));
        else
            session_->setSerialNo(next->serialNo);
    }
}

bool Form1::keepRecoveryAside(const QDateTime& when) {
    const Result<QString> kept = KeepRecoveryWorkbook(session_->instPath(), when);
    if (kept) {
        recoveryHeld_ = false;
        return true;
    }
    recoveryHeld_ = true;
    MsgBox(this,
           kept.error() + QStringLiteral("\r\n控えのワークブックには前回の行が残っているため、"
                                         "この作業の行は控えに書きません。こまめに保存して下さい"));
    return false;
}

void Form1::writeHeadingRow() {
    for (int c = 0; c < int(Worksheet::kHeadings.size()); ++c)
        sheet_->Cells(1, c + 1) = QString::fromUtf8(Worksheet::kHeadings[c]);
}

void Form1::showSerialNumber() {
    if (Check1->isChecked()) {
        Text3->setText(QString::number(session_->serialNo()));
        Text3->setEnabled(true);
    } else {
        Text3->setText(QStringLiteral(" "));
        Text3->setEnabled(false);
    }
}

OutlineSource* Form1::roadOf(QRadioButton* option) const {
    if (option == Option1)
        return mt4500Road_;
    if (option == Option2)
        return t5160Road_;
    if (option == Option3)
        return digitizerRoad_;
    return keypadRoad_;
}

void Form1::stopRoads() {
    for (OutlineSource* road : std::initializer_list<OutlineSource*>{mt4500Road_, t5160Road_,
                                                                     digitizerRoad_, keypadRoad_})
        road->stop();
}

void Form1::reopenChosenPort() {
    if (road_)
        road_->resume();
}

void Form1::selectOption(QRadioButton* chosen) {
    stopRoads();
    for (QRadioButton* o : {Option1, Option2, Option3, Option4})
        o->setChecked(o == chosen);
    road_ = roadOf(chosen);
}

void Form1::Option1_Click() {
    selectOption(Option1);
    Command5->setVisible(false);
    Label5->setVisible(false);
    Label6->setVisible(false);
    Text5->setVisible(false);
    road_->start();
}

void Form1::Option2_Click() {
    selectOption(Option2);
    Command5->setVisible(false);
    Label5->setVisible(true);
    Label6->setVisible(true);
    Text5->setVisible(true);
    road_->start();
    MsgBox(this, QStringLiteral("最初に縮尺を設定して下さい"));
}

void Form1::Option3_Click() {
    selectOption(Option3);
    Command5->setVisible(true);
    Label5->setVisible(false);
    Label6->setVisible(false);
    Text5->setVisible(false);
}

void Form1::Option4_Click() {
    selectOption(Option4);
    Command5->setVisible(true);
    Label5->setVisible(false);
    Label6->setVisible(false);
    Text5->setVisible(false);
}

void Form1::Check1_Click() {
    if (Check1->isChecked()) {
        session_->setSerialNo(1);
        Text3->setText(QStringLiteral("1"));
        Text3->setEnabled(true);
        Text3->setVisible(true);
        Label3->setVisible(true);
    } else {
        Text3->setText(QStringLiteral(" "));
        Text3->setEnabled(false);
        Text3->setVisible(false);
        Label3->setVisible(false);
    }
}

void Form1::Text2_Change() {
    session_->setTakeoffName(Text2->text());
    showSerialNumber();
}

void Form1::Text3_Change() {
    session_->setSerialText(Text3->text());
}

void Form1::Command1_Click() {
    Command1->setEnabled(false);
    Command2->setEnabled(false);
    Picture1->clearPicture();
    Picture1->Cls();
    session_->cancel();
    reopenChosenPort();
}

void Form1::Command2_Click() {
    const RowOutcome row = session_->writeRow(Text4->text());
    if (!row.written) {
        MsgBox(this, row.refusal);
        return;
    }
    Command1->setEnabled(false);
    Command2->setEnabled(false);
    Picture1->clearPicture();
    Picture1->Cls();
    // The name is given again unchanged, so the new number stays.
    Text2->setText(session_->takeoffName());
    showSerialNumber();
    reopenChosenPort();
    if (!row.warning.isEmpty())
        MsgBox(this, row.warning);
    sheetChanged();
}

void Form1::sheetChanged() {
    unsavedRows_ = true;
    followLastRow();
    writeRecovery();
}

void Form1::followLastRow() {
    session_->setRowNo(static_cast<int16_t>(std::clamp(sheet_->usedRows() + 1, 2, 32767)));
}

void Form1::writeRecovery() {
    if (recoveryHeld_)
        return;
    if (const auto written = WriteRecoveryWorkbook(*sheet_, session_->instPath(), !unsavedRows_);
        !written)
        MsgBox(this,
               QStringLiteral("控えのワークブックを書けませんでした。\r\n") + written.error());
}

bool Form1::SaveSheet() {
    const QString path =
        GetSaveFileName(this, QStringLiteral("ワークシートの保存"),
                        QStringLiteral("エクセルファイル (*.xlsx)"), lastSavePath_);
    if (path.isEmpty())
        return false;
    QString target = path;
    if (!target.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive))
        target += QStringLiteral(".xlsx");
    if (const auto saved = SaveWorkbook(*sheet_, target); !saved) {
        MsgBox(this, saved.error());
        return false;
    }
    lastSavePath_ = target;
    unsavedRows_ = false;
    // The recovery workbook now holds rows that are saved: not offered again.
    writeRecovery();
    return true;
}

bool Form1::offerToSave(const QString& question) {
    if (!unsavedRows_)
        return true;
    switch (MsgBoxYesNoCancel(this, question)) {
    case MsgAnswer::Yes:
        return SaveSheet();
    case MsgAnswer::No:
        // Declined, but not destroyed: the rows stay in the dated recovery workbook.
        if (!recoveryHeld_)
            keepRecoveryAside(QDateTime::currentDateTime());
        return true;
    case MsgAnswer::Cancel:
        break;
    }
    return false;
}

void Form1::Command4_Click() {
    // 1. The file dialog; a cancelled dialog changes nothing.
    const QString path = GetOpenFileName(
        this, QStringLiteral("過去の積算を編集"),
        QStringLiteral("エクセルファイル(*.xlsx;*.xsl) (*.xlsx *.xls)"), session_->instPath());
    if (path.isEmpty())
        return;
    // 2.-3. The workbook is read whole before the sheet is touched, so a file
    // that cannot be read leaves the sheet as it was.
    const Result<WorkbookData> book = ReadWorkbook(path);
    if (!book) {
        MsgBox(this, book.error());
        return;
    }
    // Rows taken since the last save would be replaced: offer to save them.
    if (!offerToSave(QStringLiteral("保存されていない行があります。\r\n"
                                    "読み込む前にワークシートを保存しますか？")))
        return;
    // 4.-5. Every cell at its own address.
    CopyIntoSheet(*book, *sheet_);
    // 7. The row after the last used one; the outline of before the load is
    // discarded as "キャンセル" does, so "実行" cannot write it below the rows.
    followLastRow();
    Command1_Click();
    unsavedRows_ = false;
    writeRecovery();
}

void Form1::Command5_Click() {
    if (!road_)
        return;
    // A finished outline whose row is not written is not taken over.
    if (road_->replacesFinishedOutline() && session_->outline().endReceived()) {
        if (!MsgBoxYesNo(this, QStringLiteral("「実行」していない図形があります。\r\n"
                                              "この図形を破棄して、新しく拾いますか？")))
            return;
        Command1_Click();
    }
    road_->takeOutline(this);
}

bool Form1::keypadRunning() const {
    return keypadRoad_->running();
}

void Form1::ReadCoordFile() {
    keypadRoad_->readCoordFile();
}

Form2& Form1::form2() {
    return digitizerRoad_->form2(this);
}

void Form1::enableOutlineButtons() {
    Command1->setEnabled(true);
    Command2->setEnabled(true);
}

void Form1::showSketch(const SketchGeometry& geometry, bool fresh) {
    // An outline that replaces the store replaces its sketch too.
    if (fresh) {
        Picture1->clearPicture();
        Picture1->Cls();
    }
    DrawSketch(*Picture1, geometry, sketchName());
}

void Form1::showThumbnail(const QString& path) {
    const QImage thumbnail(path);
    if (thumbnail.isNull())
        Picture1->clearPicture();
    else
        Picture1->setPicture(thumbnail);
    enableOutlineButtons();
}

void Form1::Command3_Click() {
    reopenChosenPort();
}

void Form1::showLog(const QString& text) {
    QString shown = text;
    if (shown.endsWith(QStringLiteral("\r\n")))
        shown.chop(2);
    Text1->setPlainText(shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    Text1->verticalScrollBar()->setValue(Text1->verticalScrollBar()->maximum());
}

void Form1::showLogAppended(const QString& text) {
    // The log keeps the lines as received, CR LF included; the box shows them
    // one per line.
    QString shown = text;
    if (shown.endsWith(QStringLiteral("\r\n")))
        shown.chop(2);
    for (const QString& line : shown.split(QStringLiteral("\r\n")))
        Text1->appendPlainText(line);
    Text1->verticalScrollBar()->setValue(Text1->verticalScrollBar()->maximum());
}

void Form1::MSComm1_OnComm() {
    mt4500Road_->takeLineReport();
}

void Form1::MSComm2_OnComm() {
    t5160Road_->takeLineReport();
}

void Form1::Form_Unload() {
    if (unloaded_)
        return;
    unloaded_ = true;
    stopRoads();
    // The view state lasts one run. Emptied by a replacement, so a FIFO or a
    // device in its place is refused instead of waited on or written to.
    const QString statePath = session_->drawing().statePath;
    if (!statePath.isEmpty())
        if (const auto emptied = WriteFileAtomically(statePath, {}); !emptied)
            MsgBox(this, QStringLiteral("表示状態のファイルを空にできませんでした:\r\n") +
                             emptied.error());
}

void Form1::closeEvent(QCloseEvent* event) {
    if (keypadRunning()) {
        MsgBox(this, QStringLiteral("サイズ入力の実行中は終了できません。\r\n"
                                    "サイズ入力を終えてから閉じて下さい"));
        event->ignore();
        return;
    }
    if (!offerToSave(QStringLiteral("保存されていない行があります。\r\n"
                                    "終了する前にワークシートを保存しますか？"))) {
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void Form1::clearSelectedCells() {
    // Bound to the view itself: while a cell editor has the focus, Delete is the editor's.
    sheet_->clearCells(OLE1->selectionModel()->selectedIndexes());
}

void Form1::insertSheetRow(int row) {
    if (row < 1)
        return;
    if (!sheet_->insertRows(row - 1, 1))
        MsgBox(this, QStringLiteral("ワークシートは %1 行目までです。これ以上行を挿入できません")
                         .arg(Worksheet::kLastRow));
}

void Form1::deleteSheetRows(int firstRow, int count) {
    if (firstRow >= 1 && count >= 1)
        sheet_->removeRows(firstRow - 1, count);
}

void Form1::showSheetMenu(const QPoint& position) {
    const int row = OLE1->rowAt(position.y()) + 1;
    if (row < 1)
        return;
    // The rows the menu acts on: the selected ones when the click is on one
    // of them, else the row clicked.
    std::set<int> rows;
    for (const QModelIndex& i : OLE1->selectionModel()->selectedIndexes())
        rows.insert(i.row() + 1);
    if (!rows.count(row))
        rows = {row};
    QMenu menu(this);
    QAction* insert = menu.addAction(QStringLiteral("行を挿入"));
    QAction* remove =
        menu.addAction(rows.size() > 1 ? QStringLiteral("%1 行を削除").arg(rows.size())
                                       : QStringLiteral("行を削除"));
    QAction* chosen = menu.exec(OLE1->viewport()->mapToGlobal(position));
    if (chosen == insert) {
        insertSheetRow(*rows.begin());
    } else if (chosen == remove) {
        // From the bottom up, a run of neighbouring rows at a time.
        for (auto it = rows.rbegin(); it != rows.rend();) {
            const int last = *it;
            int first = last;
            for (++it; it != rows.rend() && *it == first - 1; ++it)
                first = *it;
            deleteSheetRows(first, last - first + 1);
        }
    }
}
