#include "zavo_actions/executor.hpp"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <algorithm>

namespace zavo_actions::executor {
namespace {

std::expected<void, action::ActionError> run(crdt::Document& document, const action::Action& action,
                                             const action::EncodedAction& encoded, LocalTransport& transport,
                                             std::span<const std::uint8_t> actor,
                                             const context::ActionContext* context) {
    // Edits made before this action belong to their own change.
    document.commit();
    if (auto applied = action.apply(document); !applied) return applied;
    std::optional<std::string> message;
    if (context && !context->label.empty()) message = context->label;
    document.commit(std::move(message));
    transport.outbox.push_back(Delivery{encoded, std::vector<std::uint8_t>(actor.begin(), actor.end()),
                                        context ? std::optional(*context) : std::nullopt});
    return {};
}

}  // namespace

std::expected<void, action::ActionError> dispatch_by(crdt::Document& document, const action::Action& action,
                                                     const action::EncodedAction& encoded, LocalTransport& transport,
                                                     std::span<const std::uint8_t> actor) {
    return run(document, action, encoded, transport, actor, nullptr);
}

std::expected<void, action::ActionError> dispatch_by_with_context(
    crdt::Document& document, const action::Action& action, const action::EncodedAction& encoded,
    LocalTransport& transport, std::span<const std::uint8_t> actor, const context::ActionContext& context) {
    return run(document, action, encoded, transport, actor, &context);
}

}  // namespace zavo_actions::executor

namespace zavo_actions::executor {
namespace {

using Kind = Refusal::Kind;
using Json = nlohmann::ordered_json;  // members in the order written

// A name from a request, as error messages show it: quoted, and cut short when long.
std::string shown(std::string_view text) {
    constexpr std::size_t kShown = 64;
    if (text.size() <= kShown) return fmt::format("\"{}\"", text);
    std::size_t cut = kShown;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
    return fmt::format("\"{}…\"", text.substr(0, cut));
}

// The names of `items` (their ids, or what `name` picks), comma-separated.
std::string joined(const auto& items, auto name) {
    std::string out;
    for (const auto& item : items) out += (out.empty() ? "" : ", ") + std::string(name(item));
    return out;
}

Json action_json(const resource::ActionSpec& spec) {
    Json out = {{"id", spec.id}, {"title", spec.title}};
    if (spec.description) out["description"] = *spec.description;
    if (spec.operation_type) {
        out["operation_type"] = *spec.operation_type;
        out["operation_kind"] = spec.kind;
    }
    const auto& availability = spec.contract.availability;
    out["available"] = availability.available;
    if (!availability.available) {
        out["reason_code"] = availability.reason_code;
        out["message"] = availability.message;
    }
    out["destructive"] = spec.contract.destructive;
    out["words"] = spec.contract.words;
    Json parameters = Json::array();
    for (const auto& p : spec.parameters) {
        Json param = {{"name", p.name}, {"label", p.label}, {"required", p.required}};
        if (p.placeholder) param["placeholder"] = *p.placeholder;
        if (!p.choices.empty()) param["choices"] = p.choices;
        if (p.multiline) param["multiline"] = true;
        if (p.secret) param["secret"] = true;
        parameters.push_back(std::move(param));
    }
    out["parameters"] = std::move(parameters);
    if (const auto* field = std::get_if<resource::TextField>(&spec.input)) out["hint"] = field->hint;
    if (const auto* form = std::get_if<resource::FormInput>(&spec.input); form && !form->hint.empty())
        out["hint"] = form->hint;
    return out;
}

Json resource_json(const resource::Resource& r) {
    Json actions = Json::array();
    for (const auto& spec : r.actions) actions.push_back(action_json(spec));
    Json children = Json::array();
    for (const auto& child : r.children) children.push_back(resource_json(child));
    return {{"id", r.id},
            {"kind", r.kind},
            {"title", r.title},
            {"actions", std::move(actions)},
            {"children", std::move(children)}};
}

}  // namespace

const resource::Resource* find_resource(const std::vector<resource::Resource>& roots, std::string_view id) {
    for (const auto& r : roots) {
        if (r.id == id) return &r;
        if (const auto* found = find_resource(r.children, id)) return found;
    }
    return nullptr;
}

const resource::ActionSpec* find_action(const resource::Resource& resource, std::string_view id) {
    for (const auto& spec : resource.actions)
        if (spec.id == id) return &spec;
    return nullptr;
}

std::expected<const resource::ActionSpec*, Refusal> resolve(const std::vector<resource::Resource>& roots,
                                                            std::string_view resource_id, std::string_view action_id,
                                                            const params::ActionArgs& args) {
    const resource::Resource* r = find_resource(roots, resource_id);
    if (r == nullptr)
        return std::unexpected(Refusal{Kind::UnknownResource, fmt::format("no resource {}", shown(resource_id)), {}});
    const resource::ActionSpec* spec = find_action(*r, action_id);
    if (spec == nullptr)
        return std::unexpected(
            Refusal{Kind::UnknownAction,
                    fmt::format("resource {} has no action {} (its actions: {})", shown(r->id), shown(action_id),
                                joined(r->actions, [](const auto& a) { return a.id; })),
                    {}});
    const auto& availability = spec->contract.availability;
    if (!availability.available)
        return std::unexpected(Refusal{Kind::Unavailable, availability.message, availability.reason_code});

    auto invalid = [](std::string message) {
        return std::unexpected(Refusal{Kind::InvalidArguments, std::move(message), {}});
    };
    for (const auto& [name, value] : args.values) {
        const auto it = std::find_if(spec->parameters.begin(), spec->parameters.end(),
                                     [&](const params::ActionParam& p) { return p.name == name; });
        if (it == spec->parameters.end()) {
            if (spec->parameters.empty())
                return invalid(fmt::format("action {} takes no arguments; got {}", shown(spec->id), shown(name)));
            return invalid(fmt::format("action {} takes no argument {} (its arguments: {})", shown(spec->id),
                                       shown(name), joined(spec->parameters, [](const auto& p) { return p.name; })));
        }
        if (value.size() > kMaxArgumentBytes)
            return invalid(fmt::format("argument {} has {} bytes; at most {} are accepted", shown(name), value.size(),
                                       kMaxArgumentBytes));
    }
    return spec;
}

std::expected<void, Refusal> apply_plain(const ActionRegistry& registry, crdt::Document& document,
                                         const action::EncodedAction& encoded, const context::ActionContext& context) {
    auto decoded = registry.decode(encoded);
    if (!decoded) return std::unexpected(Refusal{Kind::Failed, decoded.error().to_string(), {}});
    LocalTransport transport;
    auto applied = dispatch_by_with_context(document, **decoded, encoded, transport, document.actor_id().to_bytes(),
                                            context);
    if (!applied) return std::unexpected(Refusal{Kind::Failed, applied.error().to_string(), {}});
    return {};
}

std::string resources_json(const std::vector<resource::Resource>& roots) {
    Json out = Json::array();
    for (const auto& r : roots) out.push_back(resource_json(r));
    // Names come from documents: a byte that is not UTF-8 becomes U+FFFD instead of failing.
    return out.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace zavo_actions::executor
