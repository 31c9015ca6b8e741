#include "zavo_actions/registry.hpp"

namespace zavo_actions {

ActionDecoder ActionRegistry::insert(std::string type_name, ActionDecoder decoder) {
    auto [it, inserted] = decoders_.try_emplace(std::move(type_name), std::move(decoder));
    if (inserted) return {};
    std::swap(it->second, decoder);
    return decoder;
}

bool ActionRegistry::contains(std::string_view type_name) const { return decoders_.find(type_name) != decoders_.end(); }

std::expected<std::unique_ptr<action::Action>, action::ActionError> ActionRegistry::decode(
    const action::EncodedAction& encoded) const {
    auto it = decoders_.find(encoded.type_id);
    if (it == decoders_.end())
        return std::unexpected(action::ActionError{action::ActionError::UnknownType{encoded.type_id}});
    return it->second(encoded.payload);
}

}  // namespace zavo_actions
