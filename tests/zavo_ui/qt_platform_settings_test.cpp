#include "zavo_ui/qt/platform_settings.hpp"

#include <gtest/gtest.h>

namespace zavo_ui::qt {
namespace {

TEST(QtPlatformSettings, GtkAnimationsSwitch) {
    struct Case {
        const char* ini;
        std::optional<bool> reduced;
    } cases[] = {
        {"[Settings]\ngtk-enable-animations=false\n", true},
        {"[Settings]\r\ngtk-enable-animations = 0\r\n", true},
        {"[Settings]\ngtk-enable-animations=true\n", false},
        {"[Settings]\ngtk-theme-name=Adwaita\n", std::nullopt},
        {"[Other]\ngtk-enable-animations=false\n", std::nullopt},
        {"[Settings]\n# gtk-enable-animations=false\n", std::nullopt},
        {"[Settings]\ngtk-enable-animations=maybe\n", std::nullopt},
        {"[Settings]\ngtk-enable-animations=false\ngtk-enable-animations=true\n", false},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ini);
        EXPECT_EQ(reduced_motion_from_gtk_ini(c.ini), c.reduced);
    }
}

}  // namespace
}  // namespace zavo_ui::qt
