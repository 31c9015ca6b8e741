// run_or_exit: the host in a Qt application, with its window or in an offscreen screenshot run.
#include "zavo_ui/launch.hpp"

#include <QGuiApplication>
#include <QImageWriter>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QThread>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fmt/format.h>
#include <string>
#include <unistd.h>

#include "zavo_ui/action_executor.hpp"
#include "zavo_ui/host/host.hpp"
#include "zavo_ui/host/launch.hpp"
#include "zavo_ui/qt/accessibility.hpp"
#include "zavo_ui/qt/action_door.hpp"
#include "zavo_ui/qt/clipboard.hpp"
#include "zavo_ui/qt/display.hpp"
#include "zavo_ui/qt/frames.hpp"
#include "zavo_ui/qt/platform_settings.hpp"
#include "zavo_ui/qt/session_bus.hpp"
#include "zavo_ui/qt/window.hpp"
#include "zavo_ui/relay/relay.hpp"
#include "zavo_ui/theme.hpp"

namespace zavo_ui::launch {
namespace {

// A screenshot waits at most this long for animations to settle.
constexpr auto kSettleLimit = std::chrono::milliseconds(1500);
constexpr auto kFrameInterval = std::chrono::milliseconds(16);

// SIGINT and SIGTERM end the event loop like closing the window, so that the document is
// saved and every thread is stopped before the process ends.
int quit_pipe[2] = {-1, -1};

void on_quit_signal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(quit_pipe[1], &byte, 1);
}

std::unique_ptr<QSocketNotifier> quit_on_signals() {
    if (::pipe2(quit_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
    auto notifier = std::make_unique<QSocketNotifier>(quit_pipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [] { QGuiApplication::quit(); });
    struct sigaction action {};
    action.sa_handler = on_quit_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    return notifier;
}

bool write_png(const QImage& image, const std::string& path, std::string& error) {
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString().toStdString();
        return false;
    }
    QImageWriter writer(&file, "png");
    if (!writer.write(image)) {
        error = writer.errorString().toStdString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString().toStdString();
        return false;
    }
    return true;
}

// Renders frames until the widget neither animates nor asks for a redraw (or the limit
// passes), then writes the last one.
void take_screenshot(host::Host& host, qt::Painting& painting, const theme::Theme& theme, const std::string& path,
                     const std::string& program) {
    const auto start = std::chrono::steady_clock::now();
    host.frame();
    while (host.wants_frame() && std::chrono::steady_clock::now() - start < kSettleLimit) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(static_cast<unsigned long>(kFrameInterval.count()));
        host.frame();
    }
    qt::ImageFrame frame(painting, theme.colors.background);
    host.present(frame);
    std::string error;
    if (!write_png(frame.image(), path, error)) {
        host::fail(program, fmt::format("cannot write the screenshot {}: {}", path, error));
    }
}

}  // namespace

void run_or_exit(const LaunchSpec& spec) {
    host::log_to_standard_error();
    const host::CommandLine command = host::CommandLine::of_process();
    const std::string& program = command.program;

    auto parsed = host::parse_options(command.args);
    if (!parsed) host::fail(program, parsed.error() + "\n" + host::options_usage(program), 2);
    const host::FrameworkOptions options = *parsed;
    if (options.help) {
        std::fputs(host::options_usage(program).c_str(), stdout);
        return;
    }

    // Before Qt starts: nothing may start a session bus of its own.
    const auto session_bus = qt::settle_session_bus();

    const bool screenshot = options.screenshot.has_value();
    if (screenshot) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    } else if (auto problem = qt::missing_display_problem(qt::DisplayEnvironment::from_process())) {
        host::fail(program, *problem);
    }
    if (options.scale && !screenshot) setenv("QT_SCALE_FACTOR", fmt::format("{}", *options.scale).c_str(), 1);

    static int qt_argc = 1;
    static std::string qt_program = program;
    static char* qt_argv[] = {qt_program.data(), nullptr};
    std::unique_ptr<QGuiApplication> app;
    {
        qt::StartupFailureGuard guard(program);
        app = std::make_unique<QGuiApplication>(qt_argc, qt_argv);
    }
    const std::string title = host::window_title(spec);
    QGuiApplication::setApplicationName(QString::fromStdString(title));
    QGuiApplication::setDesktopFileName(QString::fromStdString(spec.app_id));
    if (!qt::TextEngine::ui_font_available()) {
        std::fprintf(stderr, "%s: the Inter font is not installed (Debian package fonts-inter); using a substitute\n",
                     program.c_str());
    }
    if (!qt::TextEngine::mono_font_available()) {
        std::fprintf(stderr, "%s: the DejaVu Sans Mono font is not installed (fonts-dejavu-core); using a substitute\n",
                     program.c_str());
    }

    // The document, the root widget and the application's action handlers.
    auto store = host::open_store(spec);
    if (!store) host::fail(program, store.error());
    if (auto warning = host::unknown_view_state(spec, options)) {
        std::fprintf(stderr, "%s: %s\n", program.c_str(), warning->c_str());
    }
    auto root = host::build_root(spec, options, store->get());
    if (!root) host::fail(program, root.error());
    zavo_actions::ActionRegistry registry = host::registered_actions(spec);

    const WindowSize size = host::first_window_size(spec, options);
    const double scale = screenshot ? options.scale.value_or(1.0) : 1.0;
    static const theme::Theme theme = theme::Theme::dark();
    qt::Painting painting;
    host::Host host(std::move(*root), theme, painting.text, Size{double(size.width), double(size.height)}, scale);
    crdt::Document in_memory;
    if (*store) {
        host.attach_store(**store, program);
    } else {
        host.attach_document(in_memory);
    }
    qt::QtClipboard clipboard;
    host.set_clipboard(&clipboard);
    const qt::DesktopSettings settings = qt::desktop_settings_from_files();
    host.set_reduced_motion(settings.reduced_motion);
    host.set_text_scale(settings.text_scale);
    device_relay::DeviceRelay relay;
    host.set_relay(&relay);
    host.sync_document();

    if (screenshot) {
        take_screenshot(host, painting, theme, *options.screenshot, program);
        host::end_sessions_and_wait(host);
        return;
    }

    qt::AppWindow window(host, painting);
    qt::AccessBridge access(window, host, [&host] { host.schedule(); });
    window.set_access_bridge(&access);
    window.setTitle(QString::fromStdString(title));
    window.resize(int(size.width), int(size.height));
    host.attach_window(window);
    qt::query_gnome_settings(&window, settings, [&host](qt::DesktopSettings gnome) {
        host.set_reduced_motion(gnome.reduced_motion);
        host.set_text_scale(gnome.text_scale);
        host.schedule();
    });

    // Actions and operations invoked from outside the process: the executor and its door.
    action_executor::ActionExecutor executor(
        host.root(), *host.document(), std::move(registry),
        [&host] {
            host.after_change();
            host.schedule();
        },
        [&host] { return host.saving(); });
    const qt::ActionDoor door(spec.app_id, executor, program, session_bus);

    const auto quit_notifier = quit_on_signals();
    window.show();
    QGuiApplication::exec();
    window.set_access_bridge(nullptr);
    host.detach_window();
    host.save();
    host::end_sessions_and_wait(host);
}

}  // namespace zavo_ui::launch
