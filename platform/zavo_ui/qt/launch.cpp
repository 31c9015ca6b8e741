// run_or_exit: the Qt application, its window and the offscreen screenshot run.
#include "zavo_ui/launch.hpp"

#include <QGuiApplication>
#include <QImageWriter>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fmt/format.h>
#include <fstream>
#include <iterator>
#include <spdlog/cfg/env.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>
#include <string>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "crdt/document.hpp"
#include "worker_threads/worker_threads.hpp"
#include "zavo_actions/registry.hpp"
#include "zavo_ui/action_executor.hpp"
#include "zavo_ui/app.hpp"
#include "zavo_ui/relay/relay.hpp"
#include "zavo_ui/persist.hpp"
#include "zavo_ui/qt/accessibility.hpp"
#include "zavo_ui/qt/action_door.hpp"
#include "zavo_ui/qt/clipboard.hpp"
#include "zavo_ui/qt/display.hpp"
#include "zavo_ui/qt/options.hpp"
#include "zavo_ui/qt/platform_settings.hpp"
#include "zavo_ui/qt/shell.hpp"
#include "zavo_ui/qt/text_engine.hpp"
#include "zavo_ui/qt/window.hpp"
#include "zavo_ui/theme.hpp"
#include "zavo_ui/widget.hpp"

namespace zavo_ui::launch {
namespace {

constexpr WindowSize kDefaultSize{1280, 800};
// A screenshot waits at most this long for animations to settle.
constexpr auto kSettleLimit = std::chrono::milliseconds(1500);
constexpr auto kFrameInterval = std::chrono::milliseconds(16);
// How long quitting waits for the session workers to say goodbye.
constexpr auto kQuitGrace = std::chrono::milliseconds(1500);

std::vector<std::string> command_line() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < all.size()) {
    const std::size_t end = all.find('\0', start);
    out.push_back(all.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out;
}

std::string base_name(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

[[noreturn]] void fail(const std::string& program, const std::string& message, int status = 1) {
  std::fprintf(stderr, "%s: %s\n", program.c_str(), message.c_str());
  std::fflush(stderr);
  std::exit(status);
}

// The document the widget works on: the opened one, or one in memory.
class DocumentHandle {
 public:
  explicit DocumentHandle(std::unique_ptr<persist::PersistedDocument> persisted)
      : persisted_(std::move(persisted)) {}
  crdt::Document& document() { return persisted_ ? persisted_->document() : memory_; }
  persist::PersistedDocument* persisted() { return persisted_.get(); }

 private:
  std::unique_ptr<persist::PersistedDocument> persisted_;
  crdt::Document memory_;
};

std::string window_title(const LaunchSpec& spec) {
  const auto dot = spec.app_id.rfind('.');
  std::string title = dot == std::string::npos ? spec.app_id : spec.app_id.substr(dot + 1);
  if (title.empty()) title = "Application";
  title[0] = char(std::toupper(static_cast<unsigned char>(title[0])));
  return title;
}

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

// Quitting ends the live sessions and gives their detached workers a moment to finish. One
// still busy after it (a connection still being set up) must not see the libraries cleaned up
// under it: the process then leaves at once, without the exit-time clean-up.
void end_sessions_and_wait(qt::Shell& shell) {
  shell.end_sessions();
  if (worker_threads::wait_for_all(kQuitGrace)) return;
  spdlog::apply_all([](const std::shared_ptr<spdlog::logger>& logger) { logger->flush(); });
  std::fflush(nullptr);
  std::_Exit(0);
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
void take_screenshot(qt::Shell& shell, const std::string& path, const std::string& program) {
  const auto start = std::chrono::steady_clock::now();
  QImage image = shell.render();
  while (shell.wants_frame() && std::chrono::steady_clock::now() - start < kSettleLimit) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(static_cast<unsigned long>(kFrameInterval.count()));
    image = shell.render();
  }
  std::string error;
  if (!write_png(image, path, error)) fail(program, fmt::format("cannot write the screenshot {}: {}", path, error));
}

}  // namespace

void run_or_exit(const LaunchSpec& spec) {
  // The log goes to standard error, never to standard output.
  spdlog::set_default_logger(
      std::make_shared<spdlog::logger>("", std::make_shared<spdlog::sinks::stderr_color_sink_mt>()));
  spdlog::cfg::load_env_levels();  // SPDLOG_LEVEL=debug also logs every painted frame
  std::vector<std::string> args = command_line();
  const std::string program = args.empty() ? std::string("zavo-app") : base_name(args.front());
  if (!args.empty()) args.erase(args.begin());

  auto parsed = qt::parse_options(args);
  if (!parsed) fail(program, parsed.error() + "\n" + qt::options_usage(program), 2);
  const qt::FrameworkOptions options = *parsed;
  if (options.help) {
    std::fputs(qt::options_usage(program).c_str(), stdout);
    return;
  }

  const bool screenshot = options.screenshot.has_value();
  if (screenshot) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  } else if (auto problem = qt::missing_display_problem(qt::DisplayEnvironment::from_process())) {
    fail(program, *problem);
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
  QGuiApplication::setApplicationName(QString::fromStdString(window_title(spec)));
  QGuiApplication::setDesktopFileName(QString::fromStdString(spec.app_id));
  if (!qt::TextEngine::ui_font_available()) {
    std::fprintf(stderr, "%s: the Inter font is not installed (Debian package fonts-inter); using a substitute\n",
                 program.c_str());
  }
  if (!qt::TextEngine::mono_font_available()) {
    std::fprintf(stderr, "%s: the DejaVu Sans Mono font is not installed (fonts-dejavu-core); using a substitute\n",
                 program.c_str());
  }

  // The document.
  std::unique_ptr<persist::PersistedDocument> persisted;
  if (spec.open_document) {
    auto opened = spec.open_document(spec.app_id);
    if (!opened) fail(program, fmt::format("cannot open the saved document: {}", opened.error()));
    persisted = std::move(*opened);
  }
  DocumentHandle document(std::move(persisted));

  // The root widget.
  if (options.view_state && !spec.view_states.empty() &&
      std::find(spec.view_states.begin(), spec.view_states.end(), *options.view_state) == spec.view_states.end()) {
    std::string known;
    for (const auto& name : spec.view_states) known += (known.empty() ? "" : ", ") + name;
    std::fprintf(stderr, "%s: unknown view state \"%s\" (known: %s)\n", program.c_str(),
                 options.view_state->c_str(), known.c_str());
  }
  RootWidget root;
  if (spec.build_initial_state) {
    auto built = spec.build_initial_state(LaunchOptions{options.view_state});
    if (!built) fail(program, fmt::format("cannot build the application state: {}", built.error()));
    root = std::move(*built);
  } else if (spec.new_default_state) {
    root = spec.new_default_state();
  }
  if (!root) fail(program, "the launch record builds no application state");

  // The application's action handlers.
  zavo_actions::ActionRegistry registry;
  if (spec.register_actions) {
    app::App application(registry);
    spec.register_actions(application);
  }

  // Sizes and settings.
  WindowSize size = options.size ? *options.size : spec.window_size ? spec.window_size() : kDefaultSize;
  if (size.width == 0 || size.height == 0) size = kDefaultSize;
  const double scale = screenshot ? options.scale.value_or(1.0) : 1.0;
  static const theme::Theme theme = theme::Theme::dark();
  qt::Shell shell(std::move(root), theme, Size{double(size.width), double(size.height)}, scale);
  qt::QtClipboard clipboard;
  shell.set_clipboard(&clipboard);
  const qt::DesktopSettings settings = qt::desktop_settings_from_files();
  shell.set_reduced_motion(settings.reduced_motion);
  shell.set_text_scale(settings.text_scale);

  // Every change the widget makes to the document is saved at once; a failed save is tried
  // again with the next change and every few seconds until it succeeds.
  persist::PersistedDocument* store = document.persisted();
  QTimer save_retry;
  save_retry.setInterval(5000);
  save_retry.setSingleShot(true);
  auto save = [store, &save_retry, program] {
    if (store == nullptr) return;
    if (auto saved = store->save_changes(); !saved) {
      spdlog::warn("could not save the document: {}", saved.error());
      std::fprintf(stderr, "%s: could not save the document (will try again): %s\n", program.c_str(),
                   saved.error().c_str());
      save_retry.start();
    }
  };
  QObject::connect(&save_retry, &QTimer::timeout, save);
  shell.attach_document(document.document(), save);

  device_relay::DeviceRelay relay;
  shell.set_relay(&relay);
  shell.sync_document();

  if (screenshot) {
    take_screenshot(shell, *options.screenshot, program);
    end_sessions_and_wait(shell);
    return;
  }

  qt::AppWindow window(shell);
  qt::AccessBridge access(window, shell, [&window] { window.schedule(); });
  window.set_access_bridge(&access);
  window.setTitle(QString::fromStdString(window_title(spec)));
  window.resize(int(size.width), int(size.height));

  // Other replicas' changes and relay events arrive on other threads; both are handled here.
  if (store != nullptr) {
    store->set_change_listener([&window, &shell, store] {
      QMetaObject::invokeMethod(&window, [&window, &shell, store] {
        if (store->merge_from_folder()) {
          shell.sync_document();
          window.schedule();
        }
      }, Qt::QueuedConnection);
    });
  }
  relay.set_wake([&window, &shell] {
    QMetaObject::invokeMethod(&window, [&window, &shell] {
      shell.exchange_relay();
      window.schedule();
    }, Qt::QueuedConnection);
  });
  qt::query_gnome_settings(&window, settings, [&window, &shell](qt::DesktopSettings gnome) {
    shell.set_reduced_motion(gnome.reduced_motion);
    shell.set_text_scale(gnome.text_scale);
    window.update();
  });

  // Actions and operations invoked from outside the process: the executor and its door.
  action_executor::ActionExecutor executor(shell.root(), document.document(), std::move(registry), [&shell, &window] {
    shell.after_change();
    window.schedule();
  });
  const qt::ActionDoor door(spec.app_id, executor, program);

  const auto quit_notifier = quit_on_signals();
  window.show();
  QGuiApplication::exec();
  window.set_access_bridge(nullptr);
  relay.set_wake({});
  if (store != nullptr) store->set_change_listener({});
  save();
  end_sessions_and_wait(shell);
}

}  // namespace zavo_ui::launch
