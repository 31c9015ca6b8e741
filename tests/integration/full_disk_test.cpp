// The program with this device's state folder on a full disk: what the action door answers as
// applied is there after the program is killed, the space freed and the program started again,
// and the window says that changes are not being saved.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/env.hpp"
#include "support/small_disk.hpp"
#include "support/temp_dir.hpp"
#include "tests/integration/atspi_run.hpp"
#include "tests/integration/door_client.hpp"

namespace {

namespace fs = std::filesystem;
using namespace door_test;

constexpr std::size_t kDiskBytes = 1u << 20;

class FullDisk : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = unavailable(); !why.empty()) GTEST_SKIP() << why;
        disk_ = std::make_unique<test_support::SmallDisk>(dir_ / "disk", kDiskBytes);
        if (!disk_->unavailable().empty()) GTEST_SKIP() << "no small disk to fill: " << disk_->unavailable();
    }

    test_support::TempDir tmp_{"remote-full-disk.", "/tmp"};
    fs::path dir_ = tmp_.path();
    std::unique_ptr<test_support::SmallDisk> disk_;
};

// Twenty renames through the door while this device's state is on a full disk, with the shared
// folder on a disk with space or on the full one too. Each is refused and not made, or once
// answered applied it is there after a kill, the space freed and a new start.
TEST_F(FullDisk, WhatTheDoorAnswersAsAppliedSurvivesAKillAndARestart) {
    struct Case {
        const char* what;
        fs::path data;
        bool all_applied;  // the shared folder takes what the full disk cannot
    } cases[] = {
        {"shared folder with space", dir_ / "data", true},
        {"shared folder on the full disk too", dir_ / "disk" / "data", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path state = dir_ / "disk" / "state";
        const auto list = machines(20);
        seed(c.data, dir_ / "seed", list);
        const std::map<std::string, std::string> env = {{"XDG_DATA_HOME", c.data.string()},
                                                        {"XDG_STATE_HOME", state.string()}};
        PrivateBus bus(dir_ / "bus");
        const Gdbus client(bus.address(), dir_);
        auto program = std::make_unique<Program>(dir_, "program", bus.address(), env);
        ASSERT_TRUE(test_support::eventually([&] { return client.call("ListResources").ok; }, 15s, 50ms))
            << program->stderr_text();

        disk_->fill();
        std::map<std::string, std::string> applied;  // connection id to the name answered applied
        std::map<std::string, std::string> refused;  // connection id to the name it keeps
        for (std::size_t i = 0; i < list.size(); ++i) {
            const std::string id = list[i].id.to_string();
            const std::string name = "Renamed " + std::to_string(i + 1);
            const Reply r = client.invoke("remote.connection:" + id, "rename", {{"value", name}});
            if (r.ok) {
                EXPECT_EQ(r.values, (std::vector<std::string>{"applied", ""}));
                applied[id] = name;
            } else {
                EXPECT_EQ(r.error, "dev.zavo.remote.Error.Failed") << r.message;
                EXPECT_NE(r.message.find("No space left on device"), std::string::npos) << r.message;
                refused[id] = list[i].name;
                const json shown = client.resources();
                const json* now = find(shown, "remote.connection:" + id);
                ASSERT_NE(now, nullptr) << id;
                EXPECT_EQ((*now)["title"], list[i].name) << "refused, yet made";
            }
        }
        EXPECT_EQ(refused.empty(), c.all_applied) << refused.size() << " refused";
        // With space again, a change is saved with whatever the program still held.
        disk_->free();
        EXPECT_TRUE(client.invoke("remote.connection:" + list[0].id.to_string(), "favorite").ok);
        program->kill_hard();

        program = std::make_unique<Program>(dir_, "program", bus.address(), env);
        ASSERT_TRUE(test_support::eventually([&] { return client.call("ListResources").ok; }, 15s, 50ms))
            << program->stderr_text();
        const json tree = client.resources();
        for (const auto& [answered, kept] : {std::pair(&applied, "answered applied, then lost"),
                                             std::pair(&refused, "refused, then made")})
            for (const auto& [id, name] : *answered) {
                const json* r = find(tree, "remote.connection:" + id);
                ASSERT_NE(r, nullptr) << id;
                EXPECT_EQ((*r)["title"], name) << kept;
            }
        EXPECT_EQ(program->stop(), 0) << program->stderr_text();
        for (const fs::path& used : {state, c.data, dir_ / "seed"}) fs::remove_all(used);
    }
}

// The window tells once that changes are not being saved, and once that they are again.
TEST_F(FullDisk, TheWindowSaysThatChangesAreNotSavedAndWhenTheyAreAgain) {
    if (const std::string why = atspi_test::unavailable(); !why.empty()) GTEST_SKIP() << why;
    const auto list = machines(3);
    auto seeded = list;
    seeded.push_back(test_support::saved("Studio", remote::ConnectionKind::Zavo, "", 0, "",
                                         remote::AuthKind::DeviceIdentity));  // ready without live sessions
    seed(dir_ / "data", dir_ / "seed", seeded);
    ::chmod(dir_.c_str(), 0755);
    test_support::EnvGuard env;
    env.set("XDG_DATA_HOME", (dir_ / "data").c_str());
    env.set("XDG_STATE_HOME", (dir_ / "disk" / "state").c_str());
    env.set("ZAVO_REMOTE_SAMPLE", nullptr);
    std::vector<std::string> args = {std::string(REMOTE_BINARY_DIR) + "/remote", (dir_ / "disk" / ".filler").string()};
    for (const auto& c : list) args.push_back(c.id.to_string());
    const auto run = atspi_test::run_checker("saving_notice_check.py", args, 90);
    EXPECT_TRUE(run.ok) << run.output;
    for (const char* step : {"failing ok", "once ok", "saved again ok"})
        EXPECT_NE(run.output.find(step), std::string::npos) << step << "\n" << run.output;
}

}  // namespace
