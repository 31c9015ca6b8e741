#pragma once
// The connection list and the connection form, painted into the main pane.
#include "app/remote_app.hpp"
#include "views/paint_primitives.hpp"
#include "zavo_ui/geometry.hpp"
#include "zavo_ui/text_render.hpp"

namespace remote::views {

// The list rows' metrics at the renderer's text scale.
RowMetrics measure_row_metrics(const zavo_ui::text_render::TextRenderer& text);

// The heading, the search input and the rows that meet the viewport (or an empty state);
// keeps the list's scroll and row caches in `app`.
void paint_list_screen(RemoteApp& app, const PaintContext& ctx, const zavo_ui::Rect& pane);
// The new or edit form for the form's kind.
void paint_form_screen(RemoteApp& app, const PaintContext& ctx, const zavo_ui::Rect& pane);

}  // namespace remote::views
