// The application over its persisted document: connections survive a restart, and two copies
// of the program sharing one folder follow each other's edits.
#include "app/remote_app.hpp"
#include "codecs/codecs.hpp"
#include "doc/profile_document.hpp"
#include "profiles/connection_list.hpp"
#include "support/temp_dir.hpp"
#include "zavo_ui/persist.hpp"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>

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
