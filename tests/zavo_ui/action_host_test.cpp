#include "zavo_ui/action_host.hpp"
#include "zavo_ui/bound_dispatch.hpp"
#include "support/log.hpp"

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <sstream>
#include <string>

using test_support::CapturedLog;
using zavo_ui::action_host::ActionContext;
using zavo_ui::action_host::ActionError;
using zavo_ui::action_host::ActionHost;

namespace {

// Sets ROOT.name; an empty name is refused.
struct SetName {
    std::string name;
    std::string serialize_json_writer() const { return "{\"SetName\":\"" + name + "\"}"; }
    std::string to_debug_string() const { return "SetName"; }
    std::expected<void, ActionError> apply(crdt::Document& doc) const {
        if (name.empty()) return std::unexpected(ActionError{ActionError::Refused{"empty name"}});
        doc.put(crdt::ROOT, "name", name).value();
        return {};
    }
};

std::string stored_name(const crdt::Document& doc) {
    auto entry = doc.get(crdt::ROOT, "name").value();
    return entry ? std::get<std::string>(*entry->value.scalar()) : "";
}

std::optional<std::string> last_message(crdt::Document& doc) { return doc.get_changes({}).back().message(); }

TEST(ActionHost, DispatchAppliesRecordsAndKeepsTheFirstPendingHeads) {
    crdt::Document doc;
    doc.put(crdt::ROOT, "seed", std::int64_t{1}).value();
    auto heads0 = doc.get_heads();
    ActionHost host;

    ASSERT_TRUE(host.dispatch_typed(doc, "test.action", SetName{"a"}));
    EXPECT_EQ(stored_name(doc), "a");
    EXPECT_EQ(last_message(doc), std::nullopt);  // no context given, none held
    ASSERT_TRUE(host.dispatch_typed(doc, "test.action", SetName{"b"}));
    EXPECT_EQ(host.pending_heads, heads0);
    ASSERT_TRUE(host.last_action);
    EXPECT_EQ(host.last_action->type_id, "test.action");
    EXPECT_EQ(host.last_action->payload_text(), R"({"SetName":"b"})");

    EXPECT_EQ(host.take_pending_heads(), heads0);
    EXPECT_FALSE(host.pending_heads);
    auto heads2 = doc.get_heads();
    ASSERT_TRUE(host.dispatch_typed(doc, "test.action", SetName{"c"}));
    EXPECT_EQ(host.pending_heads, heads2);
}

TEST(ActionHost, MergesTheCallersContextWithTheBaseContext) {
    crdt::Document doc;
    ActionHost host;
    ActionContext own;
    own.label = "Rename";
    ASSERT_TRUE(host.dispatch_typed(doc, "t", SetName{"a"}, own));
    EXPECT_EQ(last_message(doc), "Rename");

    ActionContext base;
    base.label = "Base";
    host.base_context = base;
    ASSERT_TRUE(host.dispatch_typed(doc, "t", SetName{"b"}));
    EXPECT_EQ(last_message(doc), "Base");
    ASSERT_TRUE(host.dispatch_typed(doc, "t", SetName{"c"}, ActionContext{}));
    EXPECT_EQ(last_message(doc), "Base");  // the empty label is filled from the base
    ASSERT_TRUE(host.dispatch_typed(doc, "t", SetName{"d"}, own));
    EXPECT_EQ(last_message(doc), "Rename");
}

TEST(ActionHost, FailedDispatchLogsOneWarningAndChangesNothing) {
    crdt::Document doc;
    ActionHost host;
    CapturedLog log;
    host.dispatch_with_context(doc, "test.action", SetName{""});
    EXPECT_FALSE(host.pending_heads);
    EXPECT_FALSE(host.last_action);
    EXPECT_EQ(log.text(), "warning|action dispatch failed error=action refused: empty name action_type=test.action\n");

    host.dispatch_with_context(doc, "test.action", SetName{"ok"});
    EXPECT_EQ(log.text().find('\n'), log.text().size() - 1);  // still the one line
    EXPECT_EQ(stored_name(doc), "ok");
}

TEST(ActionHost, ObserversSeeTheHeadsAroundEachAction) {
    crdt::Document doc;
    ActionHost host;
    std::vector<zavo_ui::bound_dispatch::TypedActionReport> reports;
    zavo_ui::bound_dispatch::observe(doc, [&](const auto& report) { reports.push_back(report); });
    auto before = doc.get_heads();
    ASSERT_TRUE(host.dispatch_typed(doc, "t", SetName{"a"}));
    zavo_ui::bound_dispatch::observe(doc, nullptr);
    ASSERT_TRUE(host.dispatch_typed(doc, "t", SetName{"b"}));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].heads_before, before);
    EXPECT_NE(reports[0].heads_after, before);
    EXPECT_EQ(host.pending_heads, before);
}

}  // namespace
