#pragma once
// The action executor: keeps the registry the launch fills, offers the root widget's resources,
// applies plain actions to the live document through the registered decoders, and starts, runs
// and polls operations through the widget trait. Used on the UI thread only.
#include "crdt/document.hpp"
#include "zavo_actions/executor.hpp"
#include "zavo_actions/params.hpp"
#include "zavo_actions/registry.hpp"
#include "zavo_ui/operation.hpp"
#include "zavo_ui/widget.hpp"

#include <expected>
#include <functional>
#include <optional>
#include <map>
#include <string>
#include <string_view>

namespace zavo_ui::action_executor {

using zavo_actions::executor::Refusal;

// What an invocation did.
struct Invoked {
    enum class State : std::uint8_t {
        Applied,    // a plain action, applied to the document
        Completed,  // an operation, done at once
        Pending,    // an operation that runs on; poll it by `operation`
    };
    State state = State::Applied;
    std::string operation;  // Pending only: the operation id as text

    friend bool operator==(const Invoked&, const Invoked&) = default;
};

// How a started operation is going.
struct Polled {
    enum class State : std::uint8_t { Pending, Completed, Cancelled, Failed };
    State state = State::Pending;
    std::string code;     // Failed only
    std::string message;  // Cancelled and Failed

    friend bool operator==(const Polled&, const Polled&) = default;
};

std::string_view state_name(Invoked::State state);
std::string_view state_name(Polled::State state);

// An operation id as text: 32 lower-case hex digits; and back (none for anything else).
std::string operation_id_text(const operation::OperationId& id);
std::optional<operation::OperationId> parse_operation_id(std::string_view text);

class ActionExecutor {
public:
    // Whether the document's latest changes are kept: an error says why they are kept nowhere
    // but in memory.
    using Saving = std::function<std::expected<void, std::string>()>;

    // `root` and `document` must outlive the executor. `changed` runs after every request that
    // reached the widget or the document (to commit, save and repaint). A plain action is
    // answered as applied only once `saving` says its change is kept; otherwise the change is
    // taken back (the document returns to what it held before, `changed` runs again) and the
    // action is refused.
    ActionExecutor(Widget& root, crdt::Document& document, zavo_actions::ActionRegistry registry,
                   std::function<void()> changed, Saving saving = {});

    // The root widget's resources as JSON (zavo_actions::executor::resources_json).
    std::string list_resources();
    // Invokes the action `action_id` of the resource `resource_id` with `args`.
    std::expected<Invoked, Refusal> invoke(std::string_view resource_id, std::string_view action_id,
                                           const zavo_actions::params::ActionArgs& args);
    // Reports on, or with `cancel` cancels, an operation this executor started whose end has
    // not been reported yet; an id it does not know is refused.
    std::expected<Polled, Refusal> poll(std::string_view operation_id, bool cancel);

    // The most outcomes kept for operations that ended while nobody polled them.
    static constexpr std::size_t kKeptOutcomes = 64;

    const zavo_actions::ActionRegistry& registry() const { return registry_; }

private:
    std::expected<Invoked, Refusal> invoke_operation(const zavo_actions::resource::ActionSpec& spec,
                                                     const zavo_actions::action::EncodedAction& encoded);
    Polled poll_widget(const operation::OperationId& id, bool cancel);
    // Polls the started operations nobody asked about, so that one that has ended does not
    // hold back the next start; their outcomes wait for the next poll.
    void settle_started();
    operation::OperationId new_operation_id() const;

    Widget& root_;
    crdt::Document& document_;
    zavo_actions::ActionRegistry registry_;
    std::function<void()> changed_;
    Saving saving_;
    struct Started {
        std::uint64_t order = 0;
        std::optional<Polled> outcome;  // set once it ended, until it is polled
    };
    std::map<operation::OperationId, Started> started_;
    std::uint64_t starts_ = 0;
};

}  // namespace zavo_ui::action_executor
