#pragma once
// Decoders of encoded actions, by type name.
#include "zavo_actions/action.hpp"

#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace zavo_actions {

using ActionDecoder = std::function<std::expected<std::unique_ptr<action::Action>, action::ActionError>(
    std::span<const std::uint8_t> payload)>;

class ActionRegistry {
public:
    // Stores `decoder` under `type_name`; hands back the decoder it replaces (empty if none).
    ActionDecoder insert(std::string type_name, ActionDecoder decoder);
    bool contains(std::string_view type_name) const;
    std::size_t size() const { return decoders_.size(); }
    // Decodes with the decoder of the action's type; UnknownType when there is none.
    std::expected<std::unique_ptr<action::Action>, action::ActionError> decode(
        const action::EncodedAction& encoded) const;

private:
    std::map<std::string, ActionDecoder, std::less<>> decoders_;
};

}  // namespace zavo_actions
