#pragma once
// What a shape is filled or stroked with, and how.
#include <cstdint>
#include <optional>
#include <variant>

#include "zavo_ui/color.hpp"
#include "zavo_ui/geometry.hpp"
#include "zavo_ui/image.hpp"

namespace zavo_ui {

enum class Join : std::uint8_t { Bevel, Miter, Round };
enum class Cap : std::uint8_t { Butt, Square, Round };

// The default stroke: round joins and caps, miter limit 4, no dashes.
struct Stroke {
    double width = 1.0;
    Join join = Join::Round;
    double miter_limit = 4.0;
    Cap start_cap = Cap::Round;
    Cap end_cap = Cap::Round;

    static constexpr Stroke of_width(double w) {
        Stroke s;
        s.width = w;
        return s;
    }
    friend bool operator==(const Stroke&, const Stroke&) = default;
};

enum class Fill : std::uint8_t { NonZero, EvenOdd };

enum class ImageQuality : std::uint8_t { Low, Medium, High };
// How the image continues past its edges: Pad repeats the edge pixels.
enum class Extend : std::uint8_t { Pad, Repeat, Reflect };

struct ImageBrush {
    Image image;
    float alpha = 1.0f;
    ImageQuality quality = ImageQuality::Medium;
    Extend extend = Extend::Pad;

    friend bool operator==(const ImageBrush&, const ImageBrush&) = default;
};

using Brush = std::variant<Color, ImageBrush>;

enum class Mix : std::uint8_t { Normal, Multiply, Screen };
enum class Compose : std::uint8_t { SrcOver, Copy };

struct BlendMode {
    Mix mix = Mix::Normal;
    Compose compose = Compose::SrcOver;
    friend bool operator==(const BlendMode&, const BlendMode&) = default;
};

}  // namespace zavo_ui
