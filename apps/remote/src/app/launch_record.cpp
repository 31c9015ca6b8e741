#include "app/launch_record.hpp"

#include "app/remote_app.hpp"
#include "codecs/codecs.hpp"
#include "zavo_ui/persist.hpp"

#include <cstdlib>
#include <cstring>

namespace remote::app {

bool sample_mode_from_environment() {
    const char* value = std::getenv("ZAVO_REMOTE_SAMPLE");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

std::expected<zavo_ui::launch::RootWidget, std::string> build_initial_state(
    const zavo_ui::launch::LaunchOptions& options) {
    const std::string view_state = options.view_state.value_or("");
    return sample_mode_from_environment() ? new_sample_app_state(view_state, options.document_identity.value_or(""))
                                          : new_app_state(view_state);
}

zavo_ui::launch::RootWidget new_app_state(std::string_view view_state) {
    auto app = RemoteApp::new_();
    app->apply_view_state(view_state);
    return app;
}

zavo_ui::launch::RootWidget new_sample_app_state(std::string_view view_state, std::string_view replica) {
    auto app = RemoteApp::with_sample_data(replica);
    app->apply_view_state(view_state);
    app->apply_demo_scene(view_state);
    return app;
}

zavo_ui::launch::RootWidget new_default_app_state() { return RemoteApp::new_(); }

void register_actions(zavo_ui::app::App& app) { register_remote_actions(app.action_registry_mut()); }

zavo_ui::launch::WindowSize default_window_size() { return {1280, 800}; }

zavo_ui::launch::LaunchSpec launch_spec() {
    zavo_ui::launch::LaunchSpec spec;
    spec.app_id = std::string(kApplicationId);
    spec.view_states.assign(kViewStates.begin(), kViewStates.end());
    spec.new_default_state = new_default_app_state;
    spec.build_initial_state = build_initial_state;
    spec.register_actions = register_actions;
    spec.window_size = default_window_size;
    spec.open_document = [](std::string_view app_id) { return zavo_ui::persist::open(app_id); };
    return spec;
}

}  // namespace remote::app
