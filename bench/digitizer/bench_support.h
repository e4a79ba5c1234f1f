#pragma once
// What the digitizer benchmarks share: the memory of this process and a
// throw-away installation whose curPass.txt names a drawing.

#include "common/ui/message.h"
#include "common/core/registry.h"

#include <QFile>
#include <QString>
#include <QTemporaryDir>

// Peak ("VmHWM:") or current ("VmRSS:") resident memory of this process, MB.
inline double StatusMb(const char* key) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

// Writes the registry file of an installation in `inst` and a curPass.txt
// naming `drawing` at `zoom`; every message is answered OK. False when a
// file cannot be written.
inline bool MakeBenchInstallation(const QTemporaryDir& inst, const QString& drawing, float zoom) {
    QFile reg(inst.filePath(QStringLiteral("registry.reg")));
    if (!reg.open(QIODevice::WriteOnly))
        return false;
    reg.write(QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra]\r\n"
                             "\"InstPath\"=\"%1/\"\r\n")
                  .arg(inst.path())
                  .toUtf8());
    reg.close();
    qputenv("POINTRA_REGISTRY", reg.fileName().toUtf8());
    RegistryFile::reload();
    SetMessageHook([](const QString&) { return MsgAnswer::Yes; });
    QFile pass(inst.filePath(QStringLiteral("curPass.txt")));
    if (!pass.open(QIODevice::WriteOnly))
        return false;
    pass.write(
        (drawing + QStringLiteral(",0,0,0,0,0,0,") + QString::number(zoom) + "\r\n").toUtf8());
    return true;
}
