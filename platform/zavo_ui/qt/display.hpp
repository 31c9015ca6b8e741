#pragma once
// Finding out, before Qt aborts, that no window can be opened.
#include <optional>
#include <string>

namespace zavo_ui::qt {

// The environment variable's value; none when it is unset.
std::optional<std::string> environment_variable(const char* name);

struct DisplayEnvironment {
    std::optional<std::string> qt_qpa_platform;
    std::optional<std::string> display;
    std::optional<std::string> wayland_display;

    static DisplayEnvironment from_process();
};

// A message naming DISPLAY and QT_QPA_PLATFORM when Qt would find no display to open a
// window on; none when a platform is chosen or a display is named.
std::optional<std::string> missing_display_problem(const DisplayEnvironment& env);

// While installed, a fatal Qt message (a platform plugin that cannot start) ends the process
// with `program: cannot open a window ...`, the details and status 1 instead of an abort.
class StartupFailureGuard {
public:
    explicit StartupFailureGuard(std::string program);
    ~StartupFailureGuard();
    StartupFailureGuard(const StartupFailureGuard&) = delete;
    StartupFailureGuard& operator=(const StartupFailureGuard&) = delete;
};

}  // namespace zavo_ui::qt
