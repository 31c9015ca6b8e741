#include "framework_support/action_specs.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

using namespace framework_support;

namespace {

// A payload type with a fixed JSON value.
struct Payload {
    nlohmann::ordered_json json;
    std::string serialize_json_writer() const { return json.dump(); }
    nlohmann::ordered_json serialize() const { return json; }
};

std::string text_of(const EncodedAction& a) { return std::string(a.payload.begin(), a.payload.end()); }

TEST(ActionSpecs, TypedBuildersEncodeOnceWithContractDefaults) {
    Payload show{"ShowConnections"};
    auto view = typed_operation("open", "Show", kViewOperationKind, "remote.operation", show);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->contract.settings, (std::array<std::uint8_t, 5>{0, 0, 0, 0, 1}));
    EXPECT_EQ(view->operation_type, "remote.operation");
    EXPECT_EQ(view->kind, kViewOperationKind);
    EXPECT_EQ(text_of(view->invoke({})), "\"ShowConnections\"");
    EXPECT_EQ(view->invoke({}), view->invoke({}));

    auto session = typed_operation("connect", "Connect", 1, "remote.operation", show);
    EXPECT_EQ(session->contract.settings, (std::array<std::uint8_t, 5>{0, 2, 0, 1, 3}));

    auto plain = typed_action("delete", "Delete", "remote.action", Payload{{{"DeleteConnection", {{"id", "x"}}}}});
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->kind, kPlainActionKind);
    EXPECT_FALSE(plain->operation_type);
    EXPECT_FALSE(plain->flag);
    EXPECT_TRUE(plain->parameters.empty());
    EXPECT_EQ(plain->contract.settings, (std::array<std::uint8_t, 5>{0, 2, 0, 1, 3}));
    EXPECT_EQ(plain->invoke({}).type_id, "remote.action");
}

TEST(ActionSpecs, TextActionPassesTheValueOrEmptyText) {
    std::vector<std::string> seen;
    auto spec = text_action("rename", "Rename", "New name", "connection name", true,
                            make_text_encoder([&](std::string_view text) {
                                seen.emplace_back(text);
                                return EncodedAction{"remote.action", {}};
                            }));
    ASSERT_EQ(spec.parameters.size(), 1u);
    EXPECT_EQ(spec.parameters[0].name, "value");
    EXPECT_EQ(spec.parameters[0].label, "New name");
    EXPECT_TRUE(spec.parameters[0].required);
    EXPECT_FALSE(spec.parameters[0].multiline || spec.parameters[0].secret);
    EXPECT_TRUE(spec.flag);
    spec.invoke({});
    spec.invoke(ActionArgs{{{"value", "box"}}});
    EXPECT_EQ(seen, (std::vector<std::string>{"", "box"}));
    ASSERT_TRUE(std::holds_alternative<zavo_actions::resource::TextField>(spec.input));
    EXPECT_EQ(std::get<zavo_actions::resource::TextField>(spec.input).hint, "connection name");
}

TEST(ActionSpecs, OperationWithInputEncodesAtEachInvocationUnderItsType) {
    int calls = 0;
    auto spec = operation_with_input("send-text", "Send", "command or text", 1, "remote.operation",
                                     {text_parameter("text", "Text")}, [&](const ActionArgs& args) {
                                         ++calls;
                                         std::string t = args.text("text").value_or("");
                                         return EncodedAction{t == "wrong" ? "remote.action" : "remote.operation",
                                                              std::vector<std::uint8_t>(t.begin(), t.end())};
                                     });
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(text_of(spec.invoke(ActionArgs{{{"text", "ls"}}})), "ls");
    EXPECT_EQ(spec.invoke(ActionArgs{{{"text", "wrong"}}}), (EncodedAction{"remote.operation", {}}));
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(spec.contract.settings, (std::array<std::uint8_t, 5>{0, 2, 0, 1, 3}));
    ASSERT_TRUE(std::holds_alternative<zavo_actions::resource::FormInput>(spec.input));
    EXPECT_EQ(std::get<zavo_actions::resource::FormInput>(spec.input).encoder, spec.encoder);
}

TEST(ActionSpecs, ContextLabelFromTheValueForm) {
    EXPECT_EQ(context_for_action("app.id", "Remote", Payload{{{"UpsertConnection", {{"id", 1}}}}}).label,
              "Upsert connection");
    EXPECT_EQ(context_for_action("app.id", "Remote", Payload{"ShowConnections"}).label, "Show connections");
    EXPECT_EQ(context_for_action("app.id", "Remote", Payload{{{"a", 1}, {"b", 2}}}).label, "Update");
    EXPECT_EQ(context_for_action("app.id", "Remote", Payload{5}).label, "Update");
    auto ctx = context_for_action("app.id", "Remote", Payload{"X"});
    EXPECT_EQ(ctx.source, (zavo_actions::context::ActionSource{"app.id", "Remote"}));
    EXPECT_TRUE(ctx.tags.empty());
}

}  // namespace
