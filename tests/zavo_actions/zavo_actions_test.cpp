#include "zavo_actions/context.hpp"
#include "zavo_actions/executor.hpp"
#include "zavo_actions/registry.hpp"
#include "zavo_actions/resource.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace zavo_actions;
using action::ActionError;
using action::EncodedAction;

namespace {

// Sets ROOT.name, or fails without touching the document.
class PutName final : public action::Action {
public:
    explicit PutName(std::string name, bool fail = false) : name_(std::move(name)), fail_(fail) {}
    std::string to_debug_string() const override { return "PutName"; }
    std::expected<void, ActionError> apply(crdt::Document& doc) const override {
        if (fail_) return std::unexpected(ActionError{ActionError::Refused{"no"}});
        auto put = doc.put(crdt::ROOT, "name", name_);
        if (!put) return std::unexpected(ActionError{ActionError::Automerge{put.error().message}});
        return {};
    }
    bool coalesces() const override { return false; }

private:
    std::string name_;
    bool fail_;
};

EncodedAction encoded(std::string type, std::string payload = "{}") {
    return EncodedAction{std::move(type), std::vector<std::uint8_t>(payload.begin(), payload.end())};
}

TEST(ActionError, DisplayAndDebugTexts) {
    ActionError decode{ActionError::Decode{"remote.action", "bad at line 1 column 2"}};
    EXPECT_EQ(decode.to_string(), "could not decode remote.action action: bad at line 1 column 2");
    EXPECT_EQ(decode.to_debug_string(), R"(Decode { type_id: "remote.action", source: "bad at line 1 column 2" })");
    EXPECT_EQ((ActionError{ActionError::Encode{"x"}}).to_debug_string(), R"(Encode("x"))");
    EXPECT_EQ((ActionError{ActionError::UnknownType{"t"}}).to_string(), "unknown action type `t`");
    EXPECT_EQ((ActionError{ActionError::Refused{"a \"b\""}}).to_debug_string(), R"(Refused("a \"b\""))");
}

TEST(ActionRegistry, InsertReplacesAndHandsBackTheOldDecoder) {
    ActionRegistry registry;
    auto decoder = [](std::string name) -> ActionDecoder {
        return [name](std::span<const std::uint8_t>) -> std::expected<std::unique_ptr<action::Action>, ActionError> {
            return std::make_unique<PutName>(name);
        };
    };
    EXPECT_FALSE(registry.insert("t", decoder("first")));
    ActionDecoder old = registry.insert("t", decoder("second"));
    ASSERT_TRUE(old);
    EXPECT_EQ(registry.size(), 1u);
    crdt::Document doc;
    ASSERT_TRUE((*registry.decode(encoded("t")))->apply(doc));
    EXPECT_EQ(std::get<std::string>(*doc.get(crdt::ROOT, "name")->value().value.scalar()), "second");

    auto unknown = registry.decode(encoded("u"));
    ASSERT_FALSE(unknown);
    EXPECT_TRUE(std::holds_alternative<ActionError::UnknownType>(unknown.error().error));
}

TEST(ActionContext, HumanizesIdentifiers) {
    const std::pair<const char*, const char*> cases[] = {
        {"UpsertConnection", "Upsert connection"},
        {"ShowConnections", "Show connections"},
        {"TrustSshHostKey", "Trust ssh host key"},
        {"SSHHostKey", "Ssh host key"},
        {"upsert_connection", "Upsert connection"},
        {"send-text", "Send text"},
        {"A", "A"},
        {"", ""},
    };
    for (const auto& [id, words] : cases) EXPECT_EQ(context::humanize_identifier(id), words) << id;
}

TEST(ActionContext, EnrichedByFillsWhatIsMissing) {
    context::ActionContext base{"Base", {"a", "b"}, context::ActionSource{"id", "App"}, "doc", std::nullopt, "o"};
    context::ActionContext own{"", {"b", "c"}, std::nullopt, std::nullopt, "why", std::nullopt};
    auto merged = own.enriched_by(base);
    EXPECT_EQ(merged.label, "Base");
    EXPECT_EQ(merged.tags, (std::vector<std::string>{"b", "c", "a"}));
    EXPECT_EQ(merged.source, base.source);
    EXPECT_EQ(merged.document, "doc");
    EXPECT_EQ(merged.reason, "why");
    own.label = "Own";
    EXPECT_EQ(own.enriched_by(base).label, "Own");
}

TEST(Resource, BuildersKeepOrderAndReplace) {
    resource::Resource root("r", "k", "t");
    root = std::move(root).with_child({});
    EXPECT_TRUE(root.children.empty());
    root = std::move(root).with_child({resource::Resource("a", "k", "A")});
    root = std::move(root).with_child({resource::Resource("b", "k", "B"), resource::Resource("c", "k", "C")});
    ASSERT_EQ(root.children.size(), 3u);
    EXPECT_EQ(root.children[2].id, "c");

    resource::ActionSpec spec;
    spec = std::move(spec).unavailable("first", "one").unavailable("second", "two");
    EXPECT_EQ(spec.contract.availability, (resource::Availability{false, "second", "two"}));
    spec = std::move(spec).destructive().with_contract({"w"}, {1, 2, 3, 4, 5});
    EXPECT_TRUE(spec.contract.destructive);
    EXPECT_FALSE(spec.contract.availability.available);

    EXPECT_EQ(resource::enforce_operation_type(encoded("op", "x"), "op"), encoded("op", "x"));
    EXPECT_EQ(resource::enforce_operation_type(encoded("other", "x"), "op"), (EncodedAction{"op", {}}));
}

TEST(Executor, AppliesCommitsAndDelivers) {
    crdt::Document doc;
    executor::LocalTransport transport;
    std::vector<std::uint8_t> actor{1, 2};
    context::ActionContext ctx;
    ctx.label = "Rename";
    ASSERT_TRUE(executor::dispatch_by_with_context(doc, PutName("a"), encoded("t"), transport, actor, ctx));
    auto changes = doc.get_changes({});
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes.back().message(), "Rename");
    ASSERT_EQ(transport.outbox.size(), 1u);
    EXPECT_EQ(transport.outbox[0].actor, actor);

    ASSERT_TRUE(executor::dispatch_by(doc, PutName("b"), encoded("t"), transport, actor));
    EXPECT_EQ(doc.get_changes({}).back().message(), std::nullopt);

    auto refused = executor::dispatch_by(doc, PutName("c", true), encoded("t"), transport, actor);
    ASSERT_FALSE(refused);
    EXPECT_EQ(transport.outbox.size(), 2u);
    EXPECT_EQ(doc.get_changes({}).size(), 2u);
}

}  // namespace
