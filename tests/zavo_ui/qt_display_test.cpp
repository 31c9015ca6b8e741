#include "zavo_ui/qt/display.hpp"

#include <gtest/gtest.h>

namespace zavo_ui::qt {
namespace {

TEST(QtDisplay, NoDisplayNamesBothVariables) {
    for (const DisplayEnvironment& env : {DisplayEnvironment{}, DisplayEnvironment{"", "", ""}}) {
        auto problem = missing_display_problem(env);
        ASSERT_TRUE(problem);
        EXPECT_NE(problem->find("DISPLAY"), std::string::npos);
        EXPECT_NE(problem->find("QT_QPA_PLATFORM"), std::string::npos);
    }
}

TEST(QtDisplay, AChosenPlatformOrANamedDisplayIsNoProblem) {
    EXPECT_FALSE(missing_display_problem({"offscreen", std::nullopt, std::nullopt}));
    EXPECT_FALSE(missing_display_problem({std::nullopt, ":0", std::nullopt}));
    EXPECT_FALSE(missing_display_problem({std::nullopt, std::nullopt, "wayland-0"}));
}

}  // namespace
}  // namespace zavo_ui::qt
