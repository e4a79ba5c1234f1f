#pragma once
// Replacing a file whole without ever leaving it half written.

#include <QByteArray>
#include <QString>

// Writes `bytes` to a temporary file in the folder of `path`, flushes it to
// disk, then renames it over `path` (a symbolic link is followed, so its
// target is replaced). The old file keeps its permissions; a new one gets
// the usual ones (0666 less the umask). On any failure the old file is left
// as it was, the temporary file is removed, false is returned and `error`
// (when given) holds a message for the user.
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr);
