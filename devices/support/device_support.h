#pragma once
// What the three device programs share around their windows: the message log
// of batch runs, the layout in twips, the start-up reads and the saving of the
// sketch. The exchange files themselves are in common/.

#include "common/twips.h"

#include <QRect>
#include <QString>

class CoordFileWriter;
class OutlineStore;
class PictureBox;
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

// The installation folder registered as "InstPath"; empty (after a message)
// when the registry file holds none.
QString ReadInstallationFolder(QWidget* parent);

// The first line of roomName.txt; false (after a message) when the file is
// missing or unreadable.
bool ReadRoomName(QWidget* parent, const QString& path, const TextCodec& codec, QString* name);

// Saves the picture's image as curGazo.bmp (replaced whole); false after a
// message when it cannot be written.
bool SaveSketch(QWidget* parent, const PictureBox& picture, const QString& path);

// Whether a tablet point of the given code may join the outline; false after
// a message. The store's 100 rows include the end record, so a point is
// refused once 99 are held (the end button still closes the outline), and an
// end button before any point is refused rather than saving an empty sketch.
bool AdmitTabletPoint(QWidget* parent, const OutlineStore& store, int code);

// Writes one line of 座標.txt; false after a message when it cannot.
bool AppendCoordLine(QWidget* parent, CoordFileWriter& file, const QString& line);

} // namespace devices
