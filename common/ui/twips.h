#pragma once
// Window layouts are given in twips, as the windows were designed; 15 twips
// make a pixel.

#include <QRect>
#include <QString>

#include <cmath>

inline QRect Twips(int left, int top, int width, int height) {
    auto px = [](int t) { return static_cast<int>(std::lround(t / 15.0)); };
    return QRect(px(left), px(top), px(width), px(height));
}

// Names a control (its objectName, which tests and scripts find it by) and
// puts it at its place.
template <class W> W* Place(W* w, const char* name, const QRect& r) {
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(r);
    return w;
}
