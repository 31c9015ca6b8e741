#pragma once
// Hover tooltips: the host follows what the pointer is over and shows its text once the
// pointer has rested there for the delay; draw_hover_tooltip paints the bubble.
#include <chrono>
#include <optional>
#include <string>

#include "zavo_ui/geometry.hpp"
#include "zavo_ui/scene.hpp"
#include "zavo_ui/text_render.hpp"
#include "zavo_ui/theme.hpp"

namespace zavo_ui::widget::tooltip {

using Instant = std::chrono::steady_clock::time_point;

struct HoverTarget {
    Rect anchor;
    std::string text;
    friend bool operator==(const HoverTarget&, const HoverTarget&) = default;
};

class TooltipHost {
public:
    static constexpr std::chrono::milliseconds DEFAULT_DELAY{500};

    explicit TooltipHost(std::chrono::milliseconds delay = DEFAULT_DELAY) : delay_(delay) {}

    // The pointer is over `target` (none: over nothing with a tooltip). The same target keeps
    // its timer; another one hides what shows and starts the delay again. A target dismissed
    // while the pointer stayed on it does not come back until the pointer leaves it.
    // True when the host changed (target or visibility).
    bool on_pointer(std::optional<HoverTarget> target, Instant now);
    // Hides the tooltip and forgets the target (a click, a key, a scroll). True when it changed.
    bool dismiss();
    // Shows the pending tooltip once the delay has passed. True when it appeared.
    bool tick(Instant now);

    // A tooltip waits for its delay (the owner keeps frames coming while this holds).
    bool pending() const { return target_.has_value() && !shown_; }
    bool shown() const { return shown_; }
    // The target whose tooltip shows, if one does.
    const HoverTarget* showing() const { return shown_ && target_ ? &*target_ : nullptr; }
    const std::optional<HoverTarget>& target() const { return target_; }
    std::chrono::milliseconds delay() const { return delay_; }

private:
    std::chrono::milliseconds delay_;
    std::optional<HoverTarget> target_;
    std::optional<HoverTarget> suppressed_;
    Instant since_{};
    bool shown_ = false;
};

// Paints the tooltip bubble for `text` under the anchor (above it when there is no room
// below), kept inside `window`.
void draw_hover_tooltip(Scene& scene, const Affine& transform, const text_render::TextRenderer& text,
                        const theme::Theme& theme, const Rect& anchor, std::string_view tip, const Rect& window);

// The bubble's rectangle as draw_hover_tooltip places it.
Rect tooltip_rect(const text_render::TextRenderer& text, const Rect& anchor, std::string_view tip, const Rect& window);

}  // namespace zavo_ui::widget::tooltip
