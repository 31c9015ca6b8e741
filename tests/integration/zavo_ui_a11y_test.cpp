// The accessibility bridge end to end: the widget gallery under Xvfb with a private D-Bus
// session and AT-SPI bus, read and driven by pyatspi (zavo_ui_a11y_check.py), then typed into
// through the X server with xdotool.
#include <gtest/gtest.h>

#include "support/process.hpp"
#include "tests/integration/atspi_run.hpp"

namespace {

TEST(ZavoUiAccessibility, TheTreeReachesAtSpiAndActionsComeBack) {
    if (const std::string why = atspi_test::unavailable(); !why.empty()) GTEST_SKIP() << why;
    const auto run = atspi_test::run_checker("zavo_ui_a11y_check.py",
                                             {std::string(REMOTE_BINARY_DIR) + "/zavo_ui_gallery"}, 90);
    EXPECT_TRUE(run.ok) << run.output;
    EXPECT_NE(run.output.find("tree ok"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("press ok"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("edit ok"), std::string::npos) << run.output;
    if (test_support::on_path("xdotool")) {
        EXPECT_NE(run.output.find("keyboard ok"), std::string::npos) << run.output;
    }
}

}  // namespace
