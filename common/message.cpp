#include "common/message.h"

#include <QApplication>
#include <QFileDialog>
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
FileDialogHook& fileHook() {
    static FileDialogHook h;
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

void MsgBox(QWidget* parent, const QString& text) {
    if (hook()) {
        hook()(text);
        return;
    }
    QMessageBox::information(parent, effectiveTitle(), text, QMessageBox::Ok);
}

bool MsgBoxOkCancel(QWidget* parent, const QString& text) {
    if (hook())
        return hook()(text) != MsgAnswer::Cancel;
    return QMessageBox::question(parent, effectiveTitle(), text,
                                 QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Ok) == QMessageBox::Ok;
}

MsgAnswer MsgBoxYesNoCancel(QWidget* parent, const QString& text) {
    if (hook())
        return hook()(text);
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
