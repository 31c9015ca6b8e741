#pragma once
// One offscreen QGuiApplication for the Qt tests of this program, created on first use and
// destroyed after the last test (before static destruction, which is too late for Qt).
#include <QGuiApplication>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace zavo_ui::qt::testing {

inline std::unique_ptr<QGuiApplication>& app_slot() {
    static std::unique_ptr<QGuiApplication> app;
    return app;
}

inline const std::string& runtime_dir() {
    static const std::string dir =
        (std::filesystem::temp_directory_path() / ("zavo-ui-qt-test-" + std::to_string(getpid()))).string();
    return dir;
}

class AppEnvironment : public ::testing::Environment {
public:
    void TearDown() override {
        app_slot().reset();
        std::error_code ignored;
        std::filesystem::remove_all(runtime_dir(), ignored);
    }
};

inline QGuiApplication& offscreen_app() {
    auto& app = app_slot();
    if (!app) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        std::filesystem::create_directories(runtime_dir());
        std::filesystem::permissions(runtime_dir(), std::filesystem::perms::owner_all);
        setenv("XDG_RUNTIME_DIR", runtime_dir().c_str(), 1);
        static int argc = 1;
        static char name[] = "test_zavo_ui";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QGuiApplication>(argc, argv);
        ::testing::AddGlobalTestEnvironment(new AppEnvironment);
    }
    return *app;
}

}  // namespace zavo_ui::qt::testing
