// The accessibility tree of each screen and state, and element activations: what is accepted
// and what it does, and what is refused without changing anything.
#include "app/remote_app.hpp"

#include "doc/profile_document.hpp"
#include "profiles/connection_list.hpp"
#include "support/env.hpp"
#include "support/saved_connection.hpp"
#include "zavo_ui/simulated_devices.hpp"
#include "zavo_ui/widget.hpp"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <functional>
#include <string>
#include <vector>

using namespace remote;
using zavo_ui::a11y::AccessNode;
using zavo_ui::a11y::AccessRole;
using zavo_ui::a11y::SemanticAction;
using zavo_ui::a11y::SemanticActionKind;
using Cmd = UiCommand::Kind;

namespace {

const std::string kDevice0 = zavo_ui::simulated_devices::SIMULATED_DEVICES[0].endpoint_id();
const std::string kDevice1 = zavo_ui::simulated_devices::SIMULATED_DEVICES[1].endpoint_id();

SavedConnection connection(std::string name, ConnectionKind kind, std::string host, std::uint16_t port, AuthKind auth,
                           Presence presence = Presence::Online, bool favorite = false,
                           std::string last_used = "Never") {
    SavedConnection c;
    c.name = std::move(name);
    c.host = std::move(host);
    c.port = port;
    c.kind = kind;
    c.auth = auth;
    c.presence = presence;
    c.favorite = favorite;
    c.last_used = std::move(last_used);
    c.id = Uuid::new_v4();
    return c;
}

const char* role_name(AccessRole role) {
    switch (role) {
        case AccessRole::Window: return "window";
        case AccessRole::Dialog: return "dialog";
        case AccessRole::Group: return "group";
        case AccessRole::Toolbar: return "toolbar";
        case AccessRole::List: return "list";
        case AccessRole::ListItem: return "item";
        case AccessRole::Button: return "button";
        case AccessRole::ToggleButton: return "toggle";
        case AccessRole::RadioButton: return "radio";
        case AccessRole::TextField: return "field";
        case AccessRole::StaticText: return "text";
        case AccessRole::Heading: return "heading";
        case AccessRole::Terminal: return "terminal";
        case AccessRole::Canvas: return "canvas";
    }
    return "?";
}

// One line per node, children indented: role, label, then what is set.
void outline(const AccessNode& n, int depth, std::string& out) {
    out += std::string(std::size_t(depth) * 2, ' ') + role_name(n.role) + " \"" + n.label.value_or("") + "\"";
    if (n.element_id) out += " #" + *n.element_id;
    if (n.value) out += " =\"" + *n.value + "\"";
    if (n.description) out += " (" + *n.description + ")";
    if (n.set_size) out += fmt::format(" {}/{}", n.position_in_set.value_or(0), *n.set_size);
    if (n.focusable) out += " focusable";
    if (n.focused) out += " focused";
    if (n.selected) out += " selected";
    if (n.modal) out += " modal";
    if (n.live) out += " live";
    if (n.checked) out += n.checked == zavo_ui::a11y::Toggled::True ? " checked" : " unchecked";
    if (n.expanded) out += n.expanded == zavo_ui::a11y::Toggled::True ? " expanded" : " collapsed";
    if (n.bounds) out += fmt::format(" @{},{},{},{}", n.bounds->x0, n.bounds->y0, n.bounds->x1, n.bounds->y1);
    out += "\n";
    for (const AccessNode& c : n.children) outline(c, depth + 1, out);
}

std::vector<const AccessNode*> all_nodes(const AccessNode& root) {
    std::vector<const AccessNode*> out{&root};
    for (std::size_t i = 0; i < out.size(); ++i)
        for (const AccessNode& c : out[i]->children) out.push_back(&c);
    return out;
}

class Accessibility : public ::testing::Test {
protected:
    void SetUp() override {
        env.set("REMOTE_LIVE_SESSIONS", "");  // SSH and VNC are ready
        make({connection("Build box", ConnectionKind::Ssh, "build.lab", 22, AuthKind::PublicKey, Presence::Online, true,
                         "just now"),
              connection("Office NAS", ConnectionKind::Vnc, "10.0.0.5", 5900, AuthKind::Password, Presence::Offline),
              connection("Win", ConnectionKind::Rdp, "10.0.0.9", 3389, AuthKind::Password, Presence::Unknown)});
    }

    void make(std::vector<SavedConnection> list) {
        app = RemoteApp::with_data(std::move(list), {{"Studio Node", kDevice0, true}, {"Garage Pi", kDevice1, false}});
        doc = ProfileDocument();
        app->sync_document(doc);  // the document now holds the list
        app->window_bounds = {0, 0, 1280, 800};
    }

    Uuid id_of(std::string_view name) const { return test_support::id_named(app->connections, name); }

    AccessNode tree() const { return *app->accessibility_tree(); }
    // The content group of the current screen.
    AccessNode content() const { return tree().children.at(1); }
    std::string text() const { return text_of(content()); }
    std::string text_of(const AccessNode& node) const {
        std::string out;
        outline(node, 0, out);
        for (const auto& c : app->connections) {
            for (std::size_t at; (at = out.find(c.id.to_string())) != std::string::npos;)
                out.replace(at, 36, "<" + c.name + ">");
        }
        return out;
    }
    const AccessNode* by_element_id(const AccessNode& root, std::string_view id) const {
        for (const AccessNode* n : all_nodes(root))
            if (n->element_id == id) return n;
        return nullptr;
    }

    bool activate(std::string_view id, SemanticActionKind kind = SemanticActionKind::Activate,
                  std::optional<std::string> text = std::nullopt) {
        zavo_ui::EventContext ctx;
        ctx.document = &doc;
        return app->activate_element(id, SemanticAction{kind, std::move(text)}, ctx);
    }

    // A key as the window hands it on.
    void key(zavo_ui::event::Event event, zavo_ui::event::Modifiers modifiers = {}) {
        zavo_ui::EventContext ctx;
        ctx.document = &doc;
        bool handled = false;
        app->handle_event(event, modifiers, ctx, handled, 1.0);
    }

    test_support::EnvGuard env;
    ProfileDocument doc;
    std::unique_ptr<RemoteApp> app;
};

TEST_F(Accessibility, TheListScreenNamesEveryRowAndItsControls) {
    app->push_hit_region({10, 10, 100, 40}, UiCommand::plain(Cmd::NewConnectionForm));
    app->push_hit_region({0, 100, 500, 136}, UiCommand::focus_input(InputSlot::Search));
    app->push_hit_region({0, 150, 900, 222}, UiCommand::with_id(Cmd::Select, id_of("Build box")));
    app->focused = InputSlot::Search;
    app->search_query = "";
    EXPECT_EQ(text(),
              "group \"Connections\"\n"
              "  heading \"Remote Machines\"\n"
              "  button \"New connection\" #remote.connection.new focusable @10,10,100,40\n"
              "  field \"Search saved connections\" #remote.field:search =\"\" (Shortcut: slash or Control F) "
              "focusable focused @0,100,500,136\n"
              "  list \"Saved connections\" focusable\n"
              "    item \"Build box, SSH, online, ready to connect, last used just now\" #remote.connection:<Build "
              "box>:select =\"build.lab:22\" 1/3 focusable selected @0,150,900,222\n"
              "      toggle \"Remove from favourites\" #remote.connection:<Build box>:favorite focusable checked\n"
              "      button \"Edit connection\" #remote.connection:<Build box>:edit focusable\n"
              "      button \"Connect\" #remote.connection:<Build box>:connect focusable\n"
              "    item \"Office NAS, VNC, offline, ready to connect, last used Never\" #remote.connection:<Office "
              "NAS>:select =\"10.0.0.5:5900\" 2/3 focusable\n"
              "      toggle \"Add to favourites\" #remote.connection:<Office NAS>:favorite focusable unchecked\n"
              "      button \"Edit connection\" #remote.connection:<Office NAS>:edit focusable\n"
              "      button \"Connect\" #remote.connection:<Office NAS>:connect focusable\n"
              "    item \"Win, RDP, status unknown, RDP profiles are preserved, but this Zavo build has no RDP client "
              "backend., last used Never\" #remote.connection:<Win>:select =\"10.0.0.9:3389\" 3/3 focusable\n"
              "      toggle \"Add to favourites\" #remote.connection:<Win>:favorite focusable unchecked\n"
              "      button \"Edit connection\" #remote.connection:<Win>:edit focusable\n");

    const AccessNode root = tree();
    EXPECT_EQ(root.role, AccessRole::Window);
    EXPECT_EQ(root.label, "Remote");
    EXPECT_EQ(root.bounds, (zavo_ui::Rect{0, 0, 1280, 800}));
    EXPECT_EQ(root.children.size(), 2u) << "no dialog, no notice";
    EXPECT_EQ(content().children[3].node_id, zavo_ui::a11y::node_id_for("remote.list"));
}

// What a row shows besides its name: the target as its value, the group as its description.
TEST_F(Accessibility, RowsTellTheirTargetAndGroup) {
    SavedConnection lab = connection("Lab", ConnectionKind::Ssh, "lab.lan", 2222, AuthKind::PublicKey);
    lab.user = "ops";
    lab.group = "Racks";
    make({lab, connection("Cam", ConnectionKind::Vnc, "cam.local", 5900, AuthKind::Password)});
    const AccessNode list = content().children.at(3);
    ASSERT_EQ(list.children.size(), 2u);
    EXPECT_EQ(list.children[0].value, "cam.local:5900");
    EXPECT_EQ(list.children[0].description, std::nullopt) << "no group";
    EXPECT_EQ(list.children[1].value, "ops@lab.lan:2222");
    EXPECT_EQ(list.children[1].description, "group Racks");
}

// The focus is on what takes the keys: a focused field, else on the list screen the selected
// row (the list itself without one); the terminal of a connected session; never under a dialog.
TEST_F(Accessibility, TheFocusIsOnWhatTakesTheKeys) {
    const auto focused = [&] {
        std::vector<std::string> out;
        const AccessNode root = tree();
        for (const AccessNode* n : all_nodes(root))
            if (n->focused) out.push_back(n->label.value_or(""));
        return out;
    };
    app->selected = id_of("Office NAS");
    EXPECT_EQ(focused(), (std::vector<std::string>{"Office NAS, VNC, offline, ready to connect, last used Never"}));
    app->search_query = "Build";
    EXPECT_EQ(focused(), (std::vector<std::string>{"Saved connections"})) << "the selected row is not shown";
    app->search_query.clear();
    app->focus_input(InputSlot::Search);
    EXPECT_EQ(focused(), (std::vector<std::string>{"Search saved connections"}));
    app->blur_input();
    app->confirmation = ConfirmationRequest{ConfirmationRequest::Kind::Connect, "key", {}, id_of("Office NAS")};
    EXPECT_EQ(focused(), std::vector<std::string>{});
    app->confirmation.reset();
    app->screen = Screen::new_form();
    EXPECT_EQ(focused(), std::vector<std::string>{});
    app->screen = Screen::session(id_of("Build box"));
    app->session.hold(id_of("Build box"), LiveSession{LiveSession::Preview{SessionStatus::connecting()}});
    EXPECT_EQ(focused(), std::vector<std::string>{}) << "no terminal yet";
    app->session.hold(id_of("Build box"), LiveSession{LiveSession::Preview{SessionStatus::connected()}});
    EXPECT_EQ(focused(), (std::vector<std::string>{"Interactive SSH terminal"}));
}

// A field tells where its caret is and what is selected, in bytes of its text, as keys move them.
TEST_F(Accessibility, AFieldTellsItsCaretAndSelection) {
    using zavo_ui::event::Modifiers;
    using zavo_ui::event::named_key;
    using zavo_ui::event::NamedKey;
    app->execute(UiCommand::plain(Cmd::NewConnectionForm), doc);
    EXPECT_TRUE(activate("remote.field:name", SemanticActionKind::SetValue, "\U0001F600\u4E2Dab"));
    const auto name = [&] { return *by_element_id(tree(), "remote.field:name"); };
    EXPECT_EQ(name().caret, 0u) << "a new form's field keeps its caret at the start";
    key(named_key(NamedKey::End));
    EXPECT_EQ(name().caret, 9u);
    EXPECT_EQ(name().text_selection, std::nullopt);
    key(named_key(NamedKey::Home));
    key(named_key(NamedKey::ArrowRight));
    EXPECT_EQ(name().caret, 4u);
    key(named_key(NamedKey::ArrowRight), Modifiers{Modifiers::SHIFT});
    EXPECT_EQ(name().caret, 7u);
    EXPECT_EQ(name().text_selection, (std::pair<std::size_t, std::size_t>{4, 7}));
}

TEST_F(Accessibility, RowsSayWhyTheyCannotConnect) {
    env.set("REMOTE_LIVE_SESSIONS", nullptr);
    make({connection("Build box", ConnectionKind::Ssh, "build.lab", 22, AuthKind::Password),
          connection("Cam", ConnectionKind::Vnc, "cam.local", 5900, AuthKind::PublicKey),
          connection("Studio", ConnectionKind::Zavo, kDevice0, 0, AuthKind::DeviceIdentity),
          connection("Bad node", ConnectionKind::Zavo, "not-an-id", 0, AuthKind::DeviceIdentity)});
    const struct {
        const char* name;
        const char* readiness;
        bool connect;
    } rows[] = {
        {"Bad node", "Zavo device node must be an exact certified endpoint id.", false},
        {"Build box", "SSH is installed, but this build has not been granted live network access.", false},
        {"Cam", "VNC is installed, but this build has not been granted live network access.", false},
        {"Studio", "ready to connect", true},
    };
    const AccessNode list = content().children.at(3);
    ASSERT_EQ(list.children.size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const AccessNode& row = list.children[i];
        EXPECT_TRUE(row.label->starts_with(std::string(rows[i].name) + ", ")) << *row.label;
        EXPECT_NE(row.label->find(std::string(", ") + rows[i].readiness + ", last used"), std::string::npos)
            << *row.label;
        EXPECT_EQ(row.children.size(), rows[i].connect ? 3u : 2u) << rows[i].name;
    }

    // A profile that live sessions could open but whose settings do not fit names the problem.
    env.set("REMOTE_LIVE_SESSIONS", "1");
    const AccessNode cam = content().children.at(3).children.at(2);
    EXPECT_NE(cam.label->find("VNC profiles support password authentication only."), std::string::npos) << *cam.label;
}

TEST_F(Accessibility, EmptyListsSayWhy) {
    app->search_query = "nothing like this";
    EXPECT_EQ(text(),
              "group \"Connections\"\n"
              "  heading \"Remote Machines\"\n"
              "  button \"New connection\" #remote.connection.new focusable\n"
              "  field \"Search saved connections\" #remote.field:search =\"nothing like this\" (Shortcut: slash or "
              "Control F) focusable\n"
              "  list \"Saved connections\" focusable focused\n"
              "  text \"No machines match your search.\" live\n");
    make({});
    EXPECT_EQ(content().children.back().label,
              "No machines yet. Add a connection to reach it over SSH, VNC, or the Zavo relay.");
    EXPECT_EQ(content().children.back().node_id, zavo_ui::a11y::node_id_for("remote.list.empty"));
}

TEST_F(Accessibility, NavigationFollowsTheLayout) {
    app->push_hit_region({12, 72, 52, 112}, UiCommand::plain(Cmd::ShowConnections));
    app->push_hit_region({12, 128, 52, 168}, UiCommand::plain(Cmd::NewConnectionForm));
    const struct {
        bool narrow;
        std::optional<bool> choice;
        std::vector<std::string> buttons;
        std::optional<bool> expanded;
    } cases[] = {
        {false, std::nullopt, {"Connections", "Add connection"}, std::nullopt},
        {false, false, {"Connections", "Add connection"}, std::nullopt},
        {true, std::nullopt, {"Open navigation"}, false},
        {true, false, {"Open navigation"}, false},
        {true, true, {"Close navigation", "Connections", "Add connection"}, true},
    };
    for (const auto& c : cases) {
        app->narrow = c.narrow;
        app->nav_choice = c.choice;
        const AccessNode root = tree();
        const AccessNode& nav = root.children.at(0);
        EXPECT_EQ(nav.role, AccessRole::Toolbar);
        EXPECT_EQ(nav.label, "Remote navigation");
        std::vector<std::string> labels;
        for (const AccessNode& b : nav.children) labels.push_back(*b.label);
        EXPECT_EQ(labels, c.buttons) << c.narrow;
        if (c.expanded) {
            EXPECT_EQ(nav.children[0].expanded, zavo_ui::a11y::toggled(*c.expanded));
            EXPECT_EQ(nav.children[0].description, "Show Connections and Add connection");
        }
        // "New connection" on the list and "Add connection" in the navigation are one command
        // with one id and one rectangle.
        std::vector<zavo_ui::Rect> new_ids;
        for (const AccessNode* n : all_nodes(root))
            if (n->element_id == "remote.connection.new") new_ids.push_back(n->bounds.value());
        EXPECT_EQ(new_ids.size(), labels.size() >= 2 ? 2u : 1u);
        for (const auto& r : new_ids) EXPECT_EQ(r, (zavo_ui::Rect{12, 128, 52, 168}));
    }
}

TEST_F(Accessibility, TheFormOffersTheFieldsOfItsKind) {
    const struct {
        ConnectionKind kind;
        std::vector<std::string> children;  // labels of the form group's children after the protocol
        std::vector<std::string> auth;
    } cases[] = {
        {ConnectionKind::Ssh,
         {"Connection name", "Host name or IP address", "Port", "User name", "Group", "Authentication", "Form actions"},
         {"Password", "Public key"}},
        {ConnectionKind::Vnc,
         {"Connection name", "Host name or IP address", "Port", "Group", "Authentication", "Form actions"},
         {"Password"}},
        {ConnectionKind::Rdp,
         {"Legacy RDP profile. RDP has no client backend in this build; select SSH, VNC, or Zavo to migrate this "
          "profile.",
          "Connection name", "Host name or IP address", "Port", "User name", "Group", "Authentication", "Form actions"},
         {"Password"}},
        {ConnectionKind::Zavo,
         {"Discovered Zavo devices", "Authentication: Zavo device identity. No password is stored or requested.",
          "Connection name", "Device node", "Form actions"},
         {}},
    };
    app->screen = Screen::new_form();
    for (const auto& c : cases) {
        app->form.kind = c.kind;
        app->form.auth = allowed_auth(c.kind).back();
        const AccessNode form = content();
        EXPECT_EQ(form.label, "New connection");
        ASSERT_GE(form.children.size(), 3u);
        EXPECT_EQ(form.children[0].label, "New connection");
        const AccessNode& protocol = form.children[1];
        ASSERT_EQ(protocol.children.size(), 3u);
        for (const AccessNode& option : protocol.children) {
            const bool mine = option.element_id == "remote.kind:" + std::string(stored_name(c.kind));
            EXPECT_EQ(option.checked, zavo_ui::a11y::toggled(mine)) << *option.element_id;
        }
        std::vector<std::string> labels, auth;
        for (std::size_t i = 2; i < form.children.size(); ++i) labels.push_back(*form.children[i].label);
        EXPECT_EQ(labels, c.children) << stored_name(c.kind);
        for (const AccessNode* n : all_nodes(form))
            if (n->element_id && n->element_id->starts_with("remote.auth:")) {
                auth.push_back(*n->label);
                EXPECT_EQ(n->checked, zavo_ui::a11y::toggled(*n->label == label(app->form.auth)));
            }
        EXPECT_EQ(auth, c.auth) << stored_name(c.kind);
    }
}

TEST_F(Accessibility, TheEditFormShowsValuesProblemsAndDelete) {
    const Uuid id = id_of("Build box");
    app->screen = Screen::edit_form(id);
    app->form = ConnectionForm{"", "build.lab", "0", "admin", "lab", AuthKind::PublicKey, ConnectionKind::Ssh};
    app->touched.show_all = true;
    app->focused = InputSlot::Port;
    app->push_hit_region({0, 0, 10, 10}, UiCommand::set_kind(ConnectionKind::Vnc));
    app->push_hit_region({0, 20, 10, 30}, UiCommand::focus_input(InputSlot::Port));
    app->push_hit_region({0, 40, 10, 50}, UiCommand::with_id(Cmd::RequestDelete, id));
    EXPECT_EQ(text(),
              "group \"Edit connection\"\n"
              "  heading \"Edit connection\"\n"
              "  group \"Protocol\"\n"
              "    radio \"SSH\" #remote.kind:SSH focusable checked\n"
              "    radio \"VNC\" #remote.kind:VNC focusable unchecked @0,0,10,10\n"
              "    radio \"Zavo device\" #remote.kind:Zavo focusable unchecked\n"
              "  field \"Connection name\" #remote.field:name =\"\" focusable\n"
              "  field \"Host name or IP address\" #remote.field:host =\"build.lab\" focusable\n"
              "  field \"Port\" #remote.field:port =\"0\" focusable focused @0,20,10,30\n"
              "  field \"User name\" #remote.field:user =\"admin\" focusable\n"
              "  field \"Group\" #remote.field:group =\"lab\" focusable\n"
              "  group \"Authentication\"\n"
              "    radio \"Password\" #remote.auth:password focusable unchecked\n"
              "    radio \"Public key\" #remote.auth:public-key focusable checked\n"
              "  text \"Name is required. Port must be 1–65535\" live\n"
              "  toolbar \"Form actions\"\n"
              "    button \"Cancel\" #remote.form.cancel focusable\n"
              "    button \"Save connection\" #remote.form.save focusable\n"
              "    button \"Delete connection\" #remote.connection:<Build box>:delete focusable @0,40,10,50\n");
}

TEST_F(Accessibility, DiscoveredDevicesAreAListOnTheZavoForm) {
    app->screen = Screen::new_form();
    app->form.kind = ConnectionKind::Zavo;
    app->form.host = kDevice1;
    app->push_hit_region({0, 0, 10, 10}, UiCommand::use_discovered_device(1));
    EXPECT_EQ(text_of(content().children.at(2)),
              fmt::format("list \"Discovered Zavo devices\"\n"
                          "  item \"Studio Node\" #remote.device:0 =\"{}\" (Online) focusable\n"
                          "  item \"Garage Pi\" #remote.device:1 =\"{}\" (Offline) focusable selected @0,0,10,10\n",
                          kDevice0, kDevice1));
}

TEST_F(Accessibility, TheSessionScreenFollowsTheStatus) {
    const struct {
        const char* connection;
        std::optional<SessionStatus> status;
        const char* expected;
    } cases[] = {
        {"Build box", std::nullopt,
         "group \"Remote session\"\n"
         "  heading \"Build box\"\n"
         "  text \"Not connected\" live\n"
         "  button \"Back to list\" #remote.session.disconnect focusable\n"},
        {"Build box", SessionStatus::connecting(),
         "group \"Remote session\"\n"
         "  heading \"Build box\"\n"
         "  text \"Connecting\" live\n"
         "  button \"Back to list\" #remote.session.disconnect focusable\n"},
        {"Build box", SessionStatus::connected(),
         "group \"Remote session\"\n"
         "  heading \"Build box\"\n"
         "  text \"Connected\" live\n"
         "  terminal \"Interactive SSH terminal\" (Keyboard and pointer input are sent to the remote machine) "
         "focusable focused\n"
         "  button \"Disconnect\" #remote.session.disconnect focusable\n"},
        {"Office NAS", SessionStatus::connected(),
         "group \"Remote session\"\n"
         "  heading \"Office NAS\"\n"
         "  text \"Connected\" live\n"
         "  canvas \"Interactive remote desktop\" (Keyboard and pointer input are sent to the remote machine) "
         "focusable focused\n"
         "  toggle \"Scale remote desktop to fit\" #remote.session.scale focusable checked\n"
         "  button \"Enter fullscreen\" #remote.session.fullscreen focusable\n"
         "  button \"Disconnect\" #remote.session.disconnect focusable\n"},
        {nullptr, SessionStatus::connected(),
         "group \"Remote session\"\n"
         "  heading \"Remote session\"\n"
         "  text \"Connected\" live\n"
         "  canvas \"Interactive remote desktop\" (Keyboard and pointer input are sent to the remote machine) "
         "focusable focused\n"
         "  button \"Disconnect\" #remote.session.disconnect focusable\n"},
        {"Office NAS", SessionStatus::failed("Connection refused"),
         "group \"Remote session\"\n"
         "  heading \"Office NAS\"\n"
         "  text \"Connection failed: Connection refused\" live\n"
         "  button \"Retry connection\" #remote.connection:<Office NAS>:connect focusable\n"
         "  button \"Back to list\" #remote.session.disconnect focusable\n"},
        {"Win", SessionStatus::unavailable("No RDP here."),
         "group \"Remote session\"\n"
         "  heading \"Win\"\n"
         "  text \"Not available: No RDP here.\" live\n"
         "  button \"Edit connection\" #remote.connection:<Win>:edit focusable\n"
         "  button \"Back to list\" #remote.session.disconnect focusable\n"},
        {"Build box", SessionStatus::ended(),
         "group \"Remote session\"\n"
         "  heading \"Build box\"\n"
         "  text \"Session ended\" live\n"
         "  button \"Back to list\" #remote.session.disconnect focusable\n"},
    };
    for (const auto& c : cases) {
        const Uuid id = c.connection ? id_of(c.connection) : Uuid::new_v4();
        app->screen = Screen::session(id);
        app->session.end();
        if (c.status) app->session.hold(id, LiveSession{LiveSession::Preview{*c.status}});
        EXPECT_EQ(text(), c.expected);
    }

    app->screen = Screen::session(id_of("Office NAS"));
    app->session.hold(id_of("Office NAS"), LiveSession{LiveSession::Preview{SessionStatus::connected()}});
    app->session.set_scale_to_fit(false);
    app->session.set_fullscreen(true);
    app->push_hit_region({1, 2, 3, 4}, UiCommand::plain(Cmd::ToggleScale));
    const AccessNode session = content();
    EXPECT_EQ(session.children.at(3).checked, zavo_ui::a11y::toggled(false));
    EXPECT_EQ(session.children.at(3).bounds, (zavo_ui::Rect{1, 2, 3, 4}));
    EXPECT_EQ(session.children.at(4).label, "Exit fullscreen");
}

// A screen-reader user reads the terminal's screen as its text, as of the output drained so far.
TEST_F(Accessibility, TheTerminalReadsAsItsScreen) {
    const Uuid id = id_of("Build box");
    auto [otx, orx] = make_bounded_channel<SshChunk>(kSshOutputCapacity);
    auto [itx, irx] = make_bounded_channel<SshInput>(kSshInputCapacity);
    app->session.hold(id, LiveSession{std::make_unique<SshSession>(
                              Terminal(80, 3), make_shared_cell(SessionStatus::connected()), std::move(orx),
                              std::move(itx), make_shared_cell<std::optional<HostKeyProblem>>(std::nullopt))});
    app->screen = Screen::session(id);
    const auto surface = [&] { return content().children.at(2); };
    EXPECT_EQ(surface().role, AccessRole::Terminal);
    EXPECT_EQ(surface().value, "\n\n");
    const std::string output = "$ echo hello world   \r\nhello world\r\n$ \x1b[1;31mls\x1b[0m";
    ASSERT_TRUE(otx.try_send(SshChunk(output.begin(), output.end())));
    EXPECT_EQ(surface().value, "\n\n");  // not drained yet
    app->session.poll();
    EXPECT_EQ(surface().value, "$ echo hello world\nhello world\n$ ls");
    EXPECT_EQ(surface().caret, surface().value->size()) << "the cursor after ls";
    const std::string left = "\x1b[2D";
    ASSERT_TRUE(otx.try_send(SshChunk(left.begin(), left.end())));
    app->session.poll();
    EXPECT_EQ(surface().caret, surface().value->size() - 2) << "the cursor on the l";
}

// The session card's host-key decision is reachable without a pointer.
TEST_F(Accessibility, AnSshHostKeyWaitingForADecisionCanBeTrustedOrForgotten) {
    const Uuid id = id_of("Build box");
    auto [otx, orx] = make_bounded_channel<SshChunk>(kSshOutputCapacity);
    auto [itx, irx] = make_bounded_channel<SshInput>(kSshInputCapacity);
    auto host_key = make_shared_cell<std::optional<HostKeyProblem>>(std::nullopt);
    app->session.hold(id, LiveSession{std::make_unique<SshSession>(Terminal(80, 24),
                                                                   make_shared_cell(SessionStatus::failed("unknown key")),
                                                                   std::move(orx), std::move(itx), host_key)});
    app->screen = Screen::session(id);
    const HostKeyIdentity presented{"ssh-ed25519", "SHA256:new"};
    const struct {
        std::optional<HostKeyProblem> problem;
        const char* button;  // between the status and Retry
        std::string element;
        std::optional<ConfirmationRequest::Kind> dialog;
    } cases[] = {
        {std::nullopt, nullptr, "", std::nullopt},
        {HostKeyUnknown{presented}, "Trust SSH host key", "trust-host-key", ConfirmationRequest::Kind::TrustHostKey},
        {HostKeyChanged{{"ssh-rsa", "SHA256:old"}, presented}, "Forget SSH host key", "forget-host-key",
         ConfirmationRequest::Kind::ForgetHostKey},
        {HostKeyStoreUnavailable{"no store"}, nullptr, "", std::nullopt},
    };
    for (const auto& c : cases) {
        host_key->set(c.problem);
        app->confirmation.reset();
        const AccessNode session = content();
        ASSERT_EQ(session.children.size(), c.button ? 5u : 4u);
        EXPECT_EQ(session.children[2].label, c.button ? c.button : "Retry connection");
        if (!c.button) continue;
        const std::string element = "remote.connection:" + id.to_string() + ":" + c.element;
        EXPECT_EQ(session.children[2].element_id, element);
        EXPECT_FALSE(activate(element, SemanticActionKind::Focus));
        EXPECT_TRUE(activate(element));
        ASSERT_TRUE(app->confirmation);
        EXPECT_EQ(app->confirmation->kind, *c.dialog);
    }
}

TEST_F(Accessibility, DialogsAreModalAndNoticesLive) {
    const Uuid id = id_of("Build box");
    const struct {
        ConfirmationRequest::Kind kind;
        Uuid id;
        const char* title;
        const char* body;
        const char* confirm;
    } cases[] = {
        {ConfirmationRequest::Kind::Connect, id, "Connect to Build box?",
         "The target and access are rechecked before a remote session opens.", "Connect"},
        {ConfirmationRequest::Kind::Delete, Uuid::new_v4(), "Delete this saved connection?",
         "This removes the shared saved profile, not the remote machine.", "Delete"},
        {ConfirmationRequest::Kind::TrustHostKey, id, "Trust SSH key for Build box?",
         "Verify ssh-ed25519 SHA256:abc out of band. This device-private trust is checked again before connecting.",
         "Trust key"},
        {ConfirmationRequest::Kind::ForgetHostKey, id, "Forget SSH key for Build box?",
         "Remove this device-private pin, then reconnect to inspect a replacement key before trusting it.",
         "Forget key"},
    };
    app->push_hit_region({5, 6, 7, 8}, UiCommand::plain(Cmd::Confirm));
    app->notice = Notice{"Action cancelled. No connection or profile was changed."};
    for (const auto& c : cases) {
        app->confirmation = ConfirmationRequest{c.kind, "key", {"ssh-ed25519", "SHA256:abc"}, c.id};
        const AccessNode root = tree();
        ASSERT_EQ(root.children.size(), 4u);
        EXPECT_EQ(text_of(root.children[2]),
                  fmt::format("dialog \"{}\" ({}) focusable modal @0,0,1280,800\n"
                              "  button \"Cancel\" #remote.confirmation.cancel focusable\n"
                              "  button \"{}\" #remote.confirmation.confirm focusable @5,6,7,8\n",
                              c.title, c.body, c.confirm));
        // The banner's title, which says what the notice is about, is its description.
        EXPECT_EQ(text_of(root.children[3]),
                  "text \"Action cancelled. No connection or profile was changed.\" (Action needs review) live\n");
        EXPECT_EQ(root.children[3].node_id, zavo_ui::a11y::node_id_for("remote.action.notice"));
    }
}

TEST_F(Accessibility, BoundsAreTheLastRegionDrawnForTheCommand) {
    const Uuid id = id_of("Office NAS");
    app->push_hit_region({0, 0, 100, 100}, UiCommand::with_id(Cmd::Select, id));
    app->push_hit_region({0, 0, 50, 50}, UiCommand::with_id(Cmd::Select, id_of("Win")));
    app->push_hit_region({0, 0, 10, 10}, UiCommand::with_id(Cmd::Select, id));
    app->push_hit_region({20, 20, 30, 30}, UiCommand::with_id(Cmd::ToggleFavorite, id));
    const AccessNode root = tree();
    EXPECT_EQ(by_element_id(root, "remote.connection:" + id.to_string() + ":select")->bounds,
              (zavo_ui::Rect{0, 0, 10, 10}));
    EXPECT_EQ(by_element_id(root, "remote.connection:" + id.to_string() + ":favorite")->bounds,
              (zavo_ui::Rect{20, 20, 30, 30}));
    EXPECT_EQ(by_element_id(root, "remote.connection:" + id.to_string() + ":edit")->bounds, std::nullopt);
}

// Every element the tree offers answers its default action, and every field takes a value.
TEST_F(Accessibility, EveryBoundElementOfEveryScreenIsAccepted) {
    const std::vector<std::function<void(RemoteApp&)>> screens = {
        [](RemoteApp&) {},
        [](RemoteApp& a) {
            a.narrow = true;
            a.nav_choice = true;
        },
        [](RemoteApp& a) { a.screen = Screen::new_form(); },
        [](RemoteApp& a) {
            a.screen = Screen::new_form();
            a.form.kind = ConnectionKind::Zavo;
        },
        [](RemoteApp& a) { a.screen = Screen::edit_form(a.connections[0].id); },
        [](RemoteApp& a) {
            a.screen = Screen::session(a.connections[1].id);
            a.session.hold(a.connections[1].id, LiveSession{LiveSession::Preview{SessionStatus::connected()}});
        },
        [](RemoteApp& a) {
            a.screen = Screen::session(a.connections[1].id);
            a.session.hold(a.connections[1].id, LiveSession{LiveSession::Preview{SessionStatus::failed("x")}});
        },
        [](RemoteApp& a) {
            a.screen = Screen::session(a.connections[2].id);
            a.session.hold(a.connections[2].id, LiveSession{LiveSession::Preview{SessionStatus::unavailable("x")}});
        },
        [](RemoteApp& a) { a.request_delete(a.connections[0].id); },
    };
    const std::vector<SavedConnection> list = app->connections;
    for (std::size_t s = 0; s < screens.size(); ++s) {
        make(list);
        screens[s](*app);
        const bool dialog = app->confirmation.has_value();
        std::size_t accepted = 0;
        for (const auto& binding : app->semantic_action_bindings()) {
            std::vector<SemanticAction> actions;
            if (!binding.actions.empty()) actions.push_back({binding.actions.front(), std::nullopt});
            if (binding.role == AccessRole::TextField) actions.push_back({SemanticActionKind::SetValue, "1"});
            for (const SemanticAction& action : actions) {
                make(list);
                screens[s](*app);
                zavo_ui::EventContext ctx;
                ctx.document = &doc;
                const bool ok = app->activate_element(binding.element_id, action, ctx);
                // Behind a dialog only the dialog's own buttons answer.
                EXPECT_EQ(ok, !dialog || binding.element_id.starts_with("remote.confirmation."))
                    << "screen " << s << ": " << binding.element_id << " kind " << int(action.kind);
                accepted += ok;
            }
        }
        EXPECT_GE(accepted, 2u) << "screen " << s;
    }
}

// What activations change: enough of the state to see that a refusal changed nothing.
struct Snapshot {
    Screen screen;
    std::optional<Uuid> selected;
    std::optional<InputSlot> focused;
    ConnectionForm form;
    std::string search_query;
    std::vector<SavedConnection> connections;
    std::optional<ConfirmationRequest> confirmation;
    std::optional<Notice> notice;
    std::optional<bool> nav_choice;
    bool scale_to_fit, fullscreen, redraw;
    double list_scroll;
    friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

Snapshot snapshot(const RemoteApp& a) {
    return {a.screen, a.selected,   a.focused,      a.form,       a.search_query,  a.connections, a.confirmation,
            a.notice, a.nav_choice, a.session.scale_to_fit(), a.session.fullscreen(), a.redraw_needed, a.list_scroll};
}

TEST_F(Accessibility, UnknownIdsAndWrongKindsAreRefusedAndChangeNothing) {
    using K = SemanticActionKind;
    const std::string box = "remote.connection:" + id_of("Build box").to_string();
    const struct {
        std::string id;
        K kind;
    } refused[] = {
        {"remote.nav.list", K::Focus},
        {"remote.nav.list", K::Toggle},
        {"remote.session.fullscreen", K::Toggle},
        {"remote.session.scale", K::Focus},
        {"remote.form.save", K::SetValue},
        {"remote.confirmation.confirm", K::Activate},  // no dialog open
        {"remote.nav", K::Activate},
        {"Remote.nav.list", K::Activate},
        {"remote.nav.list ", K::Activate},
        {"remote.field:Search", K::Focus},
        {"remote.field:password", K::SetValue},
        {"remote.field:port", K::Toggle},
        {"remote.field:name", K::ScrollIntoView},
        {"remote.kind:VNC", K::Focus},
        {"remote.auth:public-key", K::Focus},
        {"remote.device:", K::Activate},
        {"remote.device:+", K::Activate},
        {"remote.device:-1", K::Activate},
        {"remote.device:1x", K::Activate},
        {"remote.device: 1", K::Activate},
        {"remote.device:18446744073709551616", K::Activate},
        {"remote.device:0", K::Toggle},
        {"remote.connection:" + id_of("Build box").to_string(), K::Activate},
        {"remote.connection:not-a-uuid:select", K::Activate},
        {"remote.connection::select", K::Activate},
        {box + ":open", K::Activate},
        {box + ":Select", K::Activate},
        {box + ":select", K::Toggle},
        {box + ":favorite", K::Focus},
        {box + ":edit", K::Focus},
        {box + ":connect", K::Toggle},
        {box + ":delete", K::ScrollIntoView},
        {box + ":connect:", K::Activate},
        {"remote.connection:" + Uuid::new_v4().to_string() + ":select", K::ScrollIntoView},  // not in the list
        {"remote.list", K::Activate},
        {"remote.action.notice", K::Activate},
        {"", K::Activate},
    };
    app->screen = Screen::new_form();
    app->form.kind = ConnectionKind::Vnc;
    for (const auto& r : refused) {
        for (K kind : {r.kind, K::Expand, K::Collapse, K::Increment, K::Decrement, K::ShowMenu}) {
            app->redraw_needed = false;
            const Snapshot before = snapshot(*app);
            EXPECT_FALSE(activate(r.id, kind, "x")) << r.id << " kind " << int(kind);
            EXPECT_TRUE(snapshot(*app) == before) << r.id << " kind " << int(kind);
        }
    }
}

TEST_F(Accessibility, AuthenticationTheFormKindDoesNotAllowIsRefused) {
    app->screen = Screen::new_form();
    app->form.kind = ConnectionKind::Vnc;
    EXPECT_FALSE(activate("remote.auth:public-key"));
    EXPECT_FALSE(activate("remote.auth:device-identity", SemanticActionKind::Toggle));
    EXPECT_EQ(app->form.auth, AuthKind::Password);
    app->form.kind = ConnectionKind::Ssh;
    EXPECT_TRUE(activate("remote.auth:public-key", SemanticActionKind::Toggle));
    EXPECT_EQ(app->form.auth, AuthKind::PublicKey);
    EXPECT_TRUE(activate("remote.auth:anything"));  // any other text means password
    EXPECT_EQ(app->form.auth, AuthKind::Password);
}

TEST_F(Accessibility, KindIdsParseTheStoredNameCaseSensitively) {
    app->screen = Screen::new_form();
    const struct {
        const char* suffix;
        ConnectionKind kind;
    } cases[] = {
        {"VNC", ConnectionKind::Vnc}, {"RDP", ConnectionKind::Rdp}, {"Zavo", ConnectionKind::Zavo},
        {"rdp", ConnectionKind::Ssh}, {"vnc", ConnectionKind::Ssh}, {"", ConnectionKind::Ssh},
    };
    for (const auto& c : cases) {
        app->form.kind = ConnectionKind::Zavo == c.kind ? ConnectionKind::Ssh : ConnectionKind::Zavo;
        EXPECT_TRUE(activate(std::string("remote.kind:") + c.suffix)) << c.suffix;
        EXPECT_EQ(app->form.kind, c.kind) << c.suffix;
    }
    EXPECT_TRUE(activate("remote.kind:RDP", SemanticActionKind::Toggle));
    EXPECT_EQ(app->form.kind, ConnectionKind::Rdp);
}

TEST_F(Accessibility, SetValueWritesTheFieldAndFocusesIt) {
    app->screen = Screen::new_form();
    const struct {
        const char* field;
        InputSlot slot;
        const char* typed;
        const char* stored;
    } cases[] = {
        {"port", InputSlot::Port, "22a2", "222"},
        {"port", InputSlot::Port, "a", ""},
        {"name", InputSlot::Name, " Zürich box ", " Zürich box "},
        {"host", InputSlot::Host, "10.1.2.3", "10.1.2.3"},
        {"user", InputSlot::User, "ops", "ops"},
        {"group", InputSlot::Group, "lab", "lab"},
    };
    for (const auto& c : cases) {
        app->redraw_needed = false;
        EXPECT_TRUE(activate(std::string("remote.field:") + c.field, SemanticActionKind::SetValue, c.typed));
        EXPECT_EQ(app->focused, c.slot) << c.field;
        EXPECT_EQ(app->input_mut(c.slot).text(), c.stored) << c.field;
        EXPECT_TRUE(app->input_mut(c.slot).focused) << c.field;
        EXPECT_TRUE(app->redraw_needed);
        const AccessNode root = tree();
        const AccessNode* node = by_element_id(root, std::string("remote.field:") + c.field);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->value, c.stored);
        EXPECT_TRUE(node->focused);
    }
    EXPECT_EQ(app->form.port, "");
    EXPECT_EQ(app->form.name, " Zürich box ");
    EXPECT_EQ(app->form.host, "10.1.2.3");
    EXPECT_EQ(app->form.user, "ops");
    EXPECT_EQ(app->form.group, "lab");
    // Leaving the port for another field marks it touched, as leaving it by keyboard does.
    EXPECT_TRUE(app->touched.port);

    EXPECT_TRUE(activate("remote.field:host", SemanticActionKind::Focus));
    EXPECT_EQ(app->focused, InputSlot::Host);
    EXPECT_TRUE(activate("remote.field:search", SemanticActionKind::Activate));
    EXPECT_EQ(app->focused, InputSlot::Search);
}

TEST_F(Accessibility, SearchingSelectsTheFirstMatchAndScrollsToTheTop) {
    app->list_scroll = 120;
    EXPECT_TRUE(activate("remote.field:search", SemanticActionKind::SetValue, "NAS"));
    EXPECT_EQ(app->search_query, "NAS");
    EXPECT_EQ(app->selected, id_of("Office NAS"));
    EXPECT_EQ(app->list_scroll, 0.0);
    EXPECT_EQ(content().children.at(3).children.size(), 1u);

    EXPECT_TRUE(activate("remote.field:search", SemanticActionKind::SetValue, "nothing"));
    EXPECT_EQ(app->selected, std::nullopt);
}

TEST_F(Accessibility, ScrollIntoViewSelectsAVisibleRowAndScrollsToIt) {
    std::vector<SavedConnection> many;
    for (int i = 0; i < 40; ++i)
        many.push_back(connection(fmt::format("host {:02}", i), ConnectionKind::Ssh, "h", 22, AuthKind::Password));
    make(std::move(many));
    const auto rows = visible_connections(app->connections, "");
    const std::string last = "remote.connection:" + rows.back()->id.to_string() + ":select";
    EXPECT_TRUE(activate(last, SemanticActionKind::ScrollIntoView));
    EXPECT_EQ(app->selected, rows.back()->id);
    // 40 wide rows of 72 with 8 between, in a viewport of 800 - 124: the last row ends at its bottom.
    EXPECT_DOUBLE_EQ(app->list_scroll, 40 * 80 - 8 - 676);
    EXPECT_DOUBLE_EQ(app->list_scroll_max, app->list_scroll);

    EXPECT_TRUE(
        activate("remote.connection:" + rows[3]->id.to_string() + ":select", SemanticActionKind::ScrollIntoView));
    EXPECT_DOUBLE_EQ(app->list_scroll, 3 * 80);

    app->search_query = "host 1";
    const Snapshot before = snapshot(*app);
    EXPECT_FALSE(
        activate("remote.connection:" + rows[3]->id.to_string() + ":select", SemanticActionKind::ScrollIntoView));
    EXPECT_TRUE(snapshot(*app) == before) << "a row the search hides is not scrolled to";
}

TEST_F(Accessibility, ConnectionIdsRunTheirCommands) {
    const Uuid box = id_of("Build box"), win = id_of("Win");
    const std::string b = "remote.connection:" + box.to_string();
    EXPECT_TRUE(activate("remote.connection:" + win.to_string() + ":select", SemanticActionKind::Focus));
    EXPECT_EQ(app->selected, win);
    // UUID forms other than the hyphenated one name the same connection.
    std::string simple = box.to_string();
    std::erase(simple, '-');
    EXPECT_TRUE(activate("remote.connection:urn:uuid:" + box.to_string() + ":select"));
    EXPECT_EQ(app->selected, box);

    EXPECT_TRUE(activate("remote.connection:" + simple + ":favorite", SemanticActionKind::Toggle));
    EXPECT_FALSE(find_connection(app->connections, box)->favorite);

    EXPECT_TRUE(activate(b + ":connect"));
    ASSERT_TRUE(app->confirmation);
    EXPECT_EQ(app->confirmation->kind, ConfirmationRequest::Kind::Connect);
    EXPECT_TRUE(activate("remote.confirmation.cancel"));
    EXPECT_FALSE(app->confirmation);
    EXPECT_EQ(app->notice, Notice{"Action cancelled. No connection or profile was changed."});

    EXPECT_TRUE(activate(b + ":edit"));
    EXPECT_EQ(app->screen, Screen::edit_form(box));
    EXPECT_EQ(app->form.name, "Build box");
    EXPECT_TRUE(activate(b + ":delete"));
    ASSERT_TRUE(app->confirmation);
    EXPECT_EQ(app->confirmation->kind, ConfirmationRequest::Kind::Delete);
    EXPECT_TRUE(activate("remote.confirmation.confirm"));
    EXPECT_EQ(find_connection(app->connections, box), nullptr);
    EXPECT_EQ(load_connections(doc).size(), 2u) << "the deletion reached the document";
    EXPECT_EQ(app->screen, Screen::list());

    // A connection id that does not exist is accepted; the command finds nothing to do.
    EXPECT_TRUE(activate("remote.connection:" + Uuid::new_v4().to_string() + ":edit"));
    EXPECT_EQ(app->screen, Screen::list());
}

TEST_F(Accessibility, WhileADialogIsOpenOnlyItsButtonsAnswer) {
    EXPECT_TRUE(activate("remote.connection:" + id_of("Office NAS").to_string() + ":delete"));
    ASSERT_TRUE(app->confirmation);
    for (const char* id : {"remote.nav.list", "remote.connection.new", "remote.field:search", "remote.kind:VNC"}) {
        const Snapshot before = snapshot(*app);
        EXPECT_FALSE(activate(id)) << id;
        EXPECT_TRUE(snapshot(*app) == before) << id;
    }
    EXPECT_FALSE(activate("remote.field:search", SemanticActionKind::SetValue, "x"));
    EXPECT_FALSE(activate("remote.confirmation.confirm", SemanticActionKind::Focus));
    EXPECT_FALSE(activate("remote.confirmation.cancel", SemanticActionKind::Toggle));
    ASSERT_TRUE(app->confirmation);
    EXPECT_TRUE(activate("remote.confirmation.confirm"));
    EXPECT_EQ(app->connections.size(), 2u);
}

TEST_F(Accessibility, FixedIdsRunTheirCommands) {
    EXPECT_TRUE(activate("remote.connection.new"));
    EXPECT_EQ(app->screen, Screen::new_form());
    EXPECT_EQ(app->focused, InputSlot::Name);
    EXPECT_TRUE(activate("remote.device:+1"));
    EXPECT_EQ(app->form.host, kDevice1);
    EXPECT_EQ(app->form.name, "Garage Pi");
    EXPECT_TRUE(activate("remote.device:007", SemanticActionKind::Focus));  // past the end: nothing to do
    EXPECT_EQ(app->form.name, "Garage Pi");
    EXPECT_TRUE(activate("remote.field:name", SemanticActionKind::SetValue, "Pi"));
    EXPECT_TRUE(activate("remote.form.save"));
    EXPECT_EQ(app->screen, Screen::list());
    ASSERT_EQ(load_connections(doc).size(), 4u);
    EXPECT_EQ(find_connection(app->connections, *app->selected)->name, "Pi");

    EXPECT_TRUE(activate("remote.connection.new"));
    EXPECT_TRUE(activate("remote.form.cancel"));
    EXPECT_EQ(app->screen, Screen::list());

    EXPECT_TRUE(activate("remote.nav.toggle"));
    EXPECT_EQ(app->nav_choice, false);
    EXPECT_TRUE(activate("remote.nav.list"));
    EXPECT_TRUE(activate("remote.session.scale", SemanticActionKind::Toggle));
    EXPECT_FALSE(app->session.scale_to_fit());
    EXPECT_TRUE(activate("remote.session.scale"));
    EXPECT_TRUE(app->session.scale_to_fit());
    EXPECT_TRUE(activate("remote.session.fullscreen"));
    EXPECT_TRUE(app->session.fullscreen());

    app->screen = Screen::session(id_of("Win"));
    EXPECT_TRUE(activate("remote.session.disconnect"));
    EXPECT_EQ(app->screen, Screen::list());
}

TEST_F(Accessibility, ActivationWithoutADocumentStillRunsTheCommand) {
    zavo_ui::EventContext ctx;  // no document
    EXPECT_TRUE(app->activate_element("remote.connection.new", SemanticAction{}, ctx));
    EXPECT_EQ(app->screen, Screen::new_form());
}

}  // namespace
