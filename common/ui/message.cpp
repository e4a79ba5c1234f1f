#include "common/ui/message.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace {
QString& title() {
    static QString t;
    return t;
}
MessageHook& hook() {
    static MessageHook h;
    return h;
}
TitledMessageHook& titledHook() {
    static TitledMessageHook h;
    return h;
}
FileDialogHook& fileHook() {
    static FileDialogHook h;
    return h;
}
InputBoxHook& inputHook() {
    static InputBoxHook h;
    return h;
}
QString effectiveTitle() {
    return title().isEmpty() ? QCoreApplication::applicationName() : title();
}
} // namespace

void SetMessageTitle(const QString& t) {
    title() = t;
}
QString MessageTitle() {
    return effectiveTitle();
}
void SetMessageHook(MessageHook h) {
    hook() = std::move(h);
}

void SetTitledMessageHook(TitledMessageHook h) {
    titledHook() = std::move(h);
}

// The answer of a hook when one is set.
static std::optional<MsgAnswer> hooked(const QString& title, const QString& text) {
    if (titledHook())
        return titledHook()(title, text);
    if (hook())
        return hook()(text);
    return std::nullopt;
}

void MsgBox(QWidget* parent, const QString& text) {
    MsgBox(parent, text, effectiveTitle());
}

void MsgBox(QWidget* parent, const QString& text, const QString& title) {
    if (hooked(title, text))
        return;
    QMessageBox::information(parent, title, text, QMessageBox::Ok);
}

bool MsgBoxOkCancel(QWidget* parent, const QString& text) {
    if (const auto answer = hooked(effectiveTitle(), text))
        return *answer != MsgAnswer::Cancel;
    return QMessageBox::question(parent, effectiveTitle(), text,
                                 QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Ok) == QMessageBox::Ok;
}

bool MsgBoxYesNo(QWidget* parent, const QString& text) {
    if (const auto answer = hooked(effectiveTitle(), text))
        return *answer == MsgAnswer::Yes;
    return QMessageBox::question(parent, effectiveTitle(), text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::Yes) == QMessageBox::Yes;
}

MsgAnswer MsgBoxYesNoCancel(QWidget* parent, const QString& text) {
    if (const auto answer = hooked(effectiveTitle(), text))
        return *answer;
    auto r = QMessageBox::question(parent, effectiveTitle(), text,
                                   QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                   QMessageBox::Yes);
    if (r == QMessageBox::Yes)
        return MsgAnswer::Yes;
    if (r == QMessageBox::No)
        return MsgAnswer::No;
    return MsgAnswer::Cancel;
}

void SetFileDialogHook(FileDialogHook h) {
    fileHook() = std::move(h);
}

QString GetOpenFileName(QWidget* parent, const QString& caption, const QString& filter,
                        const QString& folder) {
    if (fileHook())
        return fileHook()(false, filter);
    return QFileDialog::getOpenFileName(parent, caption, folder, filter);
}

QString GetSaveFileName(QWidget* parent, const QString& caption, const QString& filter,
                        const QString& suggestedPath) {
    if (fileHook())
        return fileHook()(true, filter);
    return QFileDialog::getSaveFileName(parent, caption, suggestedPath, filter);
}

void SetInputBoxHook(InputBoxHook h) {
    inputHook() = std::move(h);
}

std::optional<QString> InputBox(QWidget* parent, const QString& prompt, const QString& title,
                                const QString& defaultText) {
    if (inputHook())
        return inputHook()(prompt, title);
    bool ok = false;
    const QString text =
        QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, defaultText, &ok);
    if (!ok)
        return std::nullopt;
    return text;
}
