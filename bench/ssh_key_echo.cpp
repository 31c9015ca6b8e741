// A key press in a connected SSH session until its echo is in the terminal grid, against a
// local sshd whose shell runs `cat` on a raw terminal (the remote program echoes each byte):
//
//   BM_KeyEcho   the key as the window delivers it (RemoteApp::handle_event), then whole frames
//                (paint and replay, which poll the session) until the echo is in the grid; each
//                press is followed by the reference, the same connection's raw write-to-echo time
//                (SshSession::send_text, then output pumped until the echo is in the grid)
//                (counters reference_us, ratio)
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>

#include "bench/session_window.hpp"
#include "doc/profile_document.hpp"
#include "support/env.hpp"
#include "support/saved_connection.hpp"
#include "tests/integration/ssh_server.hpp"
#include "views/terminal_view.hpp"

namespace {

using namespace remote;
using Clock = std::chrono::steady_clock;

struct Setup {
    std::unique_ptr<ssh_test::SshServer> server;
    test_support::EnvGuard env;
    ProfileDocument doc;
    std::unique_ptr<bench_support::SessionWindow> window;
    std::string error;

    SshSession& ssh() { return *window->app->session.connected_ssh(); }
    const Terminal& terminal() { return ssh().terminal; }
    // Whether `c` was echoed into column `col` of the cursor's row, the cursor just after it.
    bool echoed(char c, std::size_t col) {
        const Terminal& t = terminal();
        return t.cursor_col() == col + 1 && t.row(t.cursor_row())[col].character == char32_t(c);
    }
    // Runs `step` until `done` holds; false after 10 s.
    template <class Step, class Done>
    static bool until(Step step, Done done) {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!done())
            if (step(); Clock::now() > deadline) return false;
        return true;
    }
    template <class Done>
    bool frames_until(Done done) {
        return until([&] { window->frame(); }, done);
    }
    template <class Done>
    bool pumped_until(Done done) {
        return until([&] { ssh().pump_output(); }, done);
    }
};

Setup& setup() {
    static Setup s;
    static const bool ready = [] {
        if (auto why = ssh_test::SshServer::unavailable(); !why.empty()) {
            s.error = why;
            return false;
        }
        s.server = std::make_unique<ssh_test::SshServer>();
        s.server->trust();
        s.env.set("REMOTE_LIVE_SESSIONS", "");
        s.env.set("REMOTE_SSH_KNOWN_HOSTS", s.server->store().c_str());
        s.env.set("REMOTE_SSH_KEY", s.server->client_key().c_str());
        s.env.set("REMOTE_SSH_KEY_PASSPHRASE", nullptr);
        auto app = RemoteApp::with_data({test_support::saved("Lab", ConnectionKind::Ssh, "127.0.0.1", s.server->port(),
                                                             s.server->user(), AuthKind::PublicKey)},
                                        {});
        app->sync_document(s.doc);
        s.window = std::make_unique<bench_support::SessionWindow>(std::move(app), ConnectionKind::Ssh);
        RemoteApp& a = *s.window->app;
        a.start_session(a.connections[0].id);
        if (!s.frames_until([&] { return a.session.connected_ssh() || !a.session.status()->is_connecting(); }) ||
            !a.session.connected_ssh()) {
            s.error = "the session did not connect: " + a.session.status()->text;
            return false;
        }
        // "RE''ADY" as typed, READY once the terminal is raw and cat reads it.
        (void)s.ssh().send_text("stty raw -echo; printf 'RE''ADY\\r'; exec cat\n");
        if (!s.frames_until([&] {
                const Terminal& t = s.terminal();
                std::string row;
                for (const auto& cell : t.row(t.cursor_row())) row += char(cell.character);
                return t.cursor_col() == 0 && row.find("READY") != std::string::npos;
            })) {
            s.error = "the remote cat did not start; the screen:\n" + views::terminal_text(s.terminal()).text;
            return false;
        }
        return true;
    }();
    (void)ready;
    return s;
}

void BM_KeyEcho(benchmark::State& state) {
    Setup& s = setup();
    if (!s.error.empty()) {
        state.SkipWithError(s.error.c_str());
        return;
    }
    RemoteApp& app = *s.window->app;
    zavo_ui::EventContext ctx;
    ctx.document = &s.doc;
    double keys = 0, references = 0;
    char letter = 'a';
    auto next = [&] { return letter = letter == 'z' ? 'a' : char(letter + 1); };
    for (auto _ : state) {
        // The key at column 0, the reference's byte at column 1.
        const char key = next();
        const auto start = Clock::now();
        bool handled = false;
        app.handle_event(zavo_ui::event::character_key(std::string(1, key)), {}, ctx, handled, 1.0);
        if (!handled || !s.frames_until([&] { return s.echoed(key, 0); })) {
            state.SkipWithError("the key was not echoed");
            return;
        }
        const auto echoed = Clock::now();
        const char byte = next();
        (void)s.ssh().send_text(std::string(1, byte));
        if (!s.pumped_until([&] { return s.echoed(byte, 1); })) {
            state.SkipWithError("the written byte was not echoed");
            return;
        }
        const auto referenced = Clock::now();
        // Back to column 0 for the next press (not timed).
        (void)s.ssh().send_text("\r");
        if (!s.pumped_until([&] { return s.terminal().cursor_col() == 0; })) {
            state.SkipWithError("the carriage return was not echoed");
            return;
        }

        const double key_time = std::chrono::duration<double>(echoed - start).count();
        keys += key_time;
        references += std::chrono::duration<double>(referenced - echoed).count();
        state.SetIterationTime(key_time);
    }
    state.counters["reference_us"] = 1e6 * references / double(state.iterations());
    state.counters["ratio"] = keys / references;
}
BENCHMARK(BM_KeyEcho)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    setup().window.reset();
    setup().server.reset();
    benchmark::Shutdown();
}
