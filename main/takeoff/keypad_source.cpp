#include "main/takeoff/keypad_source.h"

#include "common/core/exchange_files.h"
#include "common/core/point_log.h"
#include "common/core/refusals.h"
#include "common/core/registry.h"
#include "common/core/textcodec.h"
#include "main/takeoff/keypad.h"
#include "main/takeoff/takeoff_session.h"

#include <unistd.h>

KeypadSource::KeypadSource(TakeoffSession& session, QObject* parent)
    : OutlineSource(session, parent) {}

void KeypadSource::takeOutline(QWidget*) {
    const QString key = QString::fromLatin1(kPointraKey);
    QString runtime =
        RegistryText(key, QStringLiteral("Runtime"), QStringLiteral("cobcrun")).trimmed();
    if (runtime.isEmpty())
        runtime = QStringLiteral("cobcrun");
    if (!ProgramExists(runtime)) {
        emit said(QStringLiteral("COBOLランタイム（%1）が見つかりません。\r\n"
                                 "レジストリファイル（%2）の HKEY_LOCAL_MACHINE\\%3 の "
                                 "\"Runtime\" を確かめて下さい")
                      .arg(Brief(runtime), RegistryFile::defaultPath(), key));
        return;
    }
    // A console program started from a desktop has no console to be seen:
    // without a "Terminal" value it gets a terminal window of its own.
    const std::optional<QString> terminal =
        ChooseTerminalPrefix(RegistryText(key, QStringLiteral("Terminal"), QString()),
                             ::isatty(STDIN_FILENO) == 1, ProgramExists);
    if (!terminal) {
        emit said(QStringLiteral("サイズ入力を表示する端末が見つかりません。\r\n"
                                 "レジストリファイル（%1）の HKEY_LOCAL_MACHINE\\%2 に "
                                 "\"Terminal\" を設定して下さい（例: xterm -e）")
                      .arg(RegistryFile::defaultPath(), key));
        return;
    }
    // Code runs for the user only from root-owned places or the user's own.
    const QString instPath = session_.instPath();
    if (const auto checked = CheckKeypadFiles(instPath); !checked) {
        emit said(checked.error() + QStringLiteral("\r\nサイズ入力を始められません"));
        return;
    }
    const RuntimeCommand command = BuildRuntimeCommand(instPath, runtime, *terminal);
    // The window takes no input while the size input runs; it still repaints,
    // and closing it is refused meanwhile (the keyed points would be lost).
    const QString coordPath = CoordFilePath(instPath);
    const FileStamp before = StampFile(coordPath);
    running_ = true;
    emit runningChanged(true);
    QString error;
    const int rc = RunAndWait(command, &error);
    running_ = false;
    emit runningChanged(false);
    if (rc == kRunNotStarted || rc == kRunCrashed) {
        emit said(error);
        return;
    }
    // The outline is taken whenever this run wrote the file, whatever its
    // exit code; a file the run did not touch is an earlier outline (behind a
    // terminal the exit code is the terminal's).
    if (StampFile(coordPath) == before) {
        if (rc == 0)
            emit said(QStringLiteral("座標ファイルは更新されませんでした。\r\n"
                                     "サイズ入力が取り消されたため、座標は読み込みません"));
        else
            emit said(QStringLiteral("サイズ入力が終了コード %1 で終わり、座標ファイルは"
                                     "更新されませんでした。\r\n座標は読み込みません")
                          .arg(rc));
        return;
    }
    readCoordFile();
}

void KeypadSource::readCoordFile() {
    // The file is read and checked whole first: a file that cannot be taken
    // leaves the outline store as it was.
    const Result<QVector<CoordLine>> content =
        ReadCoordLines(CoordFilePath(session_.instPath()), TextCodec::fromRegistry());
    if (!content) {
        emit said(content.error());
        return;
    }
    OutlineStore taken;
    if (!FillOutlineStore(taken, *content)) {
        emit said(QStringLiteral("座標ファイルの点が多すぎます（%1 点まで）").arg(kMaxCoordLines));
        return;
    }
    QString log;
    for (const CoordLine& line : *content)
        log += PointLogLine(line.xText, line.yText, line.codeText);
    session_.replaceOutline(taken, log);
    emit received();
}
