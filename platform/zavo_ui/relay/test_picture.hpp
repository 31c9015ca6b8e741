#pragma once
// The picture a simulated device shares: colour bars, the device's name and a frame counter,
// and what the session sends it (pointer position, pressed buttons, the last keys).
#include <cstdint>
#include <deque>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zavo_ui::device_relay {

struct DeviceScreenState {
    bool has_pointer = false;
    double pointer_x = 0;
    double pointer_y = 0;
    // Primary, secondary, middle.
    bool buttons[3] = {false, false, false};
    // Key codes pressed most recently, oldest first.
    std::deque<std::uint32_t> last_keys;
    std::set<std::uint32_t> held_keys;
    std::uint64_t frame = 0;

    static constexpr std::size_t KEYS_SHOWN = 8;
};

class TestPicture {
public:
    TestPicture(std::string_view device_name, std::uint32_t width, std::uint32_t height);

    // Draws the state over the fixed background; R, G, B, A bytes, rows top to bottom.
    std::span<const std::uint8_t> render(const DeviceScreenState& state);

    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }

private:
    std::string name_;
    std::uint32_t width_;
    std::uint32_t height_;
    // Pixels per glyph cell, and the top of the name's line under the colour bars.
    long scale_;
    long name_top_;
    std::vector<std::uint8_t> background_;
    std::vector<std::uint8_t> pixels_;
};

}  // namespace zavo_ui::device_relay
