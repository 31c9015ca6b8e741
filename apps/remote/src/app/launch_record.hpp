#pragma once
// What the program hands the framework at launch: its id, the review scenes it may start in,
// the two state factories, the action-registration hook and the first window size.
#include "zavo_ui/app.hpp"
#include "zavo_ui/launch.hpp"

#include <array>
#include <expected>
#include <string>
#include <string_view>

namespace remote::app {

// Also names the document's folder (its last part).
inline constexpr std::string_view kApplicationId = "dev.zavo.remote";

inline constexpr std::array<std::string_view, 13> kViewStates = {
    "narrow",
    "narrow-open",
    "form",
    "form-zavo",
    "session-ssh",
    "session-vnc",
    "session-rdp",
    "session-zavo",
    "session-connecting",
    "session-failed",
    "confirm-connect",
    "confirm-delete",
    "confirm-ssh-trust",
};

// Sample mode is on only for ZAVO_REMOTE_SAMPLE set to exactly "1".
bool sample_mode_from_environment();

// Reads the sample switch once and builds the state for the view-state name (absent: ""), the
// sample connections' ids following the document's identity.
std::expected<zavo_ui::launch::RootWidget, std::string> build_initial_state(
    const zavo_ui::launch::LaunchOptions& options);
zavo_ui::launch::RootWidget new_app_state(std::string_view view_state);
// The sample connections' ids follow from `replica` (RemoteApp::with_sample_data).
zavo_ui::launch::RootWidget new_sample_app_state(std::string_view view_state, std::string_view replica = {});
// No view state, no sample data; the environment is not read.
zavo_ui::launch::RootWidget new_default_app_state();
// Registers the decoder and handler of "remote.action".
void register_actions(zavo_ui::app::App& app);
zavo_ui::launch::WindowSize default_window_size();

// The whole launch record.
zavo_ui::launch::LaunchSpec launch_spec();

}  // namespace remote::app
