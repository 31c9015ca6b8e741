// The terminal end to end as a screen-reader user reads it: the real program under Xvfb with a
// private AT-SPI bus, connected to a private sshd; keys typed through X, the screen read back
// as the terminal's accessible text (terminal_screen_check.py).
#include <gtest/gtest.h>

#include <filesystem>

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

TEST(TerminalAccessibility, TheTextShowsTheLineTheShellHoldsAndTheScreenBeforeVi) {
    if (const std::string why = atspi_test::unavailable(); !why.empty()) GTEST_SKIP() << why;
    if (const std::string why = ssh_test::SshServer::unavailable(); !why.empty()) GTEST_SKIP() << why;
    for (const char* tool : {"xdotool", "vi", "bash"})
        if (!test_support::on_path(tool)) GTEST_SKIP() << tool << " is not installed (scripts/install-deps installs it)";
    ssh_test::SshServer server;
    server.trust();
    test_support::TempDir home("remote-terminal-a11y.");
    test_support::EnvGuard env;
    server.program_env(env, home.path());
    {
        auto document = zavo_ui::persist::open("dev.zavo.remote");
        ASSERT_TRUE(document) << document.error();
        store_connection((*document)->document(), test_support::saved("Lab shell", ConnectionKind::Ssh, "127.0.0.1",
                                                                      server.port(), server.user(),
                                                                      AuthKind::PublicKey));
        ASSERT_TRUE((*document)->save_changes());
    }

    const auto run =
        atspi_test::run_checker("terminal_screen_check.py", {std::string(REMOTE_BINARY_DIR) + "/remote"}, 150);
    EXPECT_TRUE(run.ok) << run.output << test_support::read_text(server.log());
    for (const char* step : {"connected ok", "history ok", "vi ok"})
        EXPECT_NE(run.output.find(step), std::string::npos) << step << "\n" << run.output;
}

}  // namespace
