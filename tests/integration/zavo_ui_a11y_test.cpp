// The accessibility bridge end to end: the widget gallery under Xvfb with a private D-Bus
// session and AT-SPI bus, read and driven by pyatspi (zavo_ui_a11y_check.py), then typed into
// through the X server with xdotool.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/files.hpp"
#include "support/process.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using test_support::on_path;

bool have_pyatspi() { return std::system("/usr/bin/python3 -c 'import pyatspi' >/dev/null 2>&1") == 0; }

TEST(ZavoUiAccessibility, TheTreeReachesAtSpiAndActionsComeBack) {
  for (const char* tool : {"Xvfb", "dbus-run-session", "timeout"}) {
    if (!on_path(tool)) GTEST_SKIP() << tool << " is not installed (scripts/install-deps installs it)";
  }
  if (!fs::exists("/usr/libexec/at-spi-bus-launcher")) GTEST_SKIP() << "at-spi2-core is not installed";
  if (!have_pyatspi()) GTEST_SKIP() << "python3-pyatspi is not installed";

  const std::string gallery = std::string(REMOTE_BINARY_DIR) + "/zavo_ui_gallery";
  const std::string checker = std::string(REMOTE_SOURCE_DIR) + "/tests/integration/zavo_ui_a11y_check.py";
  const fs::path out = fs::temp_directory_path() / ("zavo-ui-a11y-" + std::to_string(getpid()) + ".log");
  std::vector<std::string> args = {"timeout", "-k", "5", "90", "dbus-run-session", "--", "/usr/bin/python3",
                                   checker, gallery};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawnp(&pid, "timeout", &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  waitpid(pid, &status, 0);
  const std::string text = test_support::read_text(out);
  fs::remove(out);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text;
  EXPECT_NE(text.find("tree ok"), std::string::npos) << text;
  EXPECT_NE(text.find("press ok"), std::string::npos) << text;
  EXPECT_NE(text.find("edit ok"), std::string::npos) << text;
  if (on_path("xdotool")) {
    EXPECT_NE(text.find("keyboard ok"), std::string::npos) << text;
  }
}

}  // namespace
