#pragma once
// The font of the system's windows and sketches: "ＭＳ Ｐゴシック" as the
// windows were designed with, falling back to IPA Gothic where it is absent.

#include <QFont>
#include <QString>
#include <QStringList>

// The font the windows ask for first.
inline const QString kJapaneseFontName = QStringLiteral("ＭＳ Ｐゴシック");

// Families to try after the given one, in order.
QStringList JapaneseFontFallbacks();

// The window font at a point size.
QFont JapaneseUiFont(double pointSize, bool bold = false);
