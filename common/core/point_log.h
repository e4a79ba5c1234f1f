#pragma once
// The line the main window logs for every point it takes, whatever the road
// (tablet record or coordinates file): "( X , Y )  Flg = code" and CR LF.

#include <QString>

inline QString PointLogLine(const QString& xText, const QString& yText, const QString& codeText) {
    return QStringLiteral("( ") + xText + QStringLiteral(" , ") + yText +
           QStringLiteral(" )  Flg = ") + codeText + QStringLiteral("\r\n");
}
