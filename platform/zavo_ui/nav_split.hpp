#pragma once
// The navigation flap's animation state: progress 0.0 (closed) to 1.0 (open). Whoever owns it
// moves the progress; reveal and slide are its eased forms for drawing.
#include <algorithm>

namespace zavo_ui::widget::nav_split {

struct FlapState {
    double progress = 1.0;

    FlapState() = default;
    explicit FlapState(double p) : progress(p) {}
    void set_progress(double p) { progress = p; }

    // How much of the flap shows: smoothstep of the progress, 0 at 0 and 1 at 1.
    double reveal() const {
        double p = std::clamp(progress, 0.0, 1.0);
        return p * p * (3.0 - 2.0 * p);
    }
    // How far the flap has slid in: ease-out cubic of the progress, so it leads reveal.
    double slide() const {
        double q = 1.0 - std::clamp(progress, 0.0, 1.0);
        return 1.0 - q * q * q;
    }
};

}  // namespace zavo_ui::widget::nav_split
