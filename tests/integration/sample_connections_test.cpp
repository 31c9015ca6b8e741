// The sample connections of two devices that started in sample mode apart and later share the
// folder: each device has its own, so what one device did to its samples holds once the other
// device's log arrives. Through the real program: offscreen starts and the action door.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.hpp"
#include "tests/integration/door_client.hpp"

namespace {

namespace fs = std::filesystem;
using namespace door_test;

// The connections in a resource tree: title to id (the part after "remote.connection:").
std::multimap<std::string, std::string> connections_of(const json& tree) {
    std::multimap<std::string, std::string> out;
    for (const auto& r : tree)
        for (const auto& c : r["children"]) {
            const std::string id = c["id"];
            if (id.starts_with("remote.connection:")) out.emplace(c["title"], id.substr(18));
        }
    return out;
}

TEST(SampleConnections, TwoDevicesStartedApartKeepTheirOwnEdits) {
    if (const std::string why = unavailable(); !why.empty()) GTEST_SKIP() << why;
    test_support::TempDir tmp("remote-samples.", "/tmp");
    const fs::path dir = tmp.path();
    // The sample connections name private addresses: no live session may reach them.
    const auto env = [&](const std::string& device) {
        return std::map<std::string, std::string>{{"XDG_DATA_HOME", (dir / device / "data").string()},
                                                  {"XDG_STATE_HOME", (dir / device / "state").string()},
                                                  {"ZAVO_REMOTE_SAMPLE", "1"},
                                                  {"REMOTE_LIVE_SESSIONS", ""}};
    };
    PrivateBus bus(dir / "bus");
    const Gdbus client(bus.address(), dir);
    const auto listed = [&](const std::string& device) {
        Program program(dir, device, bus.address(), env(device));
        EXPECT_TRUE(test_support::eventually([&] { return client.call("ListResources").ok; }, 15s, 50ms))
            << program.stderr_text();
        const auto seen = connections_of(client.resources());
        EXPECT_EQ(program.stop(), 0) << program.stderr_text();
        return seen;
    };

    // Each device seeds its own folder with the samples; a second start keeps them.
    const auto a = listed("a");
    const auto b = listed("b");
    ASSERT_EQ(a.size(), 8u);
    EXPECT_EQ(listed("a"), a) << "a second start changed the samples";
    for (const auto& [title, id] : a) {
        ASSERT_EQ(b.count(title), 1u) << title;
        EXPECT_NE(b.find(title)->second, id) << title << " has the same id on both devices";
    }

    // Device A renames one sample and deletes another; then B's log reaches A's folder, as a
    // file-sync tool would bring it.
    Program program(dir, "a", bus.address(), env("a"));
    ASSERT_TRUE(test_support::eventually([&] { return client.call("ListResources").ok; }, 15s, 50ms));
    const std::string box = a.find("Build Box")->second;
    const std::string nas = a.find("Office NAS")->second;
    EXPECT_TRUE(client.invoke("remote.connection:" + box, "rename", {{"value", "A's box"}}).ok);
    EXPECT_TRUE(client.invoke("remote.connection:" + nas, "delete").ok);
    const fs::path b_changes = dir / "b" / "data" / "zavo" / "remote" / "changes";
    const fs::path a_changes = dir / "a" / "data" / "zavo" / "remote" / "changes";
    for (const auto& log : fs::directory_iterator(b_changes)) {
        fs::copy_file(log.path(), dir / "arriving");
        fs::rename(dir / "arriving", a_changes / log.path().filename());
    }
    std::multimap<std::string, std::string> merged;
    EXPECT_TRUE(test_support::eventually(
        [&] { return (merged = connections_of(client.resources())).size() == 8u + 8u - 1u; }, 15s, 100ms))
        << merged.size() << " connections\n"
        << program.stderr_text();
    const auto has = [&](const std::string& title, const std::string& id) {
        const auto [from, to] = merged.equal_range(title);
        return std::any_of(from, to, [&](const auto& entry) { return entry.second == id; });
    };
    EXPECT_TRUE(has("A's box", box)) << "A's rename was lost";
    EXPECT_FALSE(has("Office NAS", nas)) << "A's deleted sample came back";
    EXPECT_TRUE(has("Office NAS", b.find("Office NAS")->second)) << "B's sample is missing";
    EXPECT_EQ(program.stop(), 0) << program.stderr_text();
}

}  // namespace
