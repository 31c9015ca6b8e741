#pragma once
// One offscreen QGuiApplication for the Qt tests of this program.
#include <QGuiApplication>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace zavo_ui::qt::testing {

inline QGuiApplication& offscreen_app() {
  static QGuiApplication* app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static std::string runtime = (std::filesystem::temp_directory_path() /
                                  ("zavo-ui-qt-test-" + std::to_string(getpid()))).string();
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    static int argc = 1;
    static char name[] = "test_zavo_ui";
    static char* argv[] = {name, nullptr};
    return new QGuiApplication(argc, argv);
  }();
  return *app;
}

}  // namespace zavo_ui::qt::testing
