#include "main/window/form1.h"

#include "common/exchange_files.h"
#include "common/message.h"
#include "common/numtext.h"
#include "common/outline_sketch.h"
#include "common/picturebox.h"
#include "common/point_log.h"
#include "common/registry.h"
#include "common/serial_line.h"
#include "common/tablet_records.h"
#include "common/textcodec.h"
#include "common/twips.h"
#include "common/uifont.h"
#include "main/digitizer/form3.h"
#include "main/takeoff/keypad.h"
#include "main/takeoff/takeoff.h"
#include "main/takeoff/workbook.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
#include <QTableView>

#include <algorithm>
#include <limits>

namespace {

int16_t ToInt16(double v) {
    v = std::clamp(v, double(std::numeric_limits<int16_t>::min()),
                   double(std::numeric_limits<int16_t>::max()));
    return static_cast<int16_t>(v);
}

} // namespace

Form1::Form1(QWidget* parent) : QWidget(parent), sheet_(new Worksheet(this)) {
    buildControls();
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

    Label2 = Place(new QLabel(QStringLiteral("受信データ"), this), "Label2",
                   Twips(240, 7095, 1095, 255));
    Text1 = Place(new QPlainTextEdit(this), "Text1", Twips(1440, 7035, 3015, 1695));
    Text1->setReadOnly(true);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // A multi-line box with only a vertical scroll bar wraps its lines.
    Text1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
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
    // narrowed a little, so that neighbouring options do not cut them.
    for (QWidget* w : std::initializer_list<QWidget*>{Option1, Option2, Option3, Option4, Check1}) {
        QFont f = w->font();
        for (int stretch = 95; stretch >= 70 && w->sizeHint().width() > w->width(); stretch -= 5) {
            f.setStretch(stretch);
            w->setFont(f);
        }
    }

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
    state_.GsDllPath = GhostscriptPath();
    // 5. The installation folder. A folder that does not exist is no
    // installation either: every file of the system lives in it.
    if (const QString problem = RegistryStartProblem(); !problem.isEmpty()) {
        MsgBox(this, problem);
        return false;
    }
    QString inst = ReadInstPath();
    if (!inst.isEmpty() && !inst.endsWith(QLatin1Char('/')))
        inst += QLatin1Char('/');
    if (inst.isEmpty() || !QFileInfo(inst).isDir()) {
        MsgBox(this, QStringLiteral("VarpadXLは正しくインストールされていません\r\n"
                                    "再度インストールをして下さい"));
        return false;
    }
    state_.instPath = inst;
    // 6.
    state_.rowNo = 2;
    state_.serialNo = 1;
    state_.takeoffName = QStringLiteral("拾い");
    Text2->setText(state_.takeoffName);
    // 7.
    showSerialNumber();
    // 8.
    reopenChosenPort();
    // 9.
    state_.outline.pointCount = 0;
    // 10.
    writeHeadingRow();
    return true;
}

void Form1::writeHeadingRow() {
    for (int c = 0; c < int(Worksheet::kHeadings.size()); ++c)
        sheet_->Cells(1, c + 1) = QString::fromUtf8(Worksheet::kHeadings[c]);
}

QString Form1::sketchName() const {
    if (Check1->isChecked())
        return state_.takeoffName + QLatin1Char('-') + QString::number(state_.serialNo);
    return state_.takeoffName;
}

void Form1::showSerialNumber() {
    if (Check1->isChecked()) {
        Text3->setText(QString::number(state_.serialNo));
        Text3->setEnabled(true);
    } else {
        Text3->setText(QStringLiteral(" "));
        Text3->setEnabled(false);
    }
}

void Form1::closePorts() {
    if (MSComm1->PortOpen())
        MSComm1->setPortOpen(false);
    if (MSComm2->PortOpen())
        MSComm2->setPortOpen(false);
}

void Form1::openPort(SerialLine* port) {
    QString error;
    if (!port->setPortOpen(true, &error))
        MsgBox(this, error);
    reception_.reset();
}

void Form1::reopenChosenPort() {
    if (Option1->isChecked() && !MSComm1->PortOpen())
        openPort(MSComm1);
    if (Option2->isChecked() && !MSComm2->PortOpen())
        openPort(MSComm2);
}

void Form1::selectOption(QRadioButton* chosen) {
    closePorts();
    for (QRadioButton* o : {Option1, Option2, Option3, Option4})
        o->setChecked(o == chosen);
}

void Form1::Option1_Click() {
    selectOption(Option1);
    Command5->setVisible(false);
    Label5->setVisible(false);
    Label6->setVisible(false);
    Text5->setVisible(false);
    openPort(MSComm1);
}

void Form1::Option2_Click() {
    selectOption(Option2);
    Command5->setVisible(false);
    Label5->setVisible(true);
    Label6->setVisible(true);
    Text5->setVisible(true);
    openPort(MSComm2);
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
        state_.serialNo = 1;
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
    state_.takeoffName = Text2->text();
    state_.serialNo = 1;
    showSerialNumber();
}

void Form1::Text3_Change() {
    state_.serialNo = ToInt16(RoundHalfEven(Val(Text3->text())));
}

void Form1::Command1_Click() {
    Command1->setEnabled(false);
    Command2->setEnabled(false);
    Picture1->clearPicture();
    Picture1->Cls();
    Text1->clear();
    receivedText_.clear();
    reopenChosenPort();
    state_.outline.pointCount = 0;
    state_.outline.finishedCount = 0;
    reception_.reset();
}

void Form1::Command2_Click() {
    OutlineStore& outline = state_.outline;
    // Lengths need a finished outline: while points are still arriving the
    // end record has not come and there is nothing to compute yet.
    if (outline.finishedCount < 1) {
        MsgBox(this, QStringLiteral("図形が完了していません。\r\n"
                                    "終点まで入力してから「実行」を押して下さい"));
        return;
    }
    // 1.
    Command1->setEnabled(false);
    Command2->setEnabled(false);
    // 2. - 5.
    const TakeoffRow row = ComputeTakeoffRow(outline, Text4->text());
    const int r = state_.rowNo;
    sheet_->Cells(r, 1) = state_.takeoffName + QLatin1Char('-') + QString::number(state_.serialNo);
    for (int c = 2; c <= 7; ++c)
        sheet_->Cells(r, c) = row.cell(c);
    // 6.
    Picture1->clearPicture();
    Picture1->Cls();
    Text1->clear();
    receivedText_.clear();
    // 7.
    state_.rowNo = static_cast<int16_t>(state_.rowNo + 1);
    state_.serialNo = static_cast<int16_t>(state_.serialNo + 1);
    // 8. The name is given again unchanged, so the new number stays.
    Text2->setText(state_.takeoffName);
    showSerialNumber();
    // 9.
    reopenChosenPort();
    // 10.
    outline.pointCount = 0;
    outline.finishedCount = 0;
    reception_.reset();
    afterRowWritten();
}

void Form1::afterRowWritten() {
    unsavedRows_ = true;
    writeRecovery();
}

void Form1::writeRecovery() {
    QString error;
    if (!WriteRecoveryWorkbook(*sheet_, state_.instPath, &error))
        MsgBox(this, QStringLiteral("控えのワークブックを書けませんでした。\r\n") + error);
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
    QString error;
    if (!SaveWorkbook(*sheet_, target, &error)) {
        MsgBox(this, error);
        return false;
    }
    lastSavePath_ = target;
    unsavedRows_ = false;
    return true;
}

bool Form1::offerToSave(const QString& question) {
    if (!unsavedRows_)
        return true;
    switch (MsgBoxYesNoCancel(this, question)) {
    case MsgAnswer::Yes:
        return SaveSheet();
    case MsgAnswer::No:
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
        QStringLiteral("エクセルファイル(*.xlsx;*.xsl) (*.xlsx *.xls)"), state_.instPath);
    if (path.isEmpty())
        return;
    // 2.-3. The workbook is read whole before the sheet is touched, so a file
    // that cannot be read leaves the sheet as it was.
    QString error;
    const std::optional<WorkbookData> book = ReadWorkbook(path, &error);
    if (!book) {
        MsgBox(this, error);
        return;
    }
    // The row after the copy must be one the sheet's row number can reach.
    if (book->usedRows >= std::numeric_limits<int16_t>::max()) {
        MsgBox(this, QStringLiteral("ワークブックの行が多すぎます（%1行）。\r\n"
                                    "%2行までのワークブックを選んで下さい")
                         .arg(book->usedRows)
                         .arg(std::numeric_limits<int16_t>::max() - 1));
        return;
    }
    // Rows taken since the last save would be replaced: offer to save them.
    if (!offerToSave(QStringLiteral("保存されていない行があります。\r\n"
                                    "読み込む前にワークシートを保存しますか？")))
        return;
    // 4.-5.
    const int left = CopyIntoSheet(*book, *sheet_);
    // 7.
    state_.rowNo = static_cast<int16_t>(std::min(book->usedRows + 1, 32767));
    state_.outline.pointCount = 0;
    unsavedRows_ = false;
    writeRecovery();
    if (left > 0)
        MsgBox(this, QStringLiteral("ワークブックの表がA1から始まっていないため、%1個のセルは"
                                    "読み込まれませんでした")
                         .arg(left));
}

void Form1::Command5_Click() {
    if (Option3->isChecked()) {
        Form3 digitizer(this);
        digitizer.exec();
        return;
    }
    if (!Option4->isChecked())
        return;
    const RuntimeCommand command = BuildRuntimeCommand(
        state_.instPath,
        RegistryText(QString::fromLatin1(kPointraKey), QStringLiteral("Runtime"),
                     QStringLiteral("cobcrun")),
        RegistryText(QString::fromLatin1(kPointraKey), QStringLiteral("Terminal"), QString()));
    // The window takes no input while the size input runs; it still repaints.
    const QString coordPath = CoordFilePath(state_.instPath);
    const FileStamp before = StampFile(coordPath);
    setEnabled(false);
    QString error;
    const int rc = RunAndWait(command, &error);
    setEnabled(true);
    if (rc == kRunNotStarted || rc == kRunCrashed) {
        MsgBox(this, error);
        return;
    }
    if (rc != 0) {
        // A size input that did not end normally delivers no outline: the
        // file may still hold an earlier one.
        MsgBox(this, QStringLiteral("サイズ入力が終了コード %1 で終わりました。\r\n"
                                    "座標は読み込みません")
                         .arg(rc));
        return;
    }
    // Behind a terminal the exit code is the terminal's: a file the run did
    // not touch is an earlier outline, not this one.
    if (StampFile(coordPath) == before && before.exists) {
        MsgBox(this, QStringLiteral("座標ファイルは更新されませんでした。\r\n"
                                    "サイズ入力が取り消されたため、座標は読み込みません"));
        return;
    }
    ReadCoordFile();
}

void Form1::ReadCoordFile() {
    // The file is read and checked whole first: a file that cannot be taken
    // leaves the outline store as it was.
    const CoordFileContent content =
        ReadCoordLines(CoordFilePath(state_.instPath), TextCodec::fromRegistry());
    if (!content.ok) {
        MsgBox(this, content.error);
        return;
    }
    OutlineStore taken;
    if (!FillOutlineStore(taken, content.lines)) {
        MsgBox(this, Reception::storeFullMessage());
        return;
    }
    for (const CoordLine& line : content.lines)
        appendLog(PointLogLine(line.xText, line.yText, line.codeText));
    state_.outline = taken;
    reception_.reset();
    DrawOutline(*Picture1, state_.outline, sketchName());
    Command1->setEnabled(true);
    Command2->setEnabled(true);
}

void Form1::Command3_Click() {
    reopenChosenPort();
}

void Form1::appendLog(const QString& text) {
    // The log keeps the lines as received, CR LF included; the box shows them
    // one per line.
    receivedText_ += text;
    QString shown = text;
    if (shown.endsWith(QStringLiteral("\r\n")))
        shown.chop(2);
    Text1->appendPlainText(shown);
    Text1->verticalScrollBar()->setValue(Text1->verticalScrollBar()->maximum());
}

void Form1::takeRecord(SerialLine* port, bool mt4500) {
    if (port->CommEvent() == 2) {
        const QByteArray r = port->Input();
        const ParseResult parsed =
            mt4500 ? ParseMt4500Record(r) : ParseT5160Record(r, Text5->text());
        const ReceptionOutcome got = reception_.take(parsed, state_.outline);
        if (!got.logLine.isEmpty())
            appendLog(got.logLine);
        if (got.endOfOutline) {
            port->setPortOpen(false);
            DrawOutline(*Picture1, state_.outline, sketchName());
        }
        if (!got.message.isEmpty())
            MsgBox(this, got.message);
    } else if (port->CommEvent() == kComEvCD || port->CommEvent() == kComEventRxOver) {
        // The device went away or sent more than the line can hold: say so,
        // the points taken so far stay.
        if (!port->errorText().isEmpty())
            MsgBox(this, port->errorText());
    }
    Command1->setEnabled(true);
    Command2->setEnabled(true);
}

void Form1::MSComm1_OnComm() {
    takeRecord(MSComm1, true);
}

void Form1::MSComm2_OnComm() {
    takeRecord(MSComm2, false);
}

void Form1::Form_Unload() {
    if (unloaded_)
        return;
    unloaded_ = true;
    closePorts();
    if (!state_.statePath.isEmpty()) {
        QFile f(state_.statePath);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.close();
    }
}

void Form1::closeEvent(QCloseEvent* event) {
    if (!offerToSave(QStringLiteral("保存されていない行があります。\r\n"
                                    "終了する前にワークシートを保存しますか？"))) {
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}
