#pragma once
// An input road of the take-off: where outlines come from (a serial tablet,
// the keypad's size-input program, the on-screen digitizer). Each road feeds
// the take-off session through its methods; the main window only chooses the
// road, forwards its buttons and shows what the road says. A new road is
// added by implementing this interface.

#include <QObject>
#include <QString>

class QWidget;
class TakeoffSession;

class OutlineSource : public QObject {
    Q_OBJECT
public:
    explicit OutlineSource(TakeoffSession& session, QObject* parent = nullptr)
        : QObject(parent), session_(session) {}

    // The road is chosen: it starts taking (a tablet opens its line).
    virtual void start() {}
    // Another road is chosen, or the program ends: it stops taking.
    virtual void stop() {}
    // After "設定", "キャンセル" and "実行": a road stopped at an outline's
    // end (a tablet's line closed by its end record) takes again.
    virtual void resume() {}
    // The picture button: roads that take an outline in a window or program
    // of their own (the digitizer, the keypad) do it here; `window` is the
    // main window they belong to.
    virtual void takeOutline(QWidget* window) { (void)window; }
    // Taking a new outline gives up a finished one whose row is not written:
    // the user is asked first.
    virtual bool replacesFinishedOutline() const { return false; }
    // A program of the road runs and must not be left (the window waits).
    virtual bool running() const { return false; }

signals:
    // A message for the user.
    void said(const QString& message);
    // Something arrived from the road ("キャンセル" and "実行" apply to it).
    void received();
    // A program of the road starts or ends running.
    void runningChanged(bool running);

protected:
    TakeoffSession& session_;
};
