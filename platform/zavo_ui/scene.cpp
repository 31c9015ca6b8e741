#include "zavo_ui/scene.hpp"

namespace zavo_ui {

void Scene::fill(Fill style, const Affine& transform, Brush brush, std::optional<Affine> brush_transform, Shape shape) {
    items_.emplace_back(scene_item::FillItem{style, transform, std::move(brush), brush_transform, std::move(shape)});
}

void Scene::stroke(const Stroke& style, const Affine& transform, Brush brush, std::optional<Affine> brush_transform,
                   Shape shape) {
    items_.emplace_back(scene_item::StrokeItem{style, transform, std::move(brush), brush_transform, std::move(shape)});
}

void Scene::push_layer(BlendMode blend, float alpha, const Affine& transform, Shape clip) {
    items_.emplace_back(scene_item::PushLayerItem{blend, alpha, transform, std::move(clip)});
    ++open_layers_;
}

void Scene::pop_layer() {
    if (open_layers_ == 0) return;
    items_.emplace_back(scene_item::PopLayerItem{});
    --open_layers_;
}

void Scene::text(scene_item::TextItem item) { items_.emplace_back(std::move(item)); }

void replay(const Scene& scene, SceneBackend& backend) {
    struct V {
        SceneBackend& b;
        void operator()(const scene_item::FillItem& i) const { b.fill(i); }
        void operator()(const scene_item::StrokeItem& i) const { b.stroke(i); }
        void operator()(const scene_item::PushLayerItem& i) const { b.push_layer(i); }
        void operator()(const scene_item::PopLayerItem&) const { b.pop_layer(); }
        void operator()(const scene_item::TextItem& i) const { b.text(i); }
    };
    for (const auto& item : scene.items()) std::visit(V{backend}, item);
    for (int i = 0; i < scene.open_layers(); ++i) backend.pop_layer();
}

}  // namespace zavo_ui
