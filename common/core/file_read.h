#pragma once
// Reading the small files of the system (the exchange files, the registry
// file) within a bound: only regular files are read, and never more than a
// given number of bytes. A FIFO would block the program, a link to a device
// such as /dev/zero would never end, and a huge file would take memory and
// time no such file needs; all of them are refused before anything is read.

#include "common/core/result.h"

#include <QByteArray>
#include <QString>

struct FileStart {
    QByteArray bytes;  // the file's first bytes, at most the limit
    bool more = false; // the file goes on after them
};

// The first `limit` bytes of the regular file at `path`. Refused with a
// message naming the file and its path: a missing file ("… がありません"),
// one that is no regular file (a FIFO, a device, a folder), one that cannot
// be opened or read.
Result<FileStart> ReadFileStart(const QString& path, qint64 limit);

// The whole file, refused with a message when it holds more than `limit` bytes.
Result<FileStart> ReadWholeFile(const QString& path, qint64 limit);
