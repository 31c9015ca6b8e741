#pragma once
// What the host needs of the windowing system. The Qt backend (zavo_ui/qt) implements it, and
// tests do with fakes: the window and its event loop, the painter that replays a frame, the text
// renderer that widgets measure with, and the accessibility bridge. Input arrives at the host as
// framework events (the backend maps its keys and pointer); the clipboard is zavo_ui::Clipboard.
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>

#include "zavo_ui/geometry.hpp"
#include "zavo_ui/scene.hpp"
#include "zavo_ui/text_render.hpp"

namespace zavo_ui::host {

// How soon a frame is wanted: at the display's next refresh, or, when frames have shown nothing
// new for a while and no input came, at every other refresh.
enum class FramePace : std::uint8_t { Display, Relaxed };

class Window {
public:
    virtual ~Window() = default;
    // The widget wants a frame: Host::frame is to be called at the pace asked, never more than
    // once per refresh of the display.
    virtual void request_frame(FramePace pace) = 0;
    // The frame just made paints other pixels than the window shows in `damage` (logical
    // pixels, never empty): the window repaints those parts, through Host::present.
    virtual void present(std::span<const Rect> damage) = 0;
    // Runs `task` on the UI thread soon; callable from any thread. Tasks still waiting when the
    // window goes are dropped.
    virtual void post(std::function<void()> task) = 0;
    // Runs `task` on the UI thread once `delay` has passed.
    virtual void post_after(std::chrono::milliseconds delay, std::function<void()> task) = 0;
};

class FramePainter {
public:
    virtual ~FramePainter() = default;
    // Replays the scene of one frame over the parts `area` of the window (logical pixels; all of
    // it when empty), leaving the rest as it was; `logical_size` and `scale` (device pixels per
    // logical pixel) are the window's.
    virtual void paint(const Scene& scene, Size logical_size, double scale, std::span<const Rect> area) = 0;
};

// The platform's text renderer, whose text scale the host sets from the desktop's settings.
class ScaledTextRenderer : public text_render::TextRenderer {
public:
    virtual void set_text_scale(float scale) = 0;
};

class AccessibilityBridge {
public:
    virtual ~AccessibilityBridge() = default;
    // The widget's tree may have changed (a frame was painted): export it again, now or soon.
    virtual void refresh_soon() = 0;
};

}  // namespace zavo_ui::host
