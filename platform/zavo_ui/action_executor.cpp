#include "zavo_ui/action_executor.hpp"

#include <fmt/format.h>

#include <random>

namespace zavo_ui::action_executor {
namespace {

using Kind = Refusal::Kind;

Refusal refusal(Kind kind, std::string message) { return Refusal{kind, std::move(message), {}}; }

}  // namespace

std::string_view state_name(Invoked::State state) {
    switch (state) {
        case Invoked::State::Applied: return "applied";
        case Invoked::State::Completed: return "completed";
        case Invoked::State::Pending: return "pending";
    }
    return "";
}

std::string_view state_name(Polled::State state) {
    switch (state) {
        case Polled::State::Pending: return "pending";
        case Polled::State::Completed: return "completed";
        case Polled::State::Cancelled: return "cancelled";
        case Polled::State::Failed: return "failed";
    }
    return "";
}

std::string operation_id_text(const operation::OperationId& id) {
    std::string out;
    for (std::uint8_t b : id) out += fmt::format("{:02x}", b);
    return out;
}

std::optional<operation::OperationId> parse_operation_id(std::string_view text) {
    if (text.size() != 32) return std::nullopt;
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    operation::OperationId id{};
    for (std::size_t i = 0; i < id.size(); ++i) {
        const int hi = digit(text[2 * i]);
        const int lo = digit(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        id[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    return id;
}

ActionExecutor::ActionExecutor(Widget& root, crdt::Document& document, zavo_actions::ActionRegistry registry,
                               std::function<void()> changed, Saving saving)
    : root_(root),
      document_(document),
      registry_(std::move(registry)),
      changed_(std::move(changed)),
      saving_(std::move(saving)) {}

std::string ActionExecutor::list_resources() {
    return zavo_actions::executor::resources_json(root_.action_resources(document_));
}

std::expected<Invoked, Refusal> ActionExecutor::invoke(std::string_view resource_id, std::string_view action_id,
                                                       const zavo_actions::params::ActionArgs& args) {
    // The resources are judged as they are now, and the resolved action runs before anything
    // changes them.
    const auto resources = root_.action_resources(document_);
    auto spec = zavo_actions::executor::resolve(resources, resource_id, action_id, args);
    if (!spec) return std::unexpected(std::move(spec.error()));
    const auto encoded = (*spec)->invoke(args);

    if ((*spec)->operation_type) {
        auto done = invoke_operation(**spec, encoded);
        if (changed_) changed_();
        return done;
    }
    const std::vector<crdt::ChangeHash> before = document_.get_heads();
    zavo_actions::context::ActionContext context;
    context.label = (*spec)->title;
    auto applied = zavo_actions::executor::apply_plain(registry_, document_, encoded, context);
    if (changed_) changed_();
    if (!applied) return std::unexpected(std::move(applied.error()));
    // A change that could not be saved is taken back, so that a refusal leaves nothing made.
    if (auto kept = saving_ ? saving_() : std::expected<void, std::string>(); !kept && document_.get_heads() != before) {
        crdt::ActorId actor = document_.actor_id();
        document_ = document_.fork_at(before);
        document_.set_actor(std::move(actor));
        if (changed_) changed_();
        return std::unexpected(
            refusal(Kind::Failed, fmt::format("nothing was changed: changes cannot be saved ({})", kept.error())));
    }
    return Invoked{Invoked::State::Applied, {}};
}

std::expected<Invoked, Refusal> ActionExecutor::invoke_operation(const zavo_actions::resource::ActionSpec& spec,
                                                                 const zavo_actions::action::EncodedAction& encoded) {
    settle_started();
    const operation::OperationId id = new_operation_id();
    operation::StartOutcome outcome = root_.invoke_start(id, spec.kind, encoded);
    // An operation the widget does not start may be one it runs at once.
    if (std::holds_alternative<operation::start::NotHandled>(outcome)) outcome = root_.invoke_run(spec.kind, encoded);

    if (std::holds_alternative<operation::start::Pending>(outcome)) {
        started_.emplace(id, Started{++starts_, std::nullopt});
        return Invoked{Invoked::State::Pending, operation_id_text(id)};
    }
    if (std::holds_alternative<operation::start::Completed>(outcome)) return Invoked{Invoked::State::Completed, {}};
    if (const auto* refused = std::get_if<operation::start::Refused>(&outcome))
        return std::unexpected(refusal(Kind::Refused, refused->message));
    return std::unexpected(
        refusal(Kind::NotHandled, fmt::format("the application does not handle the operation of \"{}\"", spec.id)));
}

std::expected<Polled, Refusal> ActionExecutor::poll(std::string_view operation_id, bool cancel) {
    const auto id = parse_operation_id(operation_id);
    const auto it = id ? started_.find(*id) : started_.end();
    if (it == started_.end()) {
        return std::unexpected(refusal(
            Kind::UnknownOperation, fmt::format("no started operation \"{}\" (it finished, or was never started here)",
                                                operation_id.substr(0, 64))));
    }
    Polled polled = it->second.outcome ? *it->second.outcome : poll_widget(*id, cancel);
    if (polled.state != Polled::State::Pending) started_.erase(*id);
    if (changed_) changed_();
    return polled;
}

Polled ActionExecutor::poll_widget(const operation::OperationId& id, bool cancel) {
    const operation::PollOutcome outcome = root_.poll_operation(id, cancel);
    if (std::holds_alternative<operation::poll::Completed>(outcome)) return Polled{Polled::State::Completed, {}, {}};
    if (const auto* cancelled = std::get_if<operation::poll::Cancelled>(&outcome))
        return Polled{Polled::State::Cancelled, {}, cancelled->message};
    if (const auto* failed = std::get_if<operation::poll::Failed>(&outcome))
        return Polled{Polled::State::Failed, failed->code, failed->message};
    return Polled{};
}

void ActionExecutor::settle_started() {
    std::size_t kept = 0;
    for (auto& [id, started] : started_) {
        if (!started.outcome) {
            Polled polled = poll_widget(id, false);
            if (polled.state != Polled::State::Pending) started.outcome = std::move(polled);
        }
        if (started.outcome) ++kept;
    }
    // Outcomes nobody came back for go, oldest first.
    while (kept > kKeptOutcomes) {
        auto oldest = started_.end();
        for (auto it = started_.begin(); it != started_.end(); ++it)
            if (it->second.outcome && (oldest == started_.end() || it->second.order < oldest->second.order))
                oldest = it;
        started_.erase(oldest);
        --kept;
    }
}

operation::OperationId ActionExecutor::new_operation_id() const {
    static std::random_device device;
    operation::OperationId id{};
    do {
        for (auto& b : id) b = static_cast<std::uint8_t>(device());
    } while (started_.contains(id));
    return id;
}

}  // namespace zavo_ui::action_executor
