#pragma once
// The on-screen digitizer window. For now it only tells the user that the
// digitizer is not available in this version and closes again; the main
// window's "Varpad" road opens it modally.

#include <QDialog>

class Form3 : public QDialog {
    Q_OBJECT
public:
    explicit Form3(QWidget* parent = nullptr);
};
