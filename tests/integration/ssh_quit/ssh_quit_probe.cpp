// A small program on the framework that holds one SSH session, for the tests that quit a
// process through the framework's own exit path while the session lives. It connects at start
// and drains the session's output on every frame, as the session screen does. Set by the
// environment:
//   PROBE_PORT, PROBE_USER the SSH server's port on 127.0.0.1 and the user to log in as
//   PROBE_TYPE             text typed into the shell once the session is connected
//   PROBE_PAINTED          a file made at the first frame (the program now quits on SIGTERM)
//   PROBE_READY            a file made once the session is connected and the text typed
//   REMOTE_SSH_KEY, REMOTE_SSH_KNOWN_HOSTS   as for the program
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "known_hosts/known_hosts.hpp"
#include "ssh/ssh_session.hpp"
#include "support/full_size_leaf.hpp"
#include "zavo_ui/launch.hpp"
#include "zavo_ui/widget.hpp"

namespace {

using namespace zavo_ui;

std::string env_or_empty(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

class SessionHolder : public Widget {
public:
    SessionHolder() {
        auto store = remote::known_hosts_path();
        auto credentials = remote::load_ssh_credentials(true, {});
        if (!store || !credentials) return;
        const auto port = static_cast<std::uint16_t>(std::stoi(env_or_empty("PROBE_PORT")));
        if (auto started = remote::start_ssh_session(
                {"127.0.0.1", env_or_empty("PROBE_USER"), *store, *credentials, port, 80, 24}))
            session_ = std::make_unique<remote::SshSession>(std::move(*started));
    }

    layout::NodeId build_layout(layout::LayoutTree& tree, layout::NodeWidgetMap& widgets) override {
        return test_support::full_size_leaf(tree, widgets, this);
    }
    void paint(Scene&, const Affine&, text_render::TextRenderer&, const theme::Theme&, DrawContext&) override {
        if (!painted_) std::ofstream(env_or_empty("PROBE_PAINTED")) << "painted\n";
        painted_ = true;
        if (!session_) return;
        session_->pump_output();
        if (!ready_ && session_->status().is_connected()) {
            if (const auto text = env_or_empty("PROBE_TYPE"); !text.empty()) (void)session_->send_text(text);
            std::ofstream(env_or_empty("PROBE_READY")) << "connected\n";
            ready_ = true;
        }
    }
    bool wants_animation_frame() override { return session_ != nullptr; }
    void end_sessions() override { session_.reset(); }

private:
    std::unique_ptr<remote::SshSession> session_;
    bool painted_ = false;
    bool ready_ = false;
};

}  // namespace

int main() {
    launch::LaunchSpec spec;
    spec.app_id = "dev.zavo.sshquitprobe";
    spec.new_default_state = [] { return std::make_unique<SessionHolder>(); };
    spec.window_size = [] { return launch::WindowSize{320, 200}; };
    launch::run_or_exit(spec);
}
