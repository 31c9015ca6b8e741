#include "codecs/codecs.hpp"
#include "doc/profile_document.hpp"
#include "framework_support/action_specs.hpp"
#include "zavo_ui/action_host.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace remote;
using zavo_actions::action::ActionError;

namespace {

SavedConnection stored(std::string name) {
    SavedConnection c;
    c.name = std::move(name);
    c.host = "example.org";
    c.port = 22;
    c.user = "me";
    c.id = Uuid::new_v4();
    c.favorite = true;
    c.presence = Presence::Online;
    c.last_used = "12m ago";
    c.group = "lab";
    return c;
}

TEST(RemoteActionApply, UpsertKeepsStoredFavouritePresenceAndLastUse) {
    ProfileDocument doc;
    SavedConnection original = stored("box");
    store_connection(doc, original);

    SavedConnection edited = original;
    edited.name = "renamed";
    edited.port = 2222;
    edited.kind = ConnectionKind::Vnc;
    edited.favorite = false;
    edited.presence = Presence::Offline;
    edited.last_used = "just now";
    ASSERT_TRUE(upsert_action(edited).apply(doc));

    auto loaded = load_connections(doc);
    ASSERT_EQ(loaded.size(), 1u);
    SavedConnection expected = edited;
    expected.favorite = true;
    expected.presence = Presence::Online;
    expected.last_used = "12m ago";
    EXPECT_EQ(loaded[0], expected);
}

TEST(RemoteActionApply, UpsertOfANewIdWritesDefaults) {
    ProfileDocument doc;
    SavedConnection fresh = stored("new");
    ASSERT_TRUE(upsert_action(fresh).apply(doc));
    auto loaded = load_connections(doc);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_FALSE(loaded[0].favorite);
    EXPECT_EQ(loaded[0].presence, Presence::Unknown);
    EXPECT_EQ(loaded[0].last_used, "Never");
    EXPECT_EQ(loaded[0].name, "new");
}

TEST(RemoteActionApply, RenameFavouriteAndDelete) {
    ProfileDocument doc;
    SavedConnection c = stored("box");
    store_connection(doc, c);
    ASSERT_TRUE(rename_action(c.id, " spaced ").apply(doc));
    ASSERT_TRUE((RemoteAction{RemoteAction::SetFavorite{c.id, false}}).apply(doc));
    auto loaded = load_connections(doc);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].name, " spaced ");
    EXPECT_FALSE(loaded[0].favorite);

    // An id the document does not hold: success, nothing changes.
    Uuid absent = Uuid::new_v4();
    auto before = load_connections(doc);
    for (const RemoteAction& a : {rename_action(absent, "x"), RemoteAction{RemoteAction::SetFavorite{absent, true}},
                                  RemoteAction{RemoteAction::DeleteConnection{absent}}}) {
        ASSERT_TRUE(a.apply(doc)) << a.to_debug_string();
        EXPECT_EQ(load_connections(doc), before) << a.to_debug_string();
    }
    ASSERT_TRUE((RemoteAction{RemoteAction::DeleteConnection{c.id}}).apply(doc));
    EXPECT_TRUE(load_connections(doc).empty());
}

TEST(RemoteActionApply, RegisteredDecoderAppliesAndReportsDecodeErrors) {
    zavo_actions::ActionRegistry registry;
    register_remote_actions(registry);
    register_remote_actions(registry);
    EXPECT_EQ(registry.size(), 1u);

    ProfileDocument doc;
    SavedConnection c = stored("box");
    auto decoded = registry.decode(encode_remote_action(upsert_action(c)));
    ASSERT_TRUE(decoded);
    EXPECT_EQ((*decoded)->to_debug_string(), upsert_action(c).to_debug_string());
    EXPECT_FALSE((*decoded)->coalesces());
    ASSERT_TRUE((*decoded)->apply(doc));
    EXPECT_EQ(load_connections(doc).size(), 1u);

    std::string bad = R"({"SetFavorite":{"id":"x"}})";
    auto refused = decode_remote_action(std::vector<std::uint8_t>(bad.begin(), bad.end()));
    ASSERT_FALSE(refused);
    auto* decode = std::get_if<ActionError::Decode>(&refused.error().error);
    ASSERT_TRUE(decode);
    EXPECT_EQ(decode->type_id, "remote.action");
    EXPECT_TRUE(decode->source.starts_with("UUID parsing failed: ")) << decode->source;
    EXPECT_TRUE(decode->source.ends_with(" at line 1 column 24")) << decode->source;
}

TEST(RemoteActionApply, DispatchThroughTheActionHost) {
    ProfileDocument doc;
    zavo_ui::action_host::ActionHost host;
    SavedConnection c = stored("box");
    RemoteAction action = upsert_action(c);
    host.dispatch_with_context(doc, kRemoteActionType, action,
                               framework_support::context_for_action("org.example.remote", "Remote", action));
    auto loaded = load_connections(doc);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].name, "box");
    EXPECT_EQ(doc.get_changes({}).back().message(), "Upsert connection");
    EXPECT_EQ(host.last_action, encode_remote_action(action));
}

}  // namespace
