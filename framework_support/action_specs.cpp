#include "framework_support/action_specs.hpp"

namespace framework_support {

std::array<std::uint8_t, 5> default_settings(std::uint8_t kind) {
    if (kind == kViewOperationKind) return {0, 0, 0, 0, 1};
    return {0, 2, 0, 1, 3};
}

Encoder make_encoder(std::function<EncodedAction(const ActionArgs&)> encode) {
    return std::make_shared<const std::function<EncodedAction(const ActionArgs&)>>(std::move(encode));
}

TextEncoder make_text_encoder(std::function<EncodedAction(std::string_view)> encode) {
    return std::make_shared<const std::function<EncodedAction(std::string_view)>>(std::move(encode));
}

Encoder fixed_payload_encoder(EncodedAction payload) {
    return make_encoder([payload = std::move(payload)](const ActionArgs&) { return payload; });
}

Encoder text_adapter(TextEncoder text) {
    return make_encoder(
        [text = std::move(text)](const ActionArgs& args) { return (*text)(args.text("value").value_or("")); });
}

ActionSpec fixed_spec(std::string_view id, std::string_view title, std::uint8_t kind,
                      std::optional<std::string_view> operation_type, EncodedAction encoded) {
    ActionSpec spec;
    spec.id = std::string(id);
    spec.title = std::string(title);
    spec.contract.settings = default_settings(kind);
    if (operation_type) spec.operation_type = std::string(*operation_type);
    spec.input = zavo_actions::resource::FixedPayload{encoded};
    spec.encoder = fixed_payload_encoder(std::move(encoded));
    spec.kind = kind;
    return spec;
}

ActionParam text_parameter(std::string_view name, std::string_view label) {
    ActionParam param;
    param.name = std::string(name);
    param.label = std::string(label);
    param.required = true;
    param.multiline = false;
    param.secret = false;
    return param;
}

ActionSpec operation_with_input(std::string_view id, std::string_view title, std::string_view hint, std::uint8_t kind,
                                std::optional<std::string_view> operation_type, std::vector<ActionParam> parameters,
                                std::function<EncodedAction(const ActionArgs&)> payload) {
    Encoder encoder;
    if (operation_type) {
        encoder = make_encoder(
            [type = std::string(*operation_type), payload = std::move(payload)](const ActionArgs& args) {
                return zavo_actions::resource::enforce_operation_type(payload(args), type);
            });
    } else {
        encoder = make_encoder(std::move(payload));
    }
    ActionSpec spec;
    spec.id = std::string(id);
    spec.title = std::string(title);
    spec.contract.settings = default_settings(kind);
    spec.input = zavo_actions::resource::derive_input(parameters, encoder, hint);
    spec.parameters = std::move(parameters);
    if (operation_type) spec.operation_type = std::string(*operation_type);
    spec.encoder = std::move(encoder);
    spec.kind = kind;
    return spec;
}

ActionSpec text_action(std::string_view id, std::string_view title, std::string_view label, std::string_view hint,
                       bool flag, TextEncoder text) {
    ActionSpec spec;
    spec.id = std::string(id);
    spec.title = std::string(title);
    spec.contract.settings = default_settings(kPlainActionKind);
    spec.parameters.push_back(text_parameter("value", label));
    spec.input = zavo_actions::resource::TextField{std::string(label), std::string(hint), text};
    spec.encoder = text_adapter(std::move(text));
    spec.flag = flag;
    spec.kind = kPlainActionKind;
    return spec;
}

}  // namespace framework_support
