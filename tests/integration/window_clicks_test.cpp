// Clicks in the real window under Xvfb, sent through X with xdotool and read back through the
// accessibility tree (list_clicks_check.py).
#include <gtest/gtest.h>

#include "support/env.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"
#include "tests/integration/atspi_run.hpp"

namespace {

TEST(WindowClicks, AClickOnTheSearchInputFocusesItWhereAScrolledRowLiesBehind) {
    if (const std::string why = atspi_test::unavailable(); !why.empty()) GTEST_SKIP() << why;
    if (!test_support::on_path("xdotool"))
        GTEST_SKIP() << "xdotool is not installed (scripts/install-deps installs it)";
    test_support::TempDir home("remote-clicks.");
    test_support::EnvGuard env;
    env.set("REMOTE_LIVE_SESSIONS", nullptr);
    env.set("XDG_DATA_HOME", (home.path() / "data").c_str());
    env.set("XDG_STATE_HOME", (home.path() / "state").c_str());

    const auto run = atspi_test::run_checker("list_clicks_check.py", {std::string(REMOTE_BINARY_DIR) + "/remote"}, 90);
    EXPECT_TRUE(run.ok) << run.output;
    for (const char* step : {"click ok", "type ok"})
        EXPECT_NE(run.output.find(step), std::string::npos) << step << "\n" << run.output;
}

}  // namespace
