// Who may use the action door: every call of this user's clients is carried out, also one whose
// client leaves without waiting for the answer; a client of another user is refused.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "support/process.hpp"
#include "support/temp_dir.hpp"
#include "tests/integration/door_client.hpp"

namespace {

namespace fs = std::filesystem;
using namespace door_test;

class DoorCallers : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = unavailable({"gdbus", "dbus-send"}); !why.empty()) GTEST_SKIP() << why;
        seed(dir_ / "data", dir_ / "seed", machines_);
    }

    std::unique_ptr<Program> start(const std::string& bus_address) {
        return std::make_unique<Program>(
            dir_, "program", bus_address,
            std::map<std::string, std::string>{{"XDG_DATA_HOME", (dir_ / "data").string()}});
    }

    // The connections' titles once the door answers.
    static std::vector<std::string> titles(const Gdbus& client, const std::vector<remote::SavedConnection>& list) {
        const json tree = client.resources();
        std::vector<std::string> out;
        for (const auto& c : list) {
            const json* r = find(tree, "remote.connection:" + c.id.to_string());
            out.push_back(r ? (*r)["title"].get<std::string>() : "(gone)");
        }
        return out;
    }

    static bool door_up(const Gdbus& client) {
        return test_support::eventually([&] { return client.call("ListResources").ok; }, 15s, 50ms);
    }

    test_support::TempDir tmp_{"remote-door-callers.", "/tmp"};
    fs::path dir_ = tmp_.path();
    std::vector<remote::SavedConnection> machines_ = machines(20);
};

TEST_F(DoorCallers, CallsWhoseSenderDoesNotWaitAreCarriedOut) {
    PrivateBus bus(dir_ / "bus");
    auto program = start(bus.address());
    const Gdbus client(bus.address(), dir_);
    ASSERT_TRUE(door_up(client)) << program->stderr_text();

    std::vector<std::string> renamed;
    for (std::size_t i = 0; i < machines_.size(); ++i) {
        renamed.push_back("Renamed " + std::to_string(i + 1));
        ASSERT_TRUE(client.invoke_one_way("remote.connection:" + machines_[i].id.to_string(), "rename",
                                          {{"value", renamed.back()}}))
            << read_text(dir_ / "dbus-send-err");
    }
    // A call that waits comes after all of them: by its answer every one before it was answered.
    EXPECT_TRUE(client.invoke("remote.connection:" + machines_[0].id.to_string(), "favorite").ok);
    EXPECT_EQ(titles(client, machines_), renamed) << program->stderr_text();
    EXPECT_EQ(program->stop(), 0) << program->stderr_text();
}

TEST_F(DoorCallers, AnotherUsersCallsAreRefused) {
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || nobody == nullptr) GTEST_SKIP() << "calling as another user needs root and the user nobody";
    if (!test_support::on_path("setpriv")) GTEST_SKIP() << "setpriv is not installed";
    // A bus that lets every user connect, as a session bus may be configured to.
    const fs::path config = dir_ / "open-bus.conf";
    std::ofstream(config) << R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
    ::chmod(dir_.c_str(), 0755);  // where the other user's client keeps its output
    PrivateBus bus(dir_ / "bus", config);
    auto program = start(bus.address());
    const Gdbus mine(bus.address(), dir_);
    ASSERT_TRUE(door_up(mine)) << program->stderr_text();
    fs::create_directory(dir_ / "nobody");
    ::chown((dir_ / "nobody").c_str(), nobody->pw_uid, nobody->pw_gid);
    const Gdbus theirs(bus.address(), dir_ / "nobody",
                       {"setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
                        "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups"});

    const std::string first = "remote.connection:" + machines_[0].id.to_string();
    const Reply listed = theirs.call("ListResources");
    EXPECT_EQ(listed.error, "org.freedesktop.DBus.Error.AccessDenied") << listed.message;
    const Reply renamed = theirs.invoke(first, "rename", {{"value", "Taken over"}});
    EXPECT_EQ(renamed.error, "org.freedesktop.DBus.Error.AccessDenied") << renamed.message;
    EXPECT_EQ(renamed.message, "only the user who runs the program may use its actions");
    EXPECT_TRUE(theirs.invoke_one_way(first, "rename", {{"value", "Taken over without waiting"}}))
        << read_text(dir_ / "nobody" / "dbus-send-err");
    // This user's call, after theirs, is carried out; theirs were not.
    EXPECT_TRUE(mine.invoke("remote.connection:" + machines_[1].id.to_string(), "rename", {{"value", "Mine"}}).ok);
    const std::vector<std::string> now = titles(mine, machines_);
    EXPECT_EQ(now[0], "Machine 1");
    EXPECT_EQ(now[1], "Mine");
    EXPECT_EQ(program->stop(), 0) << program->stderr_text();
}

}  // namespace
