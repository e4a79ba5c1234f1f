#pragma once
// Record formatting, scripts and keys of the tablet simulator.
//
// Script lines are "x y button": for the MT4500 x and y in metres, for the
// T5160-25 x and y as whole counts of 0.1 mm; the button is one digit. Blank
// lines and lines starting with "#" are skipped. Raw scripts hold one record
// per line, sent as written after decoding the escapes \r \n \t \\ \xHH (the
// file's own line end is not sent).

#include "common/core/result.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace tabletsim {

enum class Mode { Mt4500, T5160 };

std::optional<Mode> ParseMode(std::string_view name); // "mt4500", "t5160"

// MT4500: X and Y right-aligned with four decimals in nine columns each, the
// button digit and CR (20 characters). nullopt when a value does not fit its
// columns or the button is not a digit.
std::optional<QByteArray> FormatMt4500Record(double xM, double yM, char button);
// T5160-25: "x,y,button" and CR LF. nullopt when a count lies outside
// -32768..32767 or the button is not a digit.
std::optional<QByteArray> FormatT5160Record(int xCount, int yCount, char button);

// The records of a script, or "line N: ..." for its first bad line.
Result<std::vector<QByteArray>> ParseScript(const QByteArray& text, Mode mode);
Result<std::vector<QByteArray>> ParseRawScript(const QByteArray& text);
// Decodes \r \n \t \\ \xHH; refuses a broken escape.
Result<QByteArray> DecodeEscapes(const QByteArray& line);

// The two writes of a split record: the first half and the rest.
std::pair<QByteArray, QByteArray> SplitRecord(const QByteArray& record);

// Interactive cursor: keys move it and press buttons.
//   h / left, l / right, k / up, j / down: move by the step
//   + / -: step ten times larger / smaller
//   0-9: press that button (sends a record at the cursor)
//   ? : help, q: quit
class KeyPad {
public:
    struct Action {
        enum Kind { None, Moved, StepChanged, Record, Help, Quit, Refused } kind = None;
        QByteArray record; // for Record
    };

    explicit KeyPad(Mode mode);
    // One byte of key input (arrow keys arrive as ESC [ A..D).
    Action key(char c);

    double x() const { return x_; }
    double y() const { return y_; }
    double step() const { return step_; }
    QString status() const; // "x=1.2000 y=0.5000 step=0.1000"
    static QString help();

private:
    Action move(double dx, double dy);

    Mode mode_;
    double x_ = 0;
    double y_ = 0;
    double step_;
    int escape_ = 0; // 0 none, 1 after ESC, 2 after ESC [
};

} // namespace tabletsim
