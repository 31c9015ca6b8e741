#include "zavo_ui/image.hpp"

#include <atomic>

namespace zavo_ui {

std::uint64_t next_blob_id() {
    static std::atomic<std::uint64_t> counter{0};
    return counter.fetch_add(1, std::memory_order_relaxed) + 1;
}

Image Image::from_shared(PixelBytes pixels, std::uint32_t width, std::uint32_t height) {
    Image img;
    img.data = std::move(pixels);
    img.width = width;
    img.height = height;
    img.blob_id = next_blob_id();
    return img;
}

Image Image::from_vector(std::vector<std::uint8_t>&& pixels, std::uint32_t width, std::uint32_t height) {
    return from_shared(std::make_shared<const std::vector<std::uint8_t>>(std::move(pixels)), width, height);
}

bool Image::is_valid() const { return data && data->size() >= std::size_t(width) * std::size_t(height) * 4u; }

}  // namespace zavo_ui
