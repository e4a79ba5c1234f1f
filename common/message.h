#pragma once
// Modal messages to the user. Every window shows its messages through these
// functions, so that a test (or a batch run) can take them instead of a
// dialog that would wait for a click.

#include <QString>

#include <functional>

class QWidget;

// Title of every message box of a program (the program's own name).
void SetMessageTitle(const QString& title);
QString MessageTitle();

// Shows text in a modal box with an OK button.
void MsgBox(QWidget* parent, const QString& text);

// Asks a question with OK and Cancel; true for OK.
bool MsgBoxOkCancel(QWidget* parent, const QString& text);

// Asks a yes/no/cancel question (used before unsaved work would be replaced).
enum class MsgAnswer { Yes, No, Cancel };
MsgAnswer MsgBoxYesNoCancel(QWidget* parent, const QString& text);

// A hook that receives every message instead of the dialog. The hook returns
// the answer for questions (ignored for plain messages). Pass an empty
// function to restore the dialogs.
using MessageHook = std::function<MsgAnswer(const QString& text)>;
void SetMessageHook(MessageHook hook);

// File dialogs (open and save). filter is in Qt's form
// ("エクセルファイル (*.xlsx *.xls)"). An empty result means cancelled.
QString GetOpenFileName(QWidget* parent, const QString& caption, const QString& filter,
                        const QString& folder = QString());
QString GetSaveFileName(QWidget* parent, const QString& caption, const QString& filter,
                        const QString& suggestedPath = QString());

// A hook that answers the file dialogs instead of the user (tests).
using FileDialogHook = std::function<QString(bool save, const QString& filter)>;
void SetFileDialogHook(FileDialogHook hook);
