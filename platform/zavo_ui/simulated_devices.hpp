#pragma once
// The devices that the relay simulates, and that sample data offers as discovered devices.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "relay_key/relay_key.hpp"

namespace zavo_ui::simulated_devices {

struct SimulatedDevice {
    std::string_view name;
    // Device n has the secret key of 32 bytes each equal to n.
    relay_key::SecretKey::Bytes secret_key;
    bool online;
    // The size of the picture the device shares.
    std::uint32_t width;
    std::uint32_t height;

    relay_key::PublicKey public_key() const { return relay_key::SecretKey::from_bytes(secret_key).public_key(); }
    // The endpoint id in the relay's text form.
    std::string endpoint_id() const { return public_key().to_string(); }
};

namespace detail {
constexpr relay_key::SecretKey::Bytes filled_key(std::uint8_t n) {
    relay_key::SecretKey::Bytes bytes{};
    for (auto& b : bytes) b = n;
    return bytes;
}
}  // namespace detail

inline constexpr std::array<SimulatedDevice, 4> SIMULATED_DEVICES{{
    {"Studio Node", detail::filled_key(1), true, 1280, 720},
    {"Workshop Laptop", detail::filled_key(2), true, 1440, 900},
    {"Living Room TV", detail::filled_key(3), true, 1920, 1080},
    {"Garage Pi", detail::filled_key(4), false, 1024, 768},
}};

}  // namespace zavo_ui::simulated_devices
