#pragma once
// Starting an application: the launch record a program fills in, and the call that runs it.
//
// run_or_exit reads the framework's own options from the command line (--view-state NAME,
// --size WxH, --scale F, --screenshot FILE.png), opens the document, builds the root widget
// through a state factory, calls the registration hook, and runs the window until it is
// closed. The order of those calls is the framework's; a program relies on none.
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zavo_ui::widget {
class Widget;
}
namespace zavo_ui::app {
class App;
}
namespace zavo_ui::persist {
class PersistedDocument;
}

namespace zavo_ui::launch {

// What the framework hands the state factory that takes options.
struct LaunchOptions {
    std::optional<std::string> view_state;  // --view-state NAME
    // This device's replica of the saved document, the same at each of its starts and unlike
    // any other device's; none when the document is not kept.
    std::optional<std::string> document_identity = std::nullopt;
};

struct WindowSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    friend bool operator==(const WindowSize&, const WindowSize&) = default;
};

using RootWidget = std::unique_ptr<widget::Widget>;
using DocumentOpener =
    std::function<std::expected<std::unique_ptr<persist::PersistedDocument>, std::string>(std::string_view app_id)>;

struct LaunchSpec {
    // Reverse-domain application id; also names the document's folder.
    std::string app_id;
    // The view states --view-state may name; another name is passed on with a warning.
    std::vector<std::string> view_states;
    // The state factory without arguments, used when there is no factory with options.
    std::function<RootWidget()> new_default_state;
    // The state factory with the launch options.
    std::function<std::expected<RootWidget, std::string>(const LaunchOptions&)> build_initial_state;
    // Registers the application's action handlers.
    std::function<void(app::App&)> register_actions;
    // The first window size in logical pixels; 1280 x 800 when empty. --size overrides it.
    std::function<WindowSize()> window_size;
    // Opens the saved document; empty: an in-memory document that is not kept.
    DocumentOpener open_document;
};

// Runs the application and returns once its window was closed (or the screenshot written).
// On failure it prints the reason to standard error and exits the process with status 1.
void run_or_exit(const LaunchSpec& spec);

}  // namespace zavo_ui::launch
