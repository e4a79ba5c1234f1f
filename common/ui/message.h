#pragma once
// Modal messages to the user. Every window shows its messages through these
// functions, so that a test (or a batch run) can take them instead of a
// dialog that would wait for a click.

#include <QString>

#include <functional>
#include <optional>

class QWidget;

// Title of every message box of a program (the program's own name).
void SetMessageTitle(const QString& title);
QString MessageTitle();

// Shows text in a modal box with an OK button.
void MsgBox(QWidget* parent, const QString& text);
// The same under a title of its own instead of the program's.
void MsgBox(QWidget* parent, const QString& text, const QString& title);

// Asks a question with OK and Cancel; true for OK.
bool MsgBoxOkCancel(QWidget* parent, const QString& text);

// Asks a yes/no question; true for Yes (a hook's Yes).
bool MsgBoxYesNo(QWidget* parent, const QString& text);

// Asks a yes/no/cancel question (used before unsaved work would be replaced).
enum class MsgAnswer { Yes, No, Cancel };
MsgAnswer MsgBoxYesNoCancel(QWidget* parent, const QString& text);

// A hook that receives every message instead of the dialog. The hook returns
// the answer for questions (ignored for plain messages). Pass an empty
// function to restore the dialogs.
using MessageHook = std::function<MsgAnswer(const QString& text)>;
void SetMessageHook(MessageHook hook);
// The same with the box's title as well; when set it is asked instead of the
// plain hook.
using TitledMessageHook = std::function<MsgAnswer(const QString& title, const QString& text)>;
void SetTitledMessageHook(TitledMessageHook hook);

// A modal input box with a prompt and a title: the text typed, or nothing
// when the user cancelled (an empty text when OK was pressed on an empty box).
std::optional<QString> InputBox(QWidget* parent, const QString& prompt, const QString& title,
                                const QString& defaultText = QString());
// A hook that answers the input boxes instead of the user (tests).
using InputBoxHook =
    std::function<std::optional<QString>(const QString& prompt, const QString& title)>;
void SetInputBoxHook(InputBoxHook hook);

// File dialogs (open and save). filter is in Qt's form
// ("エクセルファイル (*.xlsx *.xls)"). An empty result means cancelled.
QString GetOpenFileName(QWidget* parent, const QString& caption, const QString& filter,
                        const QString& folder = QString());
QString GetSaveFileName(QWidget* parent, const QString& caption, const QString& filter,
                        const QString& suggestedPath = QString());

// A hook that answers the file dialogs instead of the user (tests).
using FileDialogHook = std::function<QString(bool save, const QString& filter)>;
void SetFileDialogHook(FileDialogHook hook);
