// The application over its persisted document: connections survive a restart, and two copies
// of the program sharing one folder follow each other's edits.
#include "app/launch_record.hpp"
#include "app/remote_app.hpp"
#include "codecs/codecs.hpp"
#include "doc/profile_document.hpp"
#include "profiles/connection_list.hpp"
#include "support/env.hpp"
#include "support/saved_connection.hpp"
#include "support/temp_dir.hpp"
#include "zavo_ui/persist.hpp"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <utility>

namespace fs = std::filesystem;
using namespace remote;

namespace {

class SavedDocument : public ::testing::Test {
protected:
    // One device: its own private state, the shared folder.
    zavo_ui::persist::Locations device(const std::string& name) const {
        return {root_ / "shared", root_ / name / "document"};
    }
    test_support::TempDir tmp_{"saved-document-"};
    fs::path root_ = tmp_.path();
};

std::unique_ptr<zavo_ui::persist::PersistedDocument> open_device(const zavo_ui::persist::Locations& at) {
    auto d = zavo_ui::persist::open_at(at);
    EXPECT_TRUE(d) << (d ? "" : d.error());
    return d ? std::move(*d) : nullptr;
}

std::vector<std::string> sorted_names(const RemoteApp& app) {
    std::vector<std::string> out;
    for (const auto& c : app.connections) out.push_back(c.name);
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

TEST_F(SavedDocument, ConnectionsSurviveARestartAndReachASecondCopy) {
    {
        auto store = open_device(device("laptop"));
        auto app = RemoteApp::with_sample_data();
        app->sync_document(store->document());
        ASSERT_TRUE(store->save_changes());
    }
    auto laptop_store = open_device(device("laptop"));
    auto laptop = RemoteApp::new_();
    laptop->sync_document(laptop_store->document());
    ASSERT_EQ(laptop->connections.size(), 8u);
    EXPECT_EQ(sorted_names(*laptop), sorted_names(*RemoteApp::with_sample_data()));

    auto desk_store = open_device(device("desk"));
    auto desk = RemoteApp::new_();
    desk->sync_document(desk_store->document());
    EXPECT_EQ(desk->connections, laptop->connections);

    // An edit on the desk, dispatched as the program does, reaches the laptop.
    SavedConnection renamed = desk->connections[0];
    renamed.name = "Renamed on the desk";
    desk->action_host.dispatch_with_context(desk_store->document(), "remote.action",
                                            rename_action(renamed.id, renamed.name));
    ASSERT_TRUE(desk_store->save_changes());
    ASSERT_TRUE(laptop_store->merge_from_folder());
    laptop->sync_document(laptop_store->document());
    EXPECT_EQ(find_connection(laptop->connections, renamed.id)->name, "Renamed on the desk");
}

TEST_F(SavedDocument, TwoDevicesStartingOnAnEmptyFolderBothKeepTheirConnections) {
    // Both open the empty folder before either has written anything.
    auto laptop_store = open_device(device("laptop"));
    auto desk_store = open_device(device("desk"));
    auto laptop = RemoteApp::new_();
    auto desk = RemoteApp::new_();
    const std::pair<RemoteApp*, zavo_ui::persist::PersistedDocument*> devices[] = {{laptop.get(), laptop_store.get()},
                                                                                   {desk.get(), desk_store.get()}};
    for (auto [app, store] : devices) {
        app->sync_document(store->document());
        SavedConnection c = RemoteApp::with_sample_data()->connections[0];
        c.id = Uuid::new_v4();
        c.name = app == laptop.get() ? "From the laptop" : "From the desk";
        app->action_host.dispatch_with_context(store->document(), "remote.action", upsert_action(c));
        ASSERT_TRUE(store->save_changes());
    }
    for (auto [app, store] : devices) {
        store->merge_from_folder();
        app->sync_document(store->document());
        EXPECT_EQ(sorted_names(*app), (std::vector<std::string>{"From the desk", "From the laptop"}));
    }
}

// Two devices start in sample mode apart, each seeding a folder of its own, and meet later: what
// device A did to its samples holds once B's log arrives, whichever replica wins a conflict.
TEST_F(SavedDocument, SampleEditsOfOneDeviceHoldWhenAnotherDevicesSamplesArrive) {
    test_support::EnvGuard env;
    env.set("ZAVO_REMOTE_SAMPLE", "1");
    for (int run = 0; run < 10; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        const fs::path at = root_ / std::to_string(run);
        const auto start = [&](const std::string& name) {
            auto store = open_device({at / name / "shared", at / name / "document"});
            auto built = app::build_initial_state({std::nullopt, store->actor()});
            std::unique_ptr<RemoteApp> app(dynamic_cast<RemoteApp*>(built->release()));
            app->sync_document(store->document());
            EXPECT_TRUE(store->save_changes());
            return std::pair{std::move(store), std::move(app)};
        };
        auto [a_store, a] = start("a");
        auto [b_store, b] = start("b");
        const Uuid box = test_support::id_named(a->connections, "Build Box");
        const Uuid nas = test_support::id_named(a->connections, "Office NAS");
        a->action_host.dispatch_with_context(a_store->document(), "remote.action", rename_action(box, "A's box"));
        a->action_host.dispatch_with_context(a_store->document(), "remote.action",
                                             RemoteAction{RemoteAction::DeleteConnection{nas}});
        ASSERT_TRUE(a_store->save_changes());

        // B's log reaches A's folder.
        const fs::path b_log = at / "b" / "shared" / "changes" / (b_store->actor() + ".log");
        fs::copy_file(b_log, at / "a" / "shared" / "changes" / b_log.filename());
        ASSERT_TRUE(a_store->merge_from_folder());
        a->sync_document(a_store->document());
        const SavedConnection* renamed = find_connection(a->connections, box);
        ASSERT_NE(renamed, nullptr);
        EXPECT_EQ(renamed->name, "A's box");
        EXPECT_EQ(find_connection(a->connections, nas), nullptr) << "A's deleted sample came back";
        EXPECT_EQ(a->connections.size(), 8u + 8u - 1u) << "B's samples are its own";
    }
}

// A device's samples keep their ids across its starts, and differ from every other device's;
// without a kept document each start makes new ones.
TEST(SampleIds, FollowTheDeviceAndTheName) {
    test_support::EnvGuard env;
    env.set("ZAVO_REMOTE_SAMPLE", "1");
    const auto ids = [](std::optional<std::string> device) {
        auto built = app::build_initial_state({std::nullopt, std::move(device)});
        std::vector<Uuid> out;
        for (const auto& c : dynamic_cast<RemoteApp&>(**built).connections) out.push_back(c.id);
        return out;
    };
    const std::string a = "0123456789abcdef0123456789abcdef", b = "fedcba9876543210fedcba9876543210";
    EXPECT_EQ(ids(a), ids(a));
    std::set<Uuid> all;
    for (const auto& device : {std::optional(a), std::optional(b), std::optional<std::string>()})
        for (const Uuid& id : ids(device)) all.insert(id);
    for (const Uuid& id : ids(std::nullopt)) all.insert(id);
    EXPECT_EQ(all.size(), 4u * 8u) << "an id is shared between devices, or between starts without a document";
}
