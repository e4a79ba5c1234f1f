#pragma once
// What the three device programs share around their windows: the message log
// of batch runs, the start-up reads, the log box, the refusals and the saving
// of the sketch. The tablet programs' whole flow is TabletForm
// (tablet_form.h); the exchange files themselves are in common/.

#include "common/ui/twips.h"

#include <QRect>
#include <QString>

class CoordFileWriter;
class PictureBox;
class QPlainTextEdit;
class SerialLine;
class QWidget;
class TextCodec;

namespace devices {

// Name of the environment variable that sends the messages to a file.
inline constexpr const char* kMessageLogVariable = "POINTRA_MESSAGE_LOG";

// When $POINTRA_MESSAGE_LOG names a file, every message the program would show
// is appended to that file instead (UTF-8, one message a line, line breaks
// inside a message written as blanks) and questions are answered with OK, so
// the programs can run unattended: in tests under QT_QPA_PLATFORM=offscreen
// and in batch use. Returns true when the log is in force.
bool InstallMessageLogFromEnvironment();

// Every message goes to standard error instead, one line each under the
// program's title (a program that never shows a window).
void InstallMessagesOnStandardError();

// Exit statuses of the device programs: 0 after the sketch was saved or the
// user ended the run, kExitLostTablet when the tablet went away before the
// end of the outline (座標.txt then holds the points taken, without an end
// line), kExitFailed after any other failure the program reported.
inline constexpr int kExitFailed = 1;
inline constexpr int kExitLostTablet = 2;

// The installation folder registered as "InstPath", with its trailing "/";
// empty after a message saying why there is none (CheckInstallation): no
// registry file (every place looked at named), one that cannot be read or
// names a code page the programs do not write, no "InstPath", or a folder
// that does not exist.
QString ReadInstallationFolder(QWidget* parent);

// The first line of roomName.txt; false (after a message) when the file is
// missing or unreadable.
bool ReadRoomName(QWidget* parent, const QString& path, const TextCodec& codec, QString* name);

// The start every device program makes: the installation folder, then the
// room name from its roomName.txt. False after a message.
bool ReadStart(QWidget* parent, const TextCodec& codec, QString* instPath, QString* roomName);

// The log box of a device program at its place: no line is wrapped (a
// record stays on one line), both scroll bars.
QPlainTextEdit* PlaceLogBox(QWidget* parent, const QRect& where);

// Saves the picture's image as curGazo.bmp (replaced whole); false after a
// message when it cannot be written.
bool SaveSketch(QWidget* parent, const PictureBox& picture, const QString& path);

// The part of --help every tablet program shares: where the installation
// folder comes from, the serial port's group, the message log, the exit
// statuses.
QString TabletProgramHelp();

} // namespace devices
