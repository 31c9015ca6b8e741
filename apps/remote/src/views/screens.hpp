#pragma once
// The connection list and the connection form, painted into the main pane.
#include "app/remote_app.hpp"
#include "views/paint_primitives.hpp"
#include "zavo_ui/geometry.hpp"
#include "zavo_ui/text_render.hpp"

namespace remote::views {

// The list rows' metrics at the renderer's text scale.
RowMetrics measure_row_metrics(const zavo_ui::text_render::TextRenderer& text);

// Where the notice banner lies in `window`: at the bottom right, taller when the notice wraps
// to more lines than its usual box holds.
zavo_ui::Rect notice_box(const PaintContext& ctx, const zavo_ui::Rect& window, const std::string& notice);

// The heading, the search input and the rows that meet the viewport (or an empty state);
// keeps the list's scroll and row caches in `app`. The list scrolls far enough that its last
// row comes into view above a notice banner.
void paint_list_screen(RemoteApp& app, const PaintContext& ctx, const zavo_ui::Rect& pane);
// The new or edit form for the form's kind.
void paint_form_screen(RemoteApp& app, const PaintContext& ctx, const zavo_ui::Rect& pane);

}  // namespace remote::views
