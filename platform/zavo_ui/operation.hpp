#pragma once
// Outcomes of operations that the framework starts, runs and polls on a widget.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace zavo_ui::operation {

// Issued by the framework for each started operation.
using OperationId = std::array<std::uint8_t, 16>;

// What a finished operation hands back: result texts and an optional value (JSON text).
struct Completion {
    std::vector<std::string> results;
    std::optional<std::string> value;
    friend bool operator==(const Completion&, const Completion&) = default;
};

namespace start {
struct Pending {
    friend bool operator==(const Pending&, const Pending&) = default;
};
struct NotHandled {
    friend bool operator==(const NotHandled&, const NotHandled&) = default;
};
struct Refused {
    std::string message;
    friend bool operator==(const Refused&, const Refused&) = default;
};
struct Completed {
    Completion completion;
    friend bool operator==(const Completed&, const Completed&) = default;
};
}  // namespace start
using StartOutcome = std::variant<start::Pending, start::NotHandled, start::Refused, start::Completed>;

// A run at once: handled or not, or a failure with a message.
struct RunResult {
    bool handled = false;
    friend bool operator==(const RunResult&, const RunResult&) = default;
};
struct RunFailure {
    std::string message;
    friend bool operator==(const RunFailure&, const RunFailure&) = default;
};
using RunOutcome = std::variant<RunResult, RunFailure>;

namespace poll {
struct Pending {
    friend bool operator==(const Pending&, const Pending&) = default;
};
struct Completed {
    Completion completion;
    OperationId id{};
    friend bool operator==(const Completed&, const Completed&) = default;
};
struct Cancelled {
    std::string message;
    OperationId id{};
    friend bool operator==(const Cancelled&, const Cancelled&) = default;
};
struct Failed {
    std::string code;
    std::string message;
    OperationId id{};
    std::optional<std::string> detail;
    bool retryable = false;
    friend bool operator==(const Failed&, const Failed&) = default;
};
}  // namespace poll
using PollOutcome = std::variant<poll::Pending, poll::Completed, poll::Cancelled, poll::Failed>;

// The run adapter's rule: a failure stays a refusal with its message, a handled run becomes a
// completion with no results and no value, an unhandled run stays unhandled.
StartOutcome adapt_run(const RunOutcome& run);

}  // namespace zavo_ui::operation
