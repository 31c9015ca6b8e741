// Review scenes of the application's window with data the built-in samples do not have:
// 10,000 connections, long names and many groups, an empty search, a notice, long names in a
// dialog and on a status card, the form with its problems, a tooltip, and a terminal showing
// colours, attributes, CJK, emoji and line drawing. `make screenshots`
// renders each of them; run it to look at one in a window.
//
//   remote_view_gallery [--view-state NAME] [--size WxH] [--scale F] [--screenshot FILE.png]
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "app/launch_record.hpp"
#include "app/remote_app.hpp"
#include "profiles/connection_list.hpp"
#include "tests/views/session_harness.hpp"
#include "zavo_ui/launch.hpp"
#include "zavo_ui/simulated_devices.hpp"

namespace {

using namespace remote;
using K = UiCommand::Kind;

const std::vector<std::string> kScenes = {"list-10k",      "long-names",  "search-none",   "notice",
                                          "notice-saving", "dialog-long", "form-problems", "form-rdp",
                                          "card-long",     "card-refused", "tooltip",     "terminal"};

SavedConnection connection(std::string name, ConnectionKind kind, std::string host, std::string group,
                           Presence presence = Presence::Online, bool favorite = false) {
    SavedConnection c;
    c.name = std::move(name);
    c.kind = kind;
    c.host = std::move(host);
    c.port = kind == ConnectionKind::Zavo ? 0 : kind == ConnectionKind::Vnc ? 5900 : 22;
    c.user = kind == ConnectionKind::Ssh ? "admin" : "";
    c.auth = kind == ConnectionKind::Zavo ? AuthKind::DeviceIdentity : AuthKind::Password;
    c.group = std::move(group);
    c.presence = presence;
    c.favorite = favorite;
    c.last_used = "2h ago";
    c.id = Uuid::new_v4();
    return c;
}

std::unique_ptr<RemoteApp> ten_thousand() {
    static const char* words[] = {"Build", "Studio", "Garage", "Office", "Rack", "Lab", "Edge", "Node", "Vault", "Pi"};
    static const char* groups[] = {"lab", "home", "prod", "work", "staging", "Zavo", "edge", "backup"};
    const std::string device = zavo_ui::simulated_devices::SIMULATED_DEVICES[0].endpoint_id();
    std::vector<SavedConnection> list;
    for (int i = 0; i < 10'000; ++i) {
        const auto kind = static_cast<ConnectionKind>((i / 7) % 4);
        list.push_back(connection(fmt::format("{} {} {}", words[i % 10], words[(i / 10) % 10], i), kind,
                                  kind == ConnectionKind::Zavo ? device : fmt::format("host-{}.example.net", i),
                                  groups[(i / 3) % 8], static_cast<Presence>(i % 3), i % 97 == 0));
    }
    auto app = RemoteApp::with_data(std::move(list), {});
    app->list_scroll = 80.0 * 4321;
    app->pointer = {600, 420};
    return app;
}

std::unique_ptr<RemoteApp> long_names() {
    const std::string device = zavo_ui::simulated_devices::SIMULATED_DEVICES[1].endpoint_id();
    std::vector<SavedConnection> list{
        connection("Rendering farm node in the north data hall, rack 14, second shelf from the top",
                   ConnectionKind::Ssh, "render-node-14-2.north-hall.datacenter.internal.example.com",
                   "render farm (north hall)", Presence::Online, true),
        connection("Überwachungskamera Garten — Südseite", ConnectionKind::Vnc, "192.168.178.120", "Außenbereich",
                   Presence::Offline),
        connection("会議室のディスプレイ", ConnectionKind::Zavo, device, "東京オフィス"),
        connection("Legacy accounting workstation that nobody dares to switch off", ConnectionKind::Rdp,
                   "acct-ws-legacy-0001.corp.example.org", "finance and accounting department", Presence::Unknown),
        connection("db", ConnectionKind::Ssh, "10.0.0.5", "a group name that is much longer than any sensible one"),
        connection("Home NAS", ConnectionKind::Vnc, "nas.local", "home"),
    };
    for (int i = 0; i < 6; ++i)
        list.push_back(connection(fmt::format("Group sample {}", i), ConnectionKind::Ssh, "10.1.0." + std::to_string(i),
                                  fmt::format("group-{}", i)));
    list[3].last_used = "a very long time ago, before the last office move";
    auto app = RemoteApp::with_data(std::move(list), {});
    app->pointer = {700, 250};
    return app;
}

// What a connected SSH session shows: a prompt, `ls --color`, the sixteen colours, the 256-colour
// cube and greys, direct colour, the text attributes, CJK, emoji and a combining mark, DEC line
// drawing, Unicode boxes and blocks, and an inverse status line.
std::string terminal_demo() {
    std::string out = "\x1b[1;32madmin@build-box\x1b[0m:\x1b[1;34m~\x1b[0m$ ls --color\r\n";
    out += "\x1b[1;34mprojects\x1b[0m  \x1b[1;32mdeploy.sh\x1b[0m  notes.txt  \x1b[1;36mlatest\x1b[0m -> "
           "\x1b[1;31mrelease.tar.gz\x1b[0m\r\n\r\n";
    out += "16      ";
    for (int i = 0; i < 8; ++i) out += fmt::format("\x1b[3{}m#{}\x1b[0m ", i, i);
    for (int i = 0; i < 8; ++i) out += fmt::format("\x1b[9{}m#{}\x1b[0m ", i, i + 8);
    out += "\r\n        ";
    for (int i = 0; i < 8; ++i) out += fmt::format("\x1b[4{}m   \x1b[0m", i);
    for (int i = 0; i < 8; ++i) out += fmt::format("\x1b[10{}m   \x1b[0m", i);
    out += "\r\n256     ";
    for (int i = 16; i < 232; i += 3) out += fmt::format("\x1b[48;5;{}m \x1b[0m", i);
    out += "\r\n        ";
    for (int i = 232; i < 256; ++i) out += fmt::format("\x1b[48:5:{}m  ", i);
    out += "\x1b[0m\r\ndirect  ";
    for (int i = 0; i < 72; ++i) out += fmt::format("\x1b[48;2;{};{};{}m ", 255 - i * 3, 40 + i * 2, i * 3);
    out += "\x1b[0m\r\n        ";
    for (int i = 0; i < 72; ++i) out += fmt::format("\x1b[38:2::{}:{}:{}m\u2580", 40 + i * 3, 200 - i * 2, 255 - i);
    out += "\x1b[0m\r\n\r\n";
    out += "attrs   \x1b[1mbold\x1b[0m \x1b[2mdim\x1b[0m \x1b[3mitalic\x1b[0m \x1b[4munderline\x1b[0m "
           "\x1b[7minverse\x1b[0m \x1b[9mstrike\x1b[0m [\x1b[8minvisible\x1b[0m] "
           "\x1b[1;3;4;38;5;214mall\x1b[0m \x1b[7;31mred\x1b[0m\r\n";
    out += "wide    日本語テキスト | 中文 | 한국어 | 😀 🚀 🎉 | cafe\u0301 | x\u0332y\u0332\r\n\r\n";
    out += "\x1b(0lqqqqqwqqqqqk\x1b(B  ┏━━━━━┳━━━━━┓  ╔═════╦═════╗  ╭─────╮  ▁▂▃▄▅▆▇█ ░▒▓ ▌▐\r\n";
    out += "\x1b(0x\x1b(B DEC \x1b(0x\x1b(Blines\x1b(0x\x1b(B  ┃heavy┃     ┃  ║dbl  ║     ║  │round│  ▛▜▙▟▚▞\r\n";
    out += "\x1b(0tqqqqqnqqqqqu\x1b(B  ┣━━━━━╋━━━━━┫  ╠═════╬═════╣  ╰─────╯\r\n";
    out += "\x1b(0mqqqqqvqqqqqj\x1b(B  ┗━━━━━┻━━━━━┛  ╚═════╩═════╝\r\n\r\n";
    out += "\x1b[1;32madmin@build-box\x1b[0m:\x1b[1;34m~\x1b[0m$ vi notes.txt";
    const std::string status = " notes.txt  [+]  line 3 of 42 -- 7%";
    out += "\x1b[24;1H\x1b[7m" + status + std::string(79 - status.size(), ' ') + "\x1b[0m\x1b[19;37H";
    return out;
}

// The sample SSH connection in a session that shows `terminal_demo`; its worker side lives as
// long as the program.
std::unique_ptr<RemoteApp> terminal_session() {
    auto app = RemoteApp::with_sample_data();
    static std::optional<views_test::SshHarness> ssh;
    ssh.emplace(*app);
    ssh->write(terminal_demo());
    app->screen = Screen::session(*app->first_connection_of_kind(ConnectionKind::Ssh));
    return app;
}

std::unique_ptr<RemoteApp> build(const std::string& scene) {
    crdt::Document scratch;
    if (scene == "list-10k") return ten_thousand();
    if (scene == "long-names") return long_names();
    if (scene == "terminal") return terminal_session();
    if (scene == "card-refused") {
        // A server's reason for refusing, longer than the window holds.
        auto app = RemoteApp::with_sample_data();
        std::string reason;
        while (reason.size() < 6000) reason += "The server refused this client for a reason it states at length. ";
        app->show_preview_session(ConnectionKind::Vnc, SessionStatus::failed(std::move(reason)));
        return app;
    }
    if (scene == "dialog-long" || scene == "card-long") {
        auto app = long_names();
        const Uuid id = app->connections.front().id;
        if (scene == "dialog-long") {
            app->request_delete(id);
        } else {
            app->show_preview_session(ConnectionKind::Ssh,
                                      SessionStatus::unavailable(std::string(readiness_notice(
                                          ConnectionReadiness::CapabilityRequired, ConnectionKind::Ssh))));
        }
        return app;
    }
    auto app = RemoteApp::with_sample_data();
    if (scene == "search-none") {
        app->search_query = "no such machine";
    } else if (scene == "notice") {
        app->notice = Notice{
            "No new SSH host key is waiting for trust. Changed keys must be forgotten before they can be reviewed "
            "again."};
    } else if (scene == "notice-saving") {
        app->document_saving({zavo_ui::DocumentSaving::State::NotSaved, "No space left on device",
                              "cannot append to the log: No space left on device"});
    } else if (scene == "form-problems") {
        app->execute(UiCommand::plain(K::NewConnectionForm), scratch);
        app->form.port = "";
        app->load_form_into_inputs();
        app->execute(UiCommand::plain(K::SaveForm), scratch);
    } else if (scene == "form-rdp") {
        app->execute(UiCommand::with_id(K::EditConnection, *app->first_connection_of_kind(ConnectionKind::Rdp)),
                     scratch);
    } else if (scene == "tooltip") {
        // The rail's first item under the pointer, its tooltip due.
        app->pointer = {32, 92};
        app->tooltip.on_pointer(zavo_ui::widget::tooltip::HoverTarget{{12, 72, 52, 112}, "Connections"},
                                std::chrono::steady_clock::now() - std::chrono::seconds(1));
    }
    return app;
}

}  // namespace

int main() {
    zavo_ui::launch::LaunchSpec spec = remote::app::launch_spec();
    spec.app_id = "dev.zavo.remote.gallery";
    spec.view_states = kScenes;
    spec.build_initial_state =
        [](const zavo_ui::launch::LaunchOptions& options) -> std::expected<zavo_ui::launch::RootWidget, std::string> {
        return build(options.view_state.value_or(kScenes.front()));
    };
    spec.open_document = {};  // a document in memory, never saved
    zavo_ui::launch::run_or_exit(spec);
    return 0;
}
