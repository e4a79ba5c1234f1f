#include "common/ui/uifont.h"

QStringList JapaneseFontFallbacks() {
    return {QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
            QStringLiteral("IPAexGothic")};
}

QFont JapaneseUiFont(double pointSize, bool bold) {
    QFont f;
    f.setFamilies(QStringList{kJapaneseFontName} + JapaneseFontFallbacks());
    f.setPointSizeF(pointSize);
    f.setBold(bold);
    return f;
}
