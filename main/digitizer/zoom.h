#pragma once
// The zoom commands of the digitizer ("画像編集"): the steps, the limits and
// their messages, without the window. The zoom is a Single and every step is
// done in single precision, so repeated steps drift exactly as the window's
// users know them (ten steps of +0.1 from 1 give 2.0000002).

#include <QString>

#include <optional>

enum class ZoomCommand {
    Original, // D11 "元のスケール": 1
    Enlarge,  // D12 "拡大": + 0.1
    Enlarge2, // D13 "拡大（２段階）": + 0.2, at most 2
    Reduce,   // D14 "縮小": - 0.1
    Reduce2,  // D15 "縮小（２段階）": - 0.2, at least 0.3
};

// The largest and smallest zoom the commands reach (compared as Singles, so
// the bound 0.3 is 0.300000012).
inline constexpr float kMaxZoom = 2.0f;
inline constexpr float kMinZoom = 0.3f;
// Showing the whole drawing may go below the commands' least zoom, so that a
// big scan fits the window; never below this.
inline constexpr float kMinFitZoom = 0.02f;

struct ZoomStep {
    float zoom = 1;                 // the zoom after the command
    std::optional<QString> refusal; // the limit's message when nothing changed
};

// The zoom after a command from `zoom`. At the limit the zoom stays and the
// refusal names the limit ("既に画像スケールは最大値です" / "...最小値です").
ZoomStep ZoomAfter(ZoomCommand command, float zoom);
