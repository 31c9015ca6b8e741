// Keys in the real window, sent through X with xdotool as a person presses them: the bytes an SSH
// session's shell receives (recorded raw by `cat` in the remote shell), that moving around the
// window keeps the session, and the key and button events a VNC server's desktop sees (xev on its display).
#include <gtest/gtest.h>

#include <fmt/format.h>
#include <sys/stat.h>

#include <map>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "support/saved_connection.hpp"
#include "tests/integration/remote_window.hpp"
#include "tests/integration/ssh_server.hpp"

namespace {

using namespace remote;
using namespace std::chrono_literals;
using test_support::saved;
using window_test::RemoteWindow;
using window_test::eventually;

// Keys as xdotool names them, and the bytes the shell receives for them.
struct KeyBytes {
    const char* keys;
    std::string bytes;
};

std::string hex(const std::string& bytes) {
    std::string out;
    for (unsigned char b : bytes) out += fmt::format("{:02x} ", b);
    return out;
}

// A connected SSH session in the window to the private server, and a folder its shell writes.
class WindowSshKeys : public ::testing::Test {
protected:
    void SetUp() override {
        if (auto why = window_test::unavailable(); !why.empty()) GTEST_SKIP() << why;
        if (auto why = ssh_test::SshServer::unavailable(); !why.empty()) GTEST_SKIP() << why;
        server = std::make_unique<ssh_test::SshServer>();
        server->trust();
        ::chmod(out.path().c_str(), 0777);  // the session's account writes there
        window = std::make_unique<RemoteWindow>(
            std::vector{saved("Lab shell", ConnectionKind::Ssh, "127.0.0.1", server->port(), server->user(),
                              AuthKind::PublicKey)},
            std::vector<std::string>{"REMOTE_LIVE_SESSIONS=", "REMOTE_SSH_KNOWN_HOSTS=" + server->store().string(),
                                     "REMOTE_SSH_KEY=" + server->client_key().string()});
        ASSERT_TRUE(window->ok()) << test_support::read_text(window->log());
        window->open_selected();
        ASSERT_TRUE(connected()) << test_support::read_text(window->log()) << test_support::read_text(server->log());
    }

    bool connected() {
        return eventually([&] { return window->shows_connected_session("window-ssh-keys"); });
    }
    std::filesystem::path file(const std::string& name) const { return out.path() / name; }
    // Runs a command in the remote shell and waits for the file it writes.
    std::string shell_writes(const std::string& command, const std::string& name) {
        window->type(command + " > " + file(name).string());
        window->key("Return");
        std::string text;
        eventually([&] { return !(text = test_support::read_text(file(name))).empty(); });
        return text;
    }
    // From here on the shell's terminal is raw, in the modes `modes` sets, and what reaches it
    // is appended to "keys".
    void record_keys(const std::string& modes = "") {
        window->type("stty raw -echo; printf \"" + modes + "\"; : > " + file("ready").string() + "; cat > " +
                     file("keys").string());
        window->key("Return");
        ASSERT_TRUE(eventually([&] { return std::filesystem::exists(file("ready")); }));
    }
    // The bytes the shell received after `keys` (xdotool's names), once they are all there.
    std::string received_after(const std::string& keys, std::size_t expected) {
        const std::size_t before = test_support::read_text(file("keys")).size();
        window->key(keys);
        std::string got;
        eventually([&] { return (got = test_support::read_text(file("keys")).substr(before)).size() >= expected; }, 5s);
        return got;
    }

    test_support::TempDir out{"remote-window-keys-"};
    std::unique_ptr<ssh_test::SshServer> server;
    std::unique_ptr<RemoteWindow> window;
};

TEST_F(WindowSshKeys, TheCursorKeysAndTheKeypadFollowTheModesTheShellSets) {
    record_keys("\\033[?1h\\033=");  // DECCKM and DECKPAM
    const KeyBytes cases[] = {
        {"Up", "\x1bOA"},       {"Home", "\x1bOH"},   {"ctrl+Up", "\x1b[1;5A"},
        {"KP_Add", "\x1bOk"},                                         // NumLock is off on the display
        {"KP_Enter", "\x1bOM"}, {"KP_End", "\x1bOF"}, {"KP_1", "1"},  // xdotool turns NumLock on for it
    };
    for (const auto& c : cases) EXPECT_EQ(hex(received_after(c.keys, c.bytes.size())), hex(c.bytes)) << c.keys;
}

TEST_F(WindowSshKeys, LeavingForTheListAndConnectingAgainReturnsToTheSameShell) {
    const std::string pid = shell_writes("echo $$", "pid-before");
    ASSERT_FALSE(pid.empty());
    // Control+Shift+F shows the list with the search field; Escape leaves the field, Enter
    // connects the selected row: its session's screen comes back.
    window->key("ctrl+shift+f");
    EXPECT_TRUE(eventually([&] { return !window->shows_connected_session("window-ssh-keys"); }));
    window->key("Escape");
    window->key("Return");
    ASSERT_TRUE(connected());
    EXPECT_EQ(shell_writes("echo $$", "pid-after"), pid) << "the same shell";
}

TEST_F(WindowSshKeys, KeysArriveAsXtermSendsThem) {
    record_keys();
    const KeyBytes cases[] = {
        {"a", "a"},
        {"ctrl+c", "\x03"},
        {"alt+b",
         "\x1b"
         "b"},
        {"F5", "\x1b[15~"},
        {"Prior", "\x1b[5~"},
        {"ctrl+Left", "\x1b[1;5D"},
        {"shift+Tab", "\x1b[Z"},
        {"ctrl+space", std::string(1, '\0')},
        {"Up", "\x1b[A"},
        {"KP_Add", "+"},
        // The application's shortcuts take Control+Shift in a session: these are the shell's.
        {"ctrl+w", "\x17"},
        {"ctrl+n", "\x0e"},
        {"ctrl+f", "\x06"},
    };
    // Each key's bytes reach the shell after the previous key's: the session stays connected.
    for (const auto& c : cases) EXPECT_EQ(hex(received_after(c.keys, c.bytes.size())), hex(c.bytes)) << c.keys;
    EXPECT_FALSE(window_test::log_has(server->log().string(), "Disconnected from user"));
    EXPECT_TRUE(connected());
    const std::string before = test_support::read_text(file("keys"));
    window->key("ctrl+shift+w");
    EXPECT_TRUE(eventually([&] {
        return window_test::log_has(server->log().string(), "Disconnected from user " + server->user());
    })) << test_support::read_text(server->log());
    EXPECT_EQ(hex(test_support::read_text(file("keys"))), hex(before)) << "nothing reached the shell";
}

// One key event as xev prints it on the server's display.
struct KeyEvent {
    bool press = false;
    int keycode = 0;
    std::string keysym;  // the name xev reads from the keycode and the state at that moment
};

std::vector<KeyEvent> key_events(const std::string& log) {
    std::vector<KeyEvent> out;
    std::istringstream lines(log);
    std::string line;
    int kind = 0;  // 1 after "KeyPress event", -1 after "KeyRelease event"
    while (std::getline(lines, line)) {
        if (line.starts_with("KeyPress event")) kind = 1;
        if (line.starts_with("KeyRelease event")) kind = -1;
        const auto at = line.find("keycode ");
        if (kind == 0 || at == std::string::npos) continue;
        const auto name = line.find(", ", line.find("(keysym 0x", at)) + 2;
        out.push_back({kind > 0, std::atoi(line.c_str() + at + 8), line.substr(name, line.find(')', name) - name)});
        kind = 0;
    }
    return out;
}

// "+name" for a press, "-name" for a release.
std::vector<std::string> names(std::span<const KeyEvent> events) {
    std::vector<std::string> out;
    for (const auto& e : events) out.push_back((e.press ? "+" : "-") + e.keysym);
    return out;
}

TEST(WindowVncKeys, KeysGoDownAndUpAsPressedAndNothingStaysDown) {
    if (auto why = window_test::unavailable(); !why.empty()) GTEST_SKIP() << why;
    for (const char* tool : {"Xtigervnc", "xev"})
        if (!test_support::on_path(tool))
            GTEST_SKIP() << tool << " is not installed (scripts/install-deps installs it)";
    vnc_it::ServerOptions options;
    vnc_it::VncServer server(options);
    ASSERT_TRUE(server.ok()) << server.log();
    const std::string events = server.dir() + "/events.log";
    vnc_it::Process xev({"xev", "-root", "-event", "keyboard", "-event", "button"}, events,
                        {"DISPLAY=:" + std::to_string(server.display())});
    RemoteWindow window({saved("Lab desktop", ConnectionKind::Vnc, "127.0.0.1", server.port(), "", AuthKind::Password)},
                        {"REMOTE_LIVE_SESSIONS="});
    ASSERT_TRUE(window.ok()) << test_support::read_text(window.log());
    window.open_selected();
    ASSERT_TRUE(eventually([&] { return window.shows_connected_session("window-vnc-keys"); }))
        << test_support::read_text(window.log());

    // What the desktop saw of each step (xdotool's commands), once all of it has arrived.
    std::size_t seen = 0;
    std::vector<KeyEvent> all;
    auto after = [&](const std::string& commands, std::size_t count) {
        window.xdo(commands);
        eventually([&] { return (all = key_events(test_support::read_text(events))).size() >= seen + count; }, 10s);
        const auto step = names(std::span(all).subspan(std::min(seen, all.size())));
        seen = all.size();
        return step;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(after("keydown ctrl keydown c keyup c keyup ctrl", 4), (V{"+Control_L", "+c", "-c", "-Control_L"}));
    EXPECT_EQ(after("key super", 2), (V{"+Super_L", "-Super_L"}));
    EXPECT_EQ(after("key alt", 2), (V{"+Alt_L", "-Alt_L"}));
    EXPECT_EQ(after("key Home", 2), (V{"+Home", "-Home"}));
    EXPECT_EQ(after("key F5", 2), (V{"+F5", "-F5"}));
    EXPECT_EQ(after("keydown shift keydown a keyup a keyup shift", 4), (V{"+Shift_L", "+A", "-A", "-Shift_L"}));

    // A drag that ends off the picture, on the session header: the button comes up on the desktop.
    const auto buttons = [&](const std::string& kind) {
        const std::string log = test_support::read_text(events);
        std::size_t n = 0;
        for (auto at = log.find(kind); at != std::string::npos; at = log.find(kind, at + 1)) ++n;
        return n;
    };
    window.xdo("mousemove 640 420 mousedown 1 mousemove 640 420 mousemove 640 20 mouseup 1");
    EXPECT_TRUE(
        eventually([&] { return buttons("ButtonPress event") == 1 && buttons("ButtonRelease event") == 1; }, 10s))
        << test_support::read_text(events);

    // Another window takes the focus while Control is held: it comes up on the desktop at once.
    vnc_it::Process thief({"xev", "-name", "focus-thief"}, window.dir().string() + "/thief.log",
                          {"DISPLAY=:" + std::to_string(window.display())});
    ASSERT_FALSE(window.xdo("search --sync --name focus-thief", 10).empty());
    EXPECT_EQ(after("keydown ctrl search --name focus-thief windowfocus --sync %1", 2),
              (V{"+Control_L", "-Control_L"}));
    window.xdo("keyup ctrl search --name '^Remote$' windowfocus --sync %1");

    // Control and Shift are down when Control+Shift+W ends the session: both come up before the
    // connection closes, and the W never reaches the desktop.
    window.xdo("keydown ctrl keydown shift keydown w");
    EXPECT_TRUE(eventually([&] { return !window.shows_connected_session("window-vnc-keys"); }));
    EXPECT_EQ(after("keyup w keyup shift keyup ctrl", 4), (V{"+Control_L", "+Shift_L", "-Shift_L", "-Control_L"}));
    std::map<int, int> down;
    for (const auto& e : all) down[e.keycode] += e.press ? 1 : -1;
    for (const auto& [keycode, n] : down) EXPECT_EQ(n, 0) << "keycode " << keycode << " stays down";
}

}  // namespace
