#pragma once
// What a new frame changes on screen: the parts of the window where its scene paints other pixels
// than the scene shown before, so that only they are painted again.
#include <cstddef>
#include <vector>

#include "zavo_ui/geometry.hpp"
#include "zavo_ui/scene.hpp"
#include "zavo_ui/text_render.hpp"

namespace zavo_ui::host {

// The rectangles (logical pixels, at most `most` of them) that cover every item painted
// differently in `next` than in `shown`: an item added, removed or changed, and an equal item
// whose clip layers differ. Each covers the item's box as the clips in force cut it, grown by the
// reach of its antialiased edges; texts are measured with `text`, whose text scale must be the
// one both scenes were drawn at. Empty when the scenes are equal. Items are paired by position
// when the scenes have as many, else by their common start and end.
std::vector<Rect> scene_damage(const Scene& shown, const Scene& next, const text_render::TextRenderer& text,
                               std::size_t most = 4);

// The box an item paints into (before clips), in the coordinates of the scene.
Rect painted_box(const SceneItem& item, const text_render::TextRenderer& text);

// `rects` with the overlapping ones joined, then the two whose join grows least joined until at
// most `most` remain; empty rectangles are dropped.
std::vector<Rect> merge_rects(std::vector<Rect> rects, std::size_t most);

}  // namespace zavo_ui::host
