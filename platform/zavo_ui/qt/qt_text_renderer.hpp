#pragma once
// The framework's text renderer over Qt fonts. Texts go into the scene as text runs; the Qt
// scene backend draws them with the same engine, so measuring and drawing agree.
#include "zavo_ui/host/platform.hpp"
#include "zavo_ui/qt/text_engine.hpp"

namespace zavo_ui::qt {

class QtTextRenderer : public host::ScaledTextRenderer {
public:
    explicit QtTextRenderer(TextEngine& engine, float text_scale = 1.0f) : engine_(engine), scale_(text_scale) {}

    text_render::TextMetrics measure_styled(std::string_view text, const TextStyle& style) const override;
    std::vector<double> caret_offsets(std::string_view text, const TextStyle& style) const override;
    float text_scale() const override { return scale_; }
    void set_text_scale(float scale) override { scale_ = scale; }

private:
    TextEngine& engine_;
    float scale_;
};

}  // namespace zavo_ui::qt
