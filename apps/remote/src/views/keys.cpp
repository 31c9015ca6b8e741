#include "views/keys.hpp"

#include <array>

namespace remote::views {

namespace {

constexpr std::array<InputSlot, 5> SSH_ORDER = {InputSlot::Name, InputSlot::Host, InputSlot::Port, InputSlot::User,
                                                InputSlot::Group};
constexpr std::array<InputSlot, 4> VNC_ORDER = {InputSlot::Name, InputSlot::Host, InputSlot::Port, InputSlot::Group};
constexpr std::array<InputSlot, 2> DEVICE_ORDER = {InputSlot::Name, InputSlot::Host};

}  // namespace

std::span<const InputSlot> form_tab_order(ConnectionKind kind) {
    switch (kind) {
        case ConnectionKind::Vnc: return VNC_ORDER;
        case ConnectionKind::Zavo: return DEVICE_ORDER;
        case ConnectionKind::Ssh:
        case ConnectionKind::Rdp: break;
    }
    return SSH_ORDER;
}

}  // namespace remote::views
