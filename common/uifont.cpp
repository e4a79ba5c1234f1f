#include "common/uifont.h"

#include <QStringList>

QFont JapaneseUiFont(double pointSize, bool bold) {
    QFont f;
    f.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"),
                   QStringLiteral("IPAGothic"), QStringLiteral("IPAexGothic")});
    f.setPointSizeF(pointSize);
    f.setBold(bold);
    return f;
}
