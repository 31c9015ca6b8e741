#pragma once
// Builders of `ActionSpec`s and resources for the application's own payload types,
// and the shared encoders they store.
#include "zavo_actions/action.hpp"
#include "zavo_actions/context.hpp"
#include "zavo_actions/params.hpp"
#include "zavo_actions/registry.hpp"
#include "zavo_actions/resource.hpp"

#include <array>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace framework_support {

using zavo_actions::action::ActionError;
using zavo_actions::action::EncodedAction;
using zavo_actions::params::ActionArgs;
using zavo_actions::params::ActionParam;
using zavo_actions::resource::ActionSpec;
using zavo_actions::resource::Encoder;
using zavo_actions::resource::TextEncoder;

// The declared kind of an action's payload: 0 a plain action, 1 a session operation,
// 2 a view operation.
inline constexpr std::uint8_t kPlainActionKind = 0;
inline constexpr std::uint8_t kViewOperationKind = 2;

// The five contract settings a builder starts from.
std::array<std::uint8_t, 5> default_settings(std::uint8_t kind);

// A shared encoder that always gives a copy of `payload`.
Encoder fixed_payload_encoder(EncodedAction payload);
// A shared encoder that hands the argument "value" (empty when absent) to `text`.
Encoder text_adapter(TextEncoder text);
// Wraps a function as a shared encoder.
Encoder make_encoder(std::function<EncodedAction(const ActionArgs&)> encode);
TextEncoder make_text_encoder(std::function<EncodedAction(std::string_view)> encode);

// An `ActionSpec` whose payload `payload` makes anew at each invocation; with an operation
// type the payload passes through the library's type check. Never fails.
ActionSpec operation_with_input(std::string_view id, std::string_view title, std::string_view hint, std::uint8_t kind,
                                std::optional<std::string_view> operation_type, std::vector<ActionParam> parameters,
                                std::function<EncodedAction(const ActionArgs&)> payload);

// A plain action asking for one text ("value"), encoded by `text`.
ActionSpec text_action(std::string_view id, std::string_view title, std::string_view label, std::string_view hint,
                       bool flag, TextEncoder text);

// A parameter as the application builds them: no choices, required.
ActionParam text_parameter(std::string_view name, std::string_view label);

// An `ActionSpec` whose payload is `encoded`, fixed.
ActionSpec fixed_spec(std::string_view id, std::string_view title, std::uint8_t kind,
                      std::optional<std::string_view> operation_type, EncodedAction encoded);

// A plain action carrying `action` encoded once under `type_id`.
template <class T>
std::expected<ActionSpec, ActionError> typed_action(std::string_view id, std::string_view title,
                                                    std::string_view type_id, const T& action) {
    auto encoded = EncodedAction::encode(std::string(type_id), action);
    if (!encoded) return std::unexpected(std::move(encoded.error()));
    return fixed_spec(id, title, kPlainActionKind, std::nullopt, std::move(*encoded));
}

// An `ActionSpec` carrying `operation` encoded once under `operation_type`.
template <class T>
std::expected<ActionSpec, ActionError> typed_operation(std::string_view id, std::string_view title, std::uint8_t kind,
                                                       std::string_view operation_type, const T& operation) {
    auto encoded = EncodedAction::encode(std::string(operation_type), operation);
    if (!encoded) return std::unexpected(std::move(encoded.error()));
    return fixed_spec(id, title, kind, operation_type, std::move(*encoded));
}

// The decoder of `T` under `type_name`: its JSON reader, the value boxed as an action; a
// decoding failure is ActionError::Decode with the type name and the error's text.
template <class T>
zavo_actions::ActionDecoder typed_decoder(std::string_view type_name) {
    return [type = std::string(type_name)](std::span<const std::uint8_t> payload)
               -> std::expected<std::unique_ptr<zavo_actions::action::Action>, ActionError> {
        auto value = T::deserialize_json(
            std::string_view(reinterpret_cast<const char*>(payload.data()), payload.size()));
        if (!value) return std::unexpected(ActionError{ActionError::Decode{type, value.error().to_string()}});
        return std::make_unique<zavo_actions::action::TypedAction<T>>(std::move(*value));
    };
}

// Registers `T`'s decoder under `type_name`, replacing any earlier one.
template <class T>
void register_action(zavo_actions::ActionRegistry& registry, std::string_view type_name) {
    registry.insert(std::string(type_name), typed_decoder<T>(type_name));
}

// The label of an action: its JSON value's single member name, or the string it is,
// humanized; "Update" for anything else.
template <class Json>
std::string action_label(const Json& value) {
    if (value.is_object() && value.size() == 1) return zavo_actions::context::humanize_identifier(value.begin().key());
    if (value.is_string()) return zavo_actions::context::humanize_identifier(value.template get<std::string>());
    return "Update";
}

// The context the controller dispatches `action` with.
template <class T>
zavo_actions::context::ActionContext context_for_action(std::string_view app_id, std::string_view app_name,
                                                        const T& action) {
    zavo_actions::context::ActionContext context;
    context.label = action_label(action.serialize());
    context.source = zavo_actions::context::ActionSource{std::string(app_id), std::string(app_name)};
    return context;
}

}  // namespace framework_support
