#pragma once
// The session screen: what the frame asks of it while the screen is `Session`.
#include <cstdint>

#include "app/remote_app.hpp"
#include "views/paint_primitives.hpp"
#include "zavo_ui/geometry.hpp"

namespace remote::views {

// Takes what the live session produced since the last frame (terminal output, a newer remote
// picture) and marks its connection online once connected; never waits.
void poll_live_session(RemoteApp& app);
// Draws the session screen into `pane` (the main pane) and pushes its hit regions.
void paint_session_screen(RemoteApp& app, const PaintContext& ctx, const zavo_ui::Rect& pane);

// Where a picture of width x height is drawn in `surface`: scaled to fit, or at its size
// (but never larger than the surface), centred.
zavo_ui::Rect picture_rect(const zavo_ui::Rect& surface, std::uint32_t width, std::uint32_t height, bool scale_to_fit);

}  // namespace remote::views
