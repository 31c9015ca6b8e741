#include "zavo_ui/qt/display.hpp"

#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <fmt/format.h>
#include <mutex>

namespace zavo_ui::qt {
namespace {

std::string shown(const std::optional<std::string>& value) {
    return value ? fmt::format("\"{}\"", *value) : std::string("not set");
}

struct GuardState {
    std::mutex mutex;
    std::string program;
    std::string first_warning;
    QtMessageHandler previous = nullptr;
};

GuardState& guard_state() {
    static GuardState state;
    return state;
}

void startup_message_handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    GuardState& state = guard_state();
    if (type != QtFatalMsg) {
        {
            std::lock_guard lock(state.mutex);
            // The first warning names the cause (such as "could not connect to display :1").
            if ((type == QtWarningMsg || type == QtCriticalMsg) && state.first_warning.empty()) {
                state.first_warning = message.toStdString();
            }
        }
        if (state.previous != nullptr) state.previous(type, context, message);
        return;
    }
    const DisplayEnvironment e = DisplayEnvironment::from_process();
    std::string detail;
    {
        std::lock_guard lock(state.mutex);
        detail = state.first_warning.empty() ? message.toStdString() : state.first_warning;
    }
    std::fprintf(stderr,
                 "%s: cannot open a window: the display could not be opened (DISPLAY %s, "
                 "QT_QPA_PLATFORM %s): %s\n"
                 "Set DISPLAY to a running X server, or use QT_QPA_PLATFORM=offscreen or "
                 "--screenshot FILE.png to render without a display.\n",
                 state.program.c_str(), shown(e.display).c_str(), shown(e.qt_qpa_platform).c_str(), detail.c_str());
    std::fflush(stderr);
    std::_Exit(1);
}

}  // namespace

std::optional<std::string> environment_variable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

DisplayEnvironment DisplayEnvironment::from_process() {
    return {environment_variable("QT_QPA_PLATFORM"), environment_variable("DISPLAY"),
            environment_variable("WAYLAND_DISPLAY")};
}

std::optional<std::string> missing_display_problem(const DisplayEnvironment& env) {
    const auto set = [](const std::optional<std::string>& v) { return v && !v->empty(); };
    if (set(env.qt_qpa_platform) || set(env.display) || set(env.wayland_display)) return std::nullopt;
    return fmt::format(
        "cannot open a window: no display (DISPLAY is {}, QT_QPA_PLATFORM is {}). Start it in a "
        "graphical session or set DISPLAY to a running X server; to render without a display use "
        "QT_QPA_PLATFORM=offscreen or --screenshot FILE.png.",
        shown(env.display), shown(env.qt_qpa_platform));
}

StartupFailureGuard::StartupFailureGuard(std::string program) {
    GuardState& state = guard_state();
    std::lock_guard lock(state.mutex);
    state.program = std::move(program);
    state.first_warning.clear();
    state.previous = qInstallMessageHandler(startup_message_handler);
}

StartupFailureGuard::~StartupFailureGuard() {
    GuardState& state = guard_state();
    std::lock_guard lock(state.mutex);
    qInstallMessageHandler(state.previous);
    state.previous = nullptr;
}

}  // namespace zavo_ui::qt
