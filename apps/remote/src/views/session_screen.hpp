#pragma once
// The session screen: what the frame asks of it while the screen is `Session`.
#include "app/remote_app.hpp"
#include "views/paint_primitives.hpp"
#include "zavo_ui/geometry.hpp"

namespace remote::views {

// Takes what the live session produced since the last frame (terminal output, a newer remote
// picture, the connected presence); never waits.
void poll_live_session(RemoteApp& app);
// Draws the session screen into `pane` (the main pane) and pushes its hit regions.
void paint_session_screen(RemoteApp& app, const PaintContext& ctx, const zavo_ui::Rect& pane);

}  // namespace remote::views
