#pragma once
// Where an action comes from and what to call it in the history.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zavo_actions::context {

struct ActionSource {
    std::string app_id;
    std::string app_name;

    friend bool operator==(const ActionSource&, const ActionSource&) = default;
};

struct ActionContext {
    std::string label;
    std::vector<std::string> tags;
    std::optional<ActionSource> source;
    std::optional<std::string> document;
    std::optional<std::string> reason;
    std::optional<std::string> origin;

    // This context with what it lacks taken from `base`: an empty label, absent parts, and
    // base tags it does not have (appended after its own).
    ActionContext enriched_by(const ActionContext& base) const;

    friend bool operator==(const ActionContext&, const ActionContext&) = default;
};

// An identifier as words: "UpsertConnection" and "upsert_connection" become "Upsert connection".
std::string humanize_identifier(std::string_view identifier);

}  // namespace zavo_actions::context
