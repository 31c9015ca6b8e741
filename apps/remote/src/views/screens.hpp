#pragma once
// The connection list and the connection form, painted into the main pane.
#include "app/remote_app.hpp"
#include "views/paint_primitives.hpp"
#include "zavo_ui/geometry.hpp"
#include "zavo_ui/text_render.hpp"

namespace remote::views {

// The list rows' metrics at the renderer's text scale.
RowMetrics measure_row_metrics(const zavo_ui::text_render::TextRenderer& text);

// The bottom of what `pane` shows in full: 8 above the notice banner while there is one (it
// stays until a dialog clears it), else the pane's own. The list and the form scroll their
// last controls into view above it.
double shown_bottom(const RemoteApp& app, const PaintContext& ctx, const zavo_ui::Rect& pane);

// The heading, the search input and the rows that meet the viewport (or an empty state);
// keeps the list's scroll and row caches in `app`.
void paint_list_screen(RemoteApp& app, const PaintContext& ctx, const zavo_ui::Rect& pane);
// The new or edit form for the form's kind, scrolled by `app.form_scroll`; keeps its range.
void paint_form_screen(RemoteApp& app, const PaintContext& ctx, const zavo_ui::Rect& pane);

}  // namespace remote::views
