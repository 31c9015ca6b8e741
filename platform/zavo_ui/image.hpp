#pragma once
// Paint images: RGBA8 pixels shared by reference, never copied when drawn. Every new picture
// takes a fresh blob id from one process-wide counter, so a renderer can cache by id.
#include <cstdint>
#include <memory>
#include <vector>

namespace zavo_ui {

enum class ImageFormat : std::uint8_t { Rgba8 };
enum class ImageAlphaType : std::uint8_t { Alpha, AlphaPremultiplied };

using PixelBytes = std::shared_ptr<const std::vector<std::uint8_t>>;

// Next id of the global counter; never 0, never repeats within a process. Thread-safe.
std::uint64_t next_blob_id();

struct Image {
    PixelBytes data;  // width * height * 4 bytes, rows top to bottom, no padding
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint64_t blob_id = 0;
    ImageFormat format = ImageFormat::Rgba8;
    ImageAlphaType alpha_type = ImageAlphaType::Alpha;

    // An image over shared pixels (no copy) with a new blob id.
    static Image from_shared(PixelBytes pixels, std::uint32_t width, std::uint32_t height);
    // Takes the bytes over (moved, not copied) with a new blob id.
    static Image from_vector(std::vector<std::uint8_t>&& pixels, std::uint32_t width, std::uint32_t height);
    // True when the buffer holds at least width * height * 4 bytes.
    bool is_valid() const;

    // The same picture: the same pixel buffer under the same blob id and layout.
    friend bool operator==(const Image&, const Image&) = default;
};

}  // namespace zavo_ui
