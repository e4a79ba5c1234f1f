#include "main/digitizer/zoom.h"

namespace {

// A Single plus a Double literal is a Double, stored back into the Single.
float Step(float zoom, double by) {
    return float(double(zoom) + by);
}

} // namespace

ZoomStep ZoomAfter(ZoomCommand command, float zoom) {
    ZoomStep s;
    s.zoom = zoom;
    const bool enlarging = command == ZoomCommand::Enlarge || command == ZoomCommand::Enlarge2;
    const bool reducing = command == ZoomCommand::Reduce || command == ZoomCommand::Reduce2;
    if (enlarging && zoom >= kMaxZoom) {
        s.refusal = QStringLiteral("既に画像スケールは最大値です");
        return s;
    }
    if (reducing && zoom <= kMinZoom) {
        s.refusal = QStringLiteral("既に画像スケールは最小値です");
        return s;
    }
    switch (command) {
    case ZoomCommand::Original:
        s.zoom = 1;
        break;
    case ZoomCommand::Enlarge:
        s.zoom = Step(zoom, 0.1);
        break;
    case ZoomCommand::Enlarge2:
        s.zoom = Step(zoom, 0.2);
        if (s.zoom > kMaxZoom)
            s.zoom = kMaxZoom;
        break;
    case ZoomCommand::Reduce:
        s.zoom = Step(zoom, -0.1);
        break;
    case ZoomCommand::Reduce2:
        s.zoom = Step(zoom, -0.2);
        if (s.zoom < kMinZoom)
            s.zoom = kMinZoom;
        break;
    }
    return s;
}
