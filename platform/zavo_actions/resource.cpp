#include "zavo_actions/resource.hpp"

namespace zavo_actions::resource {

ActionSpec ActionSpec::with_contract(std::vector<std::string> words, std::array<std::uint8_t, 5> settings) && {
    contract.words = std::move(words);
    contract.settings = settings;
    return std::move(*this);
}

ActionSpec ActionSpec::destructive() && {
    contract.destructive = true;
    return std::move(*this);
}

ActionSpec ActionSpec::with_description(std::string text) && {
    description = std::move(text);
    return std::move(*this);
}

ActionSpec ActionSpec::unavailable(std::string reason_code, std::string message) && {
    contract.availability = Availability{false, std::move(reason_code), std::move(message)};
    return std::move(*this);
}

Resource Resource::with_action(ActionSpec spec) && {
    actions.push_back(std::move(spec));
    return std::move(*this);
}

Resource Resource::with_child(std::vector<Resource> resources) && {
    for (auto& r : resources) children.push_back(std::move(r));
    return std::move(*this);
}

ActionInput derive_input(const std::vector<params::ActionParam>& parameters, const Encoder& encoder,
                         std::string_view hint) {
    return FormInput{parameters, std::string(hint), encoder};
}

action::EncodedAction enforce_operation_type(action::EncodedAction encoded, std::string_view operation_type) {
    if (encoded.type_id == operation_type) return encoded;
    return action::EncodedAction{std::string(operation_type), {}};
}

}  // namespace zavo_actions::resource
