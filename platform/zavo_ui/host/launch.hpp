#pragma once
// The steps of run_or_exit that need no window: the command line, the view-state check, the
// root widget, the first window size, the action registry, the document's store, and the
// bounded wait for session workers when the program quits.
#include <chrono>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zavo_actions/registry.hpp"
#include "zavo_ui/host/host.hpp"
#include "zavo_ui/host/options.hpp"
#include "zavo_ui/launch.hpp"

namespace zavo_ui::host {

inline constexpr launch::WindowSize kDefaultSize{1280, 800};

// The program's name and its arguments after it.
struct CommandLine {
    std::string program;
    std::vector<std::string> args;

    // From /proc/self/cmdline; the program is "zavo-app" when it cannot be read.
    static CommandLine of_process();
};

// Prints `program: message` to standard error and exits with `status`.
[[noreturn]] void fail(const std::string& program, const std::string& message, int status = 1);

// The log goes to standard error, never to standard output; SPDLOG_LEVEL sets its levels
// (debug also logs every painted frame).
void log_to_standard_error();

// The last part of the application id, capitalized: "Remote" for "dev.zavo.remote".
std::string window_title(const launch::LaunchSpec& spec);

// The warning for a --view-state that the program does not list (it is passed on all the same);
// none when it lists it, or lists none.
std::optional<std::string> unknown_view_state(const launch::LaunchSpec& spec, const FrameworkOptions& options);

// The root widget from the launch record's state factory, with the options when it takes them
// (and the replica of `store`, when there is one).
std::expected<launch::RootWidget, std::string> build_root(const launch::LaunchSpec& spec,
                                                          const FrameworkOptions& options,
                                                          const DocumentStore* store = nullptr);

// --size, else the launch record's size, else kDefaultSize (also for a size with a zero side).
launch::WindowSize first_window_size(const launch::LaunchSpec& spec, const FrameworkOptions& options);

// The application's action handlers, as the launch record's hook registers them.
zavo_actions::ActionRegistry registered_actions(const launch::LaunchSpec& spec);

// The document the launch record opens; none when it keeps the document in memory only.
std::expected<std::unique_ptr<DocumentStore>, std::string> open_store(const launch::LaunchSpec& spec);

// Ends the live sessions and gives their workers worker_threads::kLeaveGrace to finish. One still busy after it
// (a connection still being set up) must not see the libraries cleaned up under it: the process
// then leaves at once with status 0, without the exit-time clean-up.
void end_sessions_and_wait(Host& host);

}  // namespace zavo_ui::host
