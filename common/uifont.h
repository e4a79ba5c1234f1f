#pragma once
// The font of the system's windows and sketches: "ＭＳ Ｐゴシック" as the
// windows were designed with, falling back to IPA Gothic where it is absent.

#include <QFont>

QFont JapaneseUiFont(double pointSize, bool bold = false);
