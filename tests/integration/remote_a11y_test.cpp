// Remote end to end as a screen-reader user: the real program under Xvfb with a private AT-SPI
// bus, driven only through pyatspi (remote_a11y_check.py) against a private sshd.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "doc/profile_document.hpp"
#include "support/env.hpp"
#include "support/process.hpp"
#include "support/saved_connection.hpp"
#include "support/temp_dir.hpp"
#include "tests/integration/atspi_run.hpp"
#include "tests/integration/ssh_server.hpp"
#include "zavo_ui/persist.hpp"

namespace {

using namespace remote;

TEST(RemoteAccessibility, AScreenReaderUserSavesAConnectionAndConnects) {
    if (const std::string why = atspi_test::unavailable(); !why.empty()) GTEST_SKIP() << why;
    if (const std::string why = ssh_test::SshServer::unavailable(); !why.empty()) GTEST_SKIP() << why;
    ssh_test::SshServer server;
    test_support::TempDir home("remote-a11y.");
    test_support::EnvGuard env;
    server.program_env(env, home.path());

    const auto run = atspi_test::run_checker(
        "remote_a11y_check.py",
        {std::string(REMOTE_BINARY_DIR) + "/remote", std::to_string(server.port()), server.user()}, 120);
    EXPECT_TRUE(run.ok) << run.output;
    for (const char* step : {"form ok", "list ok", "notice ok", "session ok", "disconnect ok"})
        EXPECT_NE(run.output.find(step), std::string::npos) << step << "\n" << run.output;
}

}  // namespace

// What a reader is told while the list, a field and the shell change, and what an edit through
// AT-SPI leaves in the document (remote_a11y_events_check.py).
TEST(RemoteAccessibility, AReaderIsToldWhatChangesInCharactersAndEditsKeepEveryOne) {
    if (const std::string why = atspi_test::unavailable(); !why.empty()) GTEST_SKIP() << why;
    if (const std::string why = ssh_test::SshServer::unavailable(); !why.empty()) GTEST_SKIP() << why;
    for (const char* tool : {"xdotool", "bash"})
        if (!test_support::on_path(tool))
            GTEST_SKIP() << tool << " is not installed (scripts/install-deps installs it)";
    ssh_test::SshServer server;
    test_support::TempDir home("remote-a11y-events.");
    test_support::EnvGuard env;
    server.program_env(env, home.path());
    {
        auto document = zavo_ui::persist::open("dev.zavo.remote");
        ASSERT_TRUE(document) << document.error();
        for (const char* name : {"Alpha", "Lab shell"}) {
            SavedConnection c = test_support::saved(name, ConnectionKind::Ssh, "127.0.0.1", server.port(),
                                                    server.user(), AuthKind::PublicKey);
            if (c.name == "Lab shell") c.group = "Lab";
            store_connection((*document)->document(), c);
        }
        ASSERT_TRUE((*document)->save_changes());
    }

    const auto run = atspi_test::run_checker(
        "remote_a11y_events_check.py",
        {std::string(REMOTE_BINARY_DIR) + "/remote", std::to_string(server.port()), server.user()}, 150);
    EXPECT_TRUE(run.ok) << run.output;
    for (const char* step : {"rows ok", "selection ok", "field ok", "save ok", "delete ok", "connect ok",
                             "terminal text ok", "terminal caret ok", "disconnect ok"})
        EXPECT_NE(run.output.find(step), std::string::npos) << step << "\n" << run.output;

    auto document = zavo_ui::persist::open("dev.zavo.remote");
    ASSERT_TRUE(document) << document.error();
    std::vector<std::string> names;
    for (const SavedConnection& c : load_connections((*document)->document())) names.push_back(c.name);
    EXPECT_THAT(names, testing::UnorderedElementsAre("\U0001F600\u4E2DYab", "Lab shell"));
}
