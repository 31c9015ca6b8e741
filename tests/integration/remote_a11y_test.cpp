// Remote end to end as a screen-reader user: the real program under Xvfb with a private AT-SPI
// bus, driven only through pyatspi (remote_a11y_check.py) against a private sshd.
#include <gtest/gtest.h>

#include "support/env.hpp"
#include "support/temp_dir.hpp"
#include "tests/integration/atspi_run.hpp"
#include "tests/integration/ssh_server.hpp"

namespace {

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
