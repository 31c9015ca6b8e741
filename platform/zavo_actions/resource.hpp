#pragma once
// What an application offers: resources with the actions they declare.
#include "zavo_actions/action.hpp"
#include "zavo_actions/params.hpp"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zavo_actions::resource {

// Produces the encoded action for one invocation's arguments. Shared; invoking it never
// consumes it.
using Encoder = std::shared_ptr<const std::function<action::EncodedAction(const params::ActionArgs&)>>;
// Produces the encoded action for one text.
using TextEncoder = std::shared_ptr<const std::function<action::EncodedAction(std::string_view)>>;

struct Availability {
    bool available = true;
    std::string reason_code;
    std::string message;

    friend bool operator==(const Availability&, const Availability&) = default;
};

struct Contract {
    std::vector<std::string> words;
    Availability availability;
    bool destructive = false;
    std::array<std::uint8_t, 5> settings{};

    friend bool operator==(const Contract&, const Contract&) = default;
};

// How the payload of an invocation is obtained.
struct FixedPayload {
    action::EncodedAction action;
};
struct TextField {
    std::string label;
    std::string hint;
    TextEncoder encoder;
};
struct FormInput {
    std::vector<params::ActionParam> parameters;
    std::string hint;
    Encoder encoder;
};
using ActionInput = std::variant<FixedPayload, TextField, FormInput>;

struct ActionSpec {
    std::string id;
    std::string title;
    Contract contract;
    std::vector<params::ActionParam> parameters;
    std::optional<std::string> description;
    std::optional<std::string> operation_type;
    ActionInput input;
    Encoder encoder;
    bool flag = false;
    std::uint8_t kind = 0;

    // Replaces the contract's words and settings; availability and the destructive mark stay.
    ActionSpec with_contract(std::vector<std::string> words, std::array<std::uint8_t, 5> settings) &&;
    ActionSpec destructive() &&;
    ActionSpec with_description(std::string text) &&;
    ActionSpec unavailable(std::string reason_code, std::string message) &&;

    // The payload for one invocation.
    action::EncodedAction invoke(const params::ActionArgs& args) const { return (*encoder)(args); }
};

struct Resource {
    std::string id;
    std::string kind;
    std::string title;
    std::vector<Resource> children;
    std::vector<ActionSpec> actions;
    std::optional<std::string> icon;

    Resource(std::string id, std::string kind, std::string title)
        : id(std::move(id)), kind(std::move(kind)), title(std::move(title)) {}

    // Appends, in call order.
    Resource with_action(ActionSpec spec) &&;
    Resource with_child(std::vector<Resource> resources) &&;
};

// The input of an invocation with parameters: a form of those parameters whose payload
// `encoder` makes.
ActionInput derive_input(const std::vector<params::ActionParam>& parameters, const Encoder& encoder,
                         std::string_view hint);

// `encoded` when it has the declared operation type; otherwise an empty payload of that type,
// so that a mislabelled payload is never run as another type.
action::EncodedAction enforce_operation_type(action::EncodedAction encoded, std::string_view operation_type);

}  // namespace zavo_actions::resource
