// RemoteApp::handle_event: hit regions, hover, the wheel, buttons and keys per session kind.
#include <gtest/gtest.h>

#include "doc/profile_document.hpp"
#include "profiles/connection_list.hpp"
#include "support/env.hpp"
#include "support/saved_connection.hpp"
#include "tests/views/key_events.hpp"
#include "views/keys.hpp"
#include "tests/views/session_harness.hpp"

using namespace remote;
using namespace views_test;
using K = UiCommand::Kind;
using ev::KeyCode;
using ev::NamedKey;

namespace {

class Input : public ::testing::Test {
protected:
    void SetUp() override {
        env.set("REMOTE_LIVE_SESSIONS", nullptr);
        app = RemoteApp::with_sample_data();
        app->sync_document(doc);
        app->window_bounds = {0, 0, 1280, 800};
    }

    // Handles one event; whether it was consumed.
    bool send(const ev::Event& event, ev::Modifiers modifiers = NONE, double scale = 1.0) {
        zavo_ui::EventContext ctx;
        ctx.document = &doc;
        ctx.now = now;
        bool handled = false;
        app->handle_event(event, modifiers, ctx, handled, scale);
        return handled;
    }
    bool move_to(double x, double y) { return send(ev::PointerMoved{x, y}); }
    bool press(ev::PointerButton b = ev::PointerButton::Primary) {
        return send(ev::Button{b, ev::ElementState::Pressed});
    }
    bool release(ev::PointerButton b = ev::PointerButton::Primary) {
        return send(ev::Button{b, ev::ElementState::Released});
    }
    bool click(double x, double y) {
        move_to(x, y);
        return press();
    }

    Uuid id_of(std::string_view name) const { return test_support::id_named(app->connections, name); }
    std::string selected_name() const {
        const SavedConnection* c = app->selected ? find_connection(app->connections, *app->selected) : nullptr;
        return c ? c->name : "<none>";
    }
    // Shows the session screen of the first connection of `kind`, with its picture at
    // (100, 100)-(740, 580) as a paint of that screen leaves it.
    void on_session_screen(ConnectionKind kind) {
        const auto id = app->first_connection_of_kind(kind);
        ASSERT_TRUE(id);
        app->screen = Screen::session(*id);
        const zavo_ui::Rect picture{100, 100, 740, 580};
        app->session.set_surface_rect(picture);
        app->push_hit_region(picture, HitRegion::Role::Picture);
    }
    // One frame painted with the deterministic text renderer: the hit regions input then finds.
    void paint() {
        zavo_ui::Scene scene;
        zavo_ui::text_render::FakeTextRenderer text;
        const zavo_ui::theme::Theme theme = zavo_ui::theme::Theme::dark();
        zavo_ui::DrawContext draw;
        app->paint(scene, zavo_ui::Affine::identity(), text, theme, draw);
    }
    zavo_ui::Point middle_of(const UiCommand& command) const {
        const auto rect = app->hit_region_rect(command);
        EXPECT_TRUE(rect) << int(command.kind);
        return rect ? rect->center() : zavo_ui::Point{-1, -1};
    }

    test_support::EnvGuard env;
    ProfileDocument doc;
    std::unique_ptr<RemoteApp> app;
    zavo_ui::Instant now = std::chrono::steady_clock::now();
};

TEST_F(Input, ClicksRunTheRegionDrawnLastAndHoverShowsItsTooltip) {
    const Uuid build = id_of("Build Box");
    app->push_hit_region({0, 0, 400, 100}, UiCommand::with_id(K::Select, build));
    app->push_hit_region({300, 0, 400, 100}, UiCommand::plain(K::NewConnectionForm));
    app->push_hit_region({0, 200, 400, 300}, UiCommand::with_id(K::ToggleFavorite, build));
    app->push_hit_region({350, 200, 400, 300}, UiCommand::with_id(K::Select, build));

    // The hover target follows the topmost region; logical pixels are physical / scale.
    send(ev::PointerMoved{620, 100}, NONE, 2.0);
    EXPECT_EQ(app->pointer, (zavo_ui::Point{310, 50}));
    ASSERT_TRUE(app->tooltip.target());
    EXPECT_EQ(app->tooltip.target()->text, "Add connection (Ctrl+N)");
    EXPECT_EQ(app->tooltip.target()->anchor, (zavo_ui::Rect{300, 0, 400, 100}));
    move_to(10, 250);
    EXPECT_EQ(app->tooltip.target()->text,
              find_connection(app->connections, build)->favorite ? "Remove from favourites" : "Add to favourites");
    // A region without a tooltip on top hides the favourite star below it.
    move_to(360, 250);
    EXPECT_FALSE(app->tooltip.target());
    // A favourite whose connection vanished has no tooltip.
    app->push_hit_region({0, 400, 100, 500}, UiCommand::with_id(K::ToggleFavorite, Uuid::new_v4()));
    EXPECT_FALSE(move_to(10, 450));
    EXPECT_FALSE(app->tooltip.target());

    // Pointer moves are never consumed; the click on the overlap runs the command drawn last.
    move_to(350, 50);
    app->redraw_needed = false;
    EXPECT_TRUE(press());
    EXPECT_EQ(app->screen, Screen::new_form());
    EXPECT_TRUE(app->needs_redraw());
    // Releases and other buttons pass through; a press on nothing blurs the focused input.
    EXPECT_FALSE(release());
    EXPECT_FALSE(press(ev::PointerButton::Secondary));
    EXPECT_EQ(app->focused, InputSlot::Name);
    EXPECT_FALSE(click(900, 700));
    EXPECT_EQ(app->focused, std::nullopt);
}

TEST_F(Input, TooltipTextsForNavigation) {
    app->push_hit_region({0, 0, 50, 50}, UiCommand::plain(K::ToggleNavigation));
    app->push_hit_region({0, 100, 50, 150}, UiCommand::plain(K::ShowConnections));
    struct Case {
        bool narrow;
        std::optional<bool> choice;
        const char* text;
    } cases[] = {
        {false, std::nullopt, "Close navigation"},
        {true, std::nullopt, "Open navigation"},
        {true, true, "Close navigation"},
        {false, false, "Open navigation"},
    };
    for (const auto& c : cases) {
        app->narrow = c.narrow;
        app->nav_choice = c.choice;
        move_to(500, 500);
        EXPECT_FALSE(app->tooltip.target());
        move_to(10, 10);
        ASSERT_TRUE(app->tooltip.target());
        EXPECT_EQ(app->tooltip.target()->text, c.text) << c.narrow;
    }
    move_to(10, 120);
    EXPECT_EQ(app->tooltip.target()->text, "Connections");
    // Any other event hides the tooltip.
    now += std::chrono::seconds(1);
    EXPECT_TRUE(app->tooltip.tick(now));
    send(ev::PointerLeft{});
    EXPECT_FALSE(app->tooltip.shown());
}

TEST_F(Input, ADialogSwallowsClicksAndTakesEnterAndEscape) {
    VncHarness vnc(*app);
    on_session_screen(ConnectionKind::Vnc);
    vnc.publish(640, 480);
    app->request_connect(id_of("Studio Node"));
    ASSERT_TRUE(app->confirmation);
    app->push_hit_region({0, 0, 1280, 800}, UiCommand::plain(K::NewConnectionForm));
    app->push_hit_region({10, 10, 50, 50}, UiCommand::plain(K::CancelConfirmation));

    // Motion and clicks reach no remote session while the dialog is open.
    move_to(300, 300);
    EXPECT_TRUE(press());
    EXPECT_TRUE(vnc.sent().empty());
    EXPECT_EQ(app->session.vnc_buttons(), 0);
    EXPECT_EQ(app->screen.kind, Screen::Kind::Session);  // the region below was not run
    EXPECT_TRUE(app->confirmation);
    EXPECT_FALSE(send(ev::Wheel{ev::LineDelta{0, -1}}));
    EXPECT_FALSE(send(ev::character_key("x")));
    EXPECT_TRUE(click(20, 20));
    EXPECT_FALSE(app->confirmation);
    EXPECT_EQ(app->notice, Notice{"Action cancelled. No connection or profile was changed."});

    app->request_connect(id_of("Studio Node"));
    EXPECT_TRUE(send(escape()));
    EXPECT_FALSE(app->confirmation);
    // Enter confirms: here the connection changed meanwhile, which Confirm reports.
    app->request_connect(id_of("Studio Node"));
    find_connection(app->connections, id_of("Studio Node"))->port = 1;
    EXPECT_TRUE(send(ev::named_key(NamedKey::Enter)));
    EXPECT_FALSE(app->confirmation);
    EXPECT_EQ(
        app->notice,
        Notice{"This connection changed while confirmation was open. Review the current profile, then try again."});
}

TEST_F(Input, NarrowNavigationClosesOnAClickBesideIt) {
    app->narrow = true;
    app->nav_choice = true;
    app->push_hit_region({0, 0, 1280, 800}, UiCommand::plain(K::NewConnectionForm));
    EXPECT_TRUE(click(64, 400));
    EXPECT_EQ(app->nav_choice, false);
    EXPECT_EQ(app->screen, Screen::list());
    // Inside the strip the click goes on to the regions.
    app->nav_choice = true;
    EXPECT_TRUE(click(63, 400));
    EXPECT_EQ(app->screen, Screen::new_form());
}

TEST_F(Input, WheelScrollsTheListWithinItsRange) {
    app->list_scroll = 30;
    app->list_scroll_max = 500;
    EXPECT_TRUE(send(ev::Wheel{ev::LineDelta{0, -2}}));
    EXPECT_EQ(app->list_scroll, 126);
    EXPECT_TRUE(send(ev::Wheel{ev::PixelDelta{0, -200}}, NONE, 2.0));
    EXPECT_EQ(app->list_scroll, 226);
    EXPECT_TRUE(send(ev::Wheel{ev::LineDelta{0, -100}}));
    EXPECT_EQ(app->list_scroll, 500);
    EXPECT_TRUE(send(ev::Wheel{ev::LineDelta{0, 20}}));
    EXPECT_EQ(app->list_scroll, 0);
    // At the top a further step is consumed and changes nothing.
    app->redraw_needed = false;
    EXPECT_TRUE(send(ev::Wheel{ev::LineDelta{0, 1}}));
    EXPECT_EQ(app->list_scroll, 0);
    EXPECT_FALSE(app->needs_redraw());
    // The form scrolls within its own range; the session screen takes no wheel.
    app->execute(UiCommand::plain(K::NewConnectionForm), doc);
    app->form_scroll_max = 100;
    EXPECT_TRUE(send(ev::Wheel{ev::LineDelta{0, -1}}));
    EXPECT_EQ(app->form_scroll, 48);
    EXPECT_EQ(app->list_scroll, 0);
    app->screen = Screen::session(id_of("Build Box"));
    EXPECT_FALSE(send(ev::Wheel{ev::LineDelta{0, -1}}));
}

TEST_F(Input, ArrowsWalkTheVisibleRows) {
    const auto rows = visible_connections(app->connections, "");
    ASSERT_GE(rows.size(), 3u);
    app->selected.reset();
    EXPECT_TRUE(send(ev::named_key(NamedKey::ArrowDown)));
    EXPECT_EQ(app->selected, rows[1]->id);
    app->selected.reset();
    EXPECT_TRUE(send(ev::named_key(NamedKey::ArrowUp)));
    EXPECT_EQ(app->selected, rows[0]->id);
    EXPECT_TRUE(send(ev::named_key(NamedKey::ArrowUp)));
    EXPECT_EQ(app->selected, rows[0]->id);
    app->selected = rows.back()->id;
    EXPECT_TRUE(send(ev::named_key(NamedKey::ArrowDown)));
    EXPECT_EQ(app->selected, rows.back()->id);

    // A search with one match: Down selects it.
    app->search_query = "build";
    const auto matches = visible_connections(app->connections, app->search_query);
    ASSERT_EQ(matches.size(), 1u);
    app->selected.reset();
    EXPECT_TRUE(send(ev::named_key(NamedKey::ArrowDown)));
    EXPECT_EQ(app->selected, matches[0]->id);
    // No match: consumed, the selection stays.
    app->search_query = "no such connection";
    EXPECT_TRUE(send(ev::named_key(NamedKey::ArrowDown)));
    EXPECT_EQ(app->selected, matches[0]->id);

    // With the search field focused the arrows go to the field.
    app->search_query.clear();
    app->focus_input(InputSlot::Search);
    send(ev::named_key(NamedKey::ArrowDown));
    EXPECT_EQ(app->selected, matches[0]->id);
}

TEST_F(Input, TabWalksTheFormInputsOfItsKind) {
    app->execute(UiCommand::plain(K::NewConnectionForm), doc);
    app->execute(UiCommand::set_kind(ConnectionKind::Zavo), doc);
    std::vector<InputSlot> seen;
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(send(ev::named_key(NamedKey::Tab)));
        seen.push_back(*app->focused);
    }
    EXPECT_EQ(seen, (std::vector<InputSlot>{InputSlot::Host, InputSlot::Name, InputSlot::Host}));

    app->execute(UiCommand::set_kind(ConnectionKind::Vnc), doc);
    app->focus_input(InputSlot::User);  // not in the VNC order: the second entry follows
    send(ev::named_key(NamedKey::Tab), ev::Modifiers{ev::Modifiers::SHIFT});
    EXPECT_EQ(app->focused, InputSlot::Host);
    app->focus_input(InputSlot::Group);
    send(ev::named_key(NamedKey::Tab));
    EXPECT_EQ(app->focused, InputSlot::Name);
    app->blur_input();
    send(ev::named_key(NamedKey::Tab));
    EXPECT_EQ(app->focused, InputSlot::Name);
}

TEST_F(Input, ListKeysSlashEnterAndEscape) {
    app->selected = id_of("Studio Node");
    EXPECT_TRUE(send(ev::character_key("/")));
    EXPECT_EQ(app->focused, InputSlot::Search);
    // Typing goes to the field; Escape empties the search and leaves the field.
    EXPECT_TRUE(send(ev::TextCommit{"bu"}));
    EXPECT_EQ(app->search_query, "bu");
    EXPECT_TRUE(send(ev::character_key("i")));
    EXPECT_EQ(app->search_query, "bui");
    EXPECT_TRUE(send(escape()));
    EXPECT_EQ(app->search_query, "");
    EXPECT_EQ(app->focused, std::nullopt);
    // Enter asks to connect the selection.
    EXPECT_TRUE(send(ev::named_key(NamedKey::Enter)));
    ASSERT_TRUE(app->confirmation);
    EXPECT_EQ(app->confirmation->id, id_of("Studio Node"));
    // Releases are not consumed.
    EXPECT_FALSE(send(ev::Key{NamedKey::Enter, std::nullopt, std::nullopt, ev::ElementState::Released}));
}

TEST_F(Input, ShortcutsWithControlOrSuper) {
    EXPECT_TRUE(send(ev::character_key("N"), SUPER));
    EXPECT_EQ(app->screen, Screen::new_form());
    EXPECT_EQ(app->focused, InputSlot::Name);
    EXPECT_TRUE(send(ev::character_key("f"), CONTROL));
    EXPECT_EQ(app->screen, Screen::list());
    EXPECT_EQ(app->focused, InputSlot::Search);
    // Control+W off the session screen is no shortcut: it goes to the focused field.
    send(ev::character_key("w"), CONTROL);
    EXPECT_EQ(app->screen, Screen::list());
    // On a form, Escape cancels and Enter saves.
    app->execute(UiCommand::plain(K::NewConnectionForm), doc);
    EXPECT_TRUE(send(escape()));
    EXPECT_EQ(app->screen, Screen::list());
    app->execute(UiCommand::plain(K::NewConnectionForm), doc);
    EXPECT_TRUE(send(ev::named_key(NamedKey::Enter)));
    EXPECT_TRUE(app->touched.show_all);  // an empty form shows its problems
}

TEST_F(Input, ConnectedSshSessionGetsBytesExceptShortcuts) {
    SshHarness ssh(*app);
    on_session_screen(ConnectionKind::Ssh);
    EXPECT_TRUE(send(ev::character_key("c"), CONTROL));
    EXPECT_TRUE(send(ev::character_key("l")));
    EXPECT_TRUE(send(ev::named_key(NamedKey::Enter)));
    EXPECT_TRUE(send(escape()));
    EXPECT_TRUE(send(ev::named_key(NamedKey::ArrowUp)));
    // A held key repeats as fresh presses.
    EXPECT_TRUE(send(ev::character_key("l")));
    EXPECT_FALSE(send(ev::named_key(NamedKey::Shift)));  // nothing to send
    EXPECT_EQ(ssh.sent(), (std::vector<std::string>{"\x03", "l", "\r", "\x1b", "\x1b[A", "l"}));
    EXPECT_EQ(app->screen.kind, Screen::Kind::Session);

    // The cursor keys follow the mode the remote program set in the terminal.
    ssh.write("\x1b[?1h\x1b=");
    app->session.poll();
    send(ev::named_key(NamedKey::ArrowUp));
    send(key_event(KeyCode::NumpadAdd, ev::CharacterKey{"+"}, "+"));
    ssh.write("\x1b[?1l\x1b>");
    app->session.poll();
    send(ev::named_key(NamedKey::ArrowUp));
    EXPECT_EQ(ssh.sent(), (std::vector<std::string>{"\x1bOA", "\x1bOk", "\x1b[A"}));

    // Escape in fullscreen leaves fullscreen and sends nothing.
    app->session.set_fullscreen(true);
    EXPECT_TRUE(send(escape()));
    EXPECT_FALSE(app->session.fullscreen());
    EXPECT_TRUE(ssh.sent().empty());

    // The application's shortcuts take Control+Shift here: Control alone, or Super, reaches the
    // shell (bash deletes a word on Control+W).
    EXPECT_TRUE(send(ev::character_key("w"), CONTROL));
    EXPECT_TRUE(send(ev::character_key("n"), CONTROL));
    EXPECT_TRUE(send(ev::character_key("f"), CONTROL));
    EXPECT_TRUE(send(ev::character_key("n"), SUPER));
    EXPECT_EQ(ssh.sent(), (std::vector<std::string>{"\x17", "\x0e", "\x06", "n"}));
    EXPECT_EQ(app->screen.kind, Screen::Kind::Session);
    EXPECT_TRUE(app->session.active());

    struct Case {
        const char* key;
        Screen::Kind shows;
        std::optional<InputSlot> focused;
    } cases[] = {
        {"N", Screen::Kind::NewForm, InputSlot::Name},
        {"F", Screen::Kind::List, InputSlot::Search},
        {"W", Screen::Kind::List, std::nullopt},
    };
    for (const auto& c : cases) {
        on_session_screen(ConnectionKind::Ssh);
        app->blur_input();
        EXPECT_TRUE(send(ev::character_key(c.key), CONTROL_SHIFT)) << c.key;
        EXPECT_EQ(app->screen.kind, c.shows) << c.key;
        EXPECT_EQ(app->focused, c.focused) << c.key;
        EXPECT_TRUE(ssh.sent().empty()) << c.key;
    }
    EXPECT_FALSE(app->session.active()) << "Control+Shift+W disconnected";
}

TEST_F(Input, ShortcutsWhereNoSessionHasTheKeyboard) {
    // A session that is not connected shows a card: the shortcuts are as on the other screens.
    SshHarness ssh(*app);
    ssh.status->set(SessionStatus::failed("refused"));
    on_session_screen(ConnectionKind::Ssh);
    app->push_hit_region({0, 0, 50, 50}, UiCommand::plain(K::NewConnectionForm));
    move_to(10, 10);
    EXPECT_EQ(app->tooltip.target()->text, "Add connection (Ctrl+N)");
    EXPECT_TRUE(send(ev::character_key("w"), CONTROL));
    EXPECT_FALSE(app->session.active());
    EXPECT_TRUE(ssh.sent().empty());

    // Connected, the tooltip names the shortcut that works there.
    SshHarness live(*app);
    on_session_screen(ConnectionKind::Ssh);
    move_to(20, 20);
    EXPECT_EQ(app->tooltip.target()->text, "Add connection (Ctrl+Shift+N)");
    app->screen = Screen::list();
    move_to(10, 10);
    EXPECT_EQ(app->tooltip.target()->text, "Add connection (Ctrl+N)");
    EXPECT_TRUE(send(ev::character_key("N"), CONTROL_SHIFT)) << "Shift changes nothing off the session screen";
    EXPECT_EQ(app->screen, Screen::new_form());
}

TEST_F(Input, SshKeysReachTheShellOnlyWhileConnectedOnTheSessionScreen) {
    SshHarness ssh(*app);
    on_session_screen(ConnectionKind::Ssh);
    ssh.status->set(SessionStatus::connecting());
    send(ev::character_key("x"));
    ssh.status->set(SessionStatus::connected());
    app->screen = Screen::list();
    send(ev::character_key("y"));
    EXPECT_TRUE(ssh.sent().empty());
    // Escape on the session screen of a connected session both sends and, after that, nothing else.
    on_session_screen(ConnectionKind::Ssh);
    send(escape());
    EXPECT_EQ(ssh.sent(), std::vector<std::string>{"\x1b"});
    EXPECT_EQ(app->screen.kind, Screen::Kind::Session);
}

TEST_F(Input, EscapeInFullscreenWithTheNarrowNavigationOpen) {
    SshHarness ssh(*app);
    on_session_screen(ConnectionKind::Ssh);
    app->session.set_fullscreen(true);
    app->narrow = true;
    app->nav_choice = true;
    EXPECT_TRUE(send(escape()));
    EXPECT_EQ(app->nav_choice, false);
    EXPECT_TRUE(app->session.fullscreen());
    EXPECT_TRUE(send(escape()));
    EXPECT_FALSE(app->session.fullscreen());
    EXPECT_TRUE(ssh.sent().empty());
    // Not fullscreen: Escape reaches the shell.
    send(escape());
    EXPECT_EQ(ssh.sent(), std::vector<std::string>{"\x1b"});
}

TEST_F(Input, VncKeysAndButtons) {
    VncHarness vnc(*app);
    on_session_screen(ConnectionKind::Vnc);
    vnc.publish(640, 480);
    using rfb::VncInput;

    // Keys go down and up as they are pressed and released, Control as a key of its own.
    const ev::Key control = key_event(KeyCode::ControlLeft, NamedKey::Control, std::nullopt);
    const auto up = [](ev::Key key) {
        key.state = ev::ElementState::Released;
        return key;
    };
    EXPECT_TRUE(send(control, CONTROL));
    EXPECT_TRUE(send(key_event(KeyCode::KeyC, ev::CharacterKey{"c"}, std::nullopt), CONTROL));
    EXPECT_TRUE(send(up(key_event(KeyCode::KeyC, ev::CharacterKey{"c"}, std::nullopt)), CONTROL));
    EXPECT_TRUE(send(up(control)));
    EXPECT_TRUE(send(ev::named_key(NamedKey::Home)));
    EXPECT_EQ(vnc.sent(), (std::vector<VncInput>{VncInput::key(true, 0xFFE3), VncInput::key(true, 0x63),
                                                 VncInput::key(false, 0x63), VncInput::key(false, 0xFFE3),
                                                 VncInput::key(true, 0xFF50)}));
    // A release sends what its press sent (Shift let go first), even off the session screen;
    // a release whose press went elsewhere sends nothing.
    EXPECT_TRUE(send(letter('a')));
    app->screen = Screen::list();
    EXPECT_TRUE(send(key_event(KeyCode::KeyA, ev::CharacterKey{"A"}, "A", ev::ElementState::Released)));
    EXPECT_FALSE(send(up(letter('b'))));
    on_session_screen(ConnectionKind::Vnc);
    EXPECT_TRUE(send(up(ev::named_key(NamedKey::Home))));  // keys without a physical key: by keysym
    EXPECT_EQ(vnc.sent(), (std::vector<VncInput>{VncInput::key(true, 0x61), VncInput::key(false, 0x61),
                                                 VncInput::key(false, 0xFF50)}));

    // The picture lies at (100, 100)-(740, 580): one picture pixel per logical pixel.
    move_to(420, 340);
    EXPECT_TRUE(press(ev::PointerButton::Secondary));
    EXPECT_TRUE(release(ev::PointerButton::Secondary));
    EXPECT_TRUE(press(ev::PointerButton::Primary));
    EXPECT_TRUE(press(ev::PointerButton::Middle));
    EXPECT_TRUE(release(ev::PointerButton::Primary));
    EXPECT_EQ(vnc.sent(), (std::vector<VncInput>{VncInput::pointer(0, 320, 240), VncInput::pointer(4, 320, 240),
                                                 VncInput::pointer(0, 320, 240), VncInput::pointer(1, 320, 240),
                                                 VncInput::pointer(3, 320, 240), VncInput::pointer(2, 320, 240)}));
    // The same position again sends nothing; outside the picture nothing is sent but the release
    // of a button the server holds, at the picture's nearest edge.
    move_to(420, 340);
    move_to(50, 50);
    EXPECT_TRUE(vnc.sent().empty());
    EXPECT_FALSE(release(ev::PointerButton::Primary));
    EXPECT_TRUE(release(ev::PointerButton::Middle));
    move_to(420, 340);
    EXPECT_TRUE(press(ev::PointerButton::Secondary));
    move_to(900, 700);
    EXPECT_TRUE(release(ev::PointerButton::Secondary));
    EXPECT_EQ(vnc.sent(), (std::vector<VncInput>{VncInput::pointer(0, 0, 0), VncInput::pointer(0, 320, 240),
                                                 VncInput::pointer(4, 320, 240), VncInput::pointer(0, 639, 479)}));
    EXPECT_EQ(app->session.vnc_buttons(), 0);

    // Escape in fullscreen leaves fullscreen; otherwise it goes to the server.
    app->session.set_fullscreen(true);
    send(escape());
    EXPECT_FALSE(app->session.fullscreen());
    EXPECT_FALSE(send(up(escape()))) << "its press left fullscreen";
    send(escape());
    send(up(escape()));
    EXPECT_EQ(vnc.sent(), (std::vector<VncInput>{VncInput::key(true, 0xFF1B), VncInput::key(false, 0xFF1B)}));
}

TEST_F(Input, NothingStaysPressedOnTheRemoteDesktop) {
    using rfb::VncInput;
    const ev::Key control = key_event(KeyCode::ControlLeft, NamedKey::Control, std::nullopt);
    const ev::Key shift = key_event(KeyCode::ShiftLeft, NamedKey::Shift, std::nullopt);
    {
        // Losing the focus releases what is held, the last pressed first.
        VncHarness vnc(*app);
        on_session_screen(ConnectionKind::Vnc);
        send(control, CONTROL);
        send(letter('x'), CONTROL);
        send(ev::FocusLost{});
        EXPECT_EQ(vnc.sent(), (std::vector<VncInput>{VncInput::key(true, 0xFFE3), VncInput::key(true, 0x78),
                                                     VncInput::key(false, 0x78), VncInput::key(false, 0xFFE3)}));
        EXPECT_FALSE(send(key_event(KeyCode::KeyX, ev::CharacterKey{"x"}, "x", ev::ElementState::Released)));
        EXPECT_TRUE(vnc.sent().empty());
    }
    {
        // Control+Shift+W ends the session: Control and Shift go up before the input closes.
        VncHarness vnc(*app);
        on_session_screen(ConnectionKind::Vnc);
        send(control, CONTROL);
        send(shift, CONTROL_SHIFT);
        EXPECT_TRUE(send(key_event(KeyCode::KeyW, ev::CharacterKey{"W"}, std::nullopt), CONTROL_SHIFT));
        EXPECT_FALSE(app->session.active());
        EXPECT_EQ(vnc.sent(), (std::vector<VncInput>{VncInput::key(true, 0xFFE3), VncInput::key(true, 0xFFE1),
                                                     VncInput::key(false, 0xFFE1), VncInput::key(false, 0xFFE3)}));
        EXPECT_EQ(vnc.input.try_recv().error(), RecvError::Closed);
    }
    {
        // A device session is released on focus loss too.
        install_device_session(*app);
        on_session_screen(ConnectionKind::Zavo);
        send(letter('q'));
        send(ev::FocusLost{});
        EXPECT_EQ(device_inputs(*app), (std::vector<DeviceInput>{DeviceInput::key(true, 16), DeviceInput::key(false, 16)}));
        EXPECT_FALSE(send(letter('q', ev::ElementState::Released)));
        EXPECT_TRUE(device_inputs(*app).empty());

        // Escape held as fullscreen starts (by the header's button): the device had its press,
        // so it gets its release.
        send(escape());
        app->session.set_fullscreen(true);
        EXPECT_TRUE(send(key_event(KeyCode::Escape, NamedKey::Escape, std::nullopt, ev::ElementState::Released)));
        EXPECT_TRUE(app->session.fullscreen());
        EXPECT_EQ(device_inputs(*app),
                  (std::vector<DeviceInput>{DeviceInput::key(true, 1), DeviceInput::key(false, 1)}));
    }
}

TEST_F(Input, DeviceSessionTakesKeysByPhysicalKeyOnItsScreenOnly) {
    install_device_session(*app);
    using Di = DeviceInput;
    const auto up = [](ev::Key key) {
        key.state = ev::ElementState::Released;
        return key;
    };

    // On the list and the form the keys go where they go without a session: into the field
    // that has the focus, and Control+N is the application's.
    app->focus_input(InputSlot::Search);
    EXPECT_TRUE(send(letter('a')));
    EXPECT_FALSE(send(up(letter('a'))));
    EXPECT_TRUE(send(key_event(KeyCode::Slash, ev::CharacterKey{"/"}, "/")));
    EXPECT_EQ(app->search_query, "a/");
    EXPECT_TRUE(send(letter('n'), CONTROL));
    EXPECT_EQ(app->screen, Screen::new_form());
    app->focus_input(InputSlot::Name);
    EXPECT_TRUE(send(letter('b')));
    EXPECT_EQ(app->form.name, "b");
    EXPECT_TRUE(device_inputs(*app).empty());

    // On its screen: mapped keys go to the device, unmapped nowhere, Control+N is the device's.
    on_session_screen(ConnectionKind::Zavo);
    EXPECT_TRUE(send(letter('a')));
    EXPECT_TRUE(send(up(letter('a'))));
    EXPECT_TRUE(send(key_event(KeyCode::Hyper, ev::OtherKey{}, std::nullopt)));  // no code for it
    EXPECT_TRUE(send(letter('n'), CONTROL));
    EXPECT_EQ(device_inputs(*app), (std::vector<Di>{Di::key(true, 30), Di::key(false, 30), Di::key(true, 49)}));
    EXPECT_EQ(app->screen.kind, Screen::Kind::Session);
    // A key pressed there and let go on the list comes up on the device; the list keeps its keys.
    app->execute(UiCommand::plain(K::ShowConnections), doc);
    EXPECT_TRUE(send(up(letter('n')), CONTROL));
    send(letter('c'));
    EXPECT_EQ(device_inputs(*app), std::vector<Di>{Di::key(false, 49)});

    // Escape in fullscreen leaves fullscreen instead of reaching the device.
    on_session_screen(ConnectionKind::Zavo);
    app->session.set_fullscreen(true);
    EXPECT_TRUE(send(escape()));
    EXPECT_FALSE(app->session.fullscreen());
    EXPECT_TRUE(send(escape()));
    EXPECT_EQ(device_inputs(*app), std::vector<Di>{Di::key(true, 1)});
    EXPECT_EQ(app->screen.kind, Screen::Kind::Session);
    // On its screen Control+W is the device's; Control+Shift+W is the application's.
    EXPECT_TRUE(send(letter('w'), CONTROL));
    EXPECT_EQ(device_inputs(*app), std::vector<Di>{Di::key(true, 17)});

    // A dialog keeps the keys.
    app->request_connect(id_of("Workshop Laptop"));
    ASSERT_TRUE(app->confirmation);
    send(letter('a'));
    EXPECT_TRUE(device_inputs(*app).empty());

    app->confirmation.reset();
    EXPECT_TRUE(send(letter('w'), CONTROL_SHIFT));
    EXPECT_FALSE(app->session.active());
    // The keys it still held go up before it is told to disconnect, the last pressed first.
    EXPECT_EQ(device_inputs(*app), (std::vector<Di>{Di::key(false, 17), Di::key(false, 1)}));
}

TEST_F(Input, DevicePointerAndButtons) {
    install_device_session(*app, 1280, 960);
    on_session_screen(ConnectionKind::Zavo);
    using Di = DeviceInput;
    // (100, 100)-(740, 580) shows 1280 x 960: two device pixels per logical pixel.
    EXPECT_FALSE(move_to(420, 340));
    EXPECT_TRUE(press());
    EXPECT_TRUE(release());
    EXPECT_TRUE(press(ev::PointerButton::Secondary));
    EXPECT_TRUE(release(ev::PointerButton::Middle));
    EXPECT_TRUE(press(ev::PointerButton::Other));
    EXPECT_EQ(device_inputs(*app),
              (std::vector<Di>{Di::pointer_move(640, 480), Di::primary_press(true), Di::button(true, 272),
                               Di::button(false, 272), Di::button(true, 273), Di::button(false, 274)}));
    // Off the picture a button the device holds is still released there; the others are not its.
    move_to(60, 700);
    EXPECT_FALSE(release(ev::PointerButton::Primary));
    EXPECT_TRUE(release(ev::PointerButton::Secondary));
    EXPECT_FALSE(release(ev::PointerButton::Secondary));
    EXPECT_EQ(device_inputs(*app), std::vector<Di>{Di::button(false, 273)});
    // Off the picture the regions take the click again.
    app->push_hit_region({0, 0, 50, 50}, UiCommand::plain(K::Disconnect));
    EXPECT_TRUE(click(10, 10));
    EXPECT_TRUE(device_inputs(*app).empty());
    EXPECT_FALSE(app->session.active());

    // Before it connects a device takes nothing.
    install_device_session(*app, 1280, 960, false);
    on_session_screen(ConnectionKind::Zavo);
    move_to(300, 300);
    press();
    send(letter('a'));
    EXPECT_TRUE(device_inputs(*app).empty());
}

}  // namespace

namespace {

// A live session gets the pointer only where the frame on screen shows its picture on top: the
// list and the form drawn where the picture was take their own clicks, and so does the notice
// banner over the list.
TEST_F(Input, PointerReachesTheRemoteOnlyOverThePictureTheFrameShows) {
    for (const ConnectionKind kind : {ConnectionKind::Vnc, ConnectionKind::Zavo}) {
        SCOPED_TRACE(stored_name(kind));
        std::optional<VncHarness> vnc;
        if (kind == ConnectionKind::Vnc) {
            vnc.emplace(*app);
            vnc->publish(640, 480);
        } else {
            install_device_session(*app, 1280, 720)
                .decoded_frame->set(DecodedFrame{std::vector<std::uint8_t>(64 * 36 * 4), 64, 36});
        }
        // What the remote was sent since the last call.
        auto remote_inputs = [&] { return vnc ? vnc->sent().size() : device_inputs(*app).size(); };
        const Uuid session_id = *app->session.target();
        app->screen = Screen::session(session_id);
        paint();
        const zavo_ui::Rect picture = *app->session.surface_rect();
        move_to(picture.center().x, picture.center().y);
        EXPECT_EQ(remote_inputs(), 1u);

        app->execute(UiCommand::plain(K::ShowConnections), doc);
        paint();
        const Uuid build = id_of("Build Box");
        const zavo_ui::Point search = middle_of(UiCommand::focus_input(InputSlot::Search));
        const zavo_ui::Point edit = middle_of(UiCommand::with_id(K::EditConnection, build));
        ASSERT_TRUE(picture.contains(search) && picture.contains(edit)) << "the controls lie where the picture was";
        EXPECT_TRUE(click(search.x, search.y));
        release();
        EXPECT_EQ(app->focused, InputSlot::Search);
        EXPECT_TRUE(click(edit.x, edit.y));
        release();
        EXPECT_EQ(app->screen, Screen::edit_form(build));
        paint();
        const zavo_ui::Point cancel = middle_of(UiCommand::plain(K::CancelForm));
        EXPECT_TRUE(click(cancel.x, cancel.y));
        release();
        EXPECT_EQ(app->screen, Screen::list());

        // A click on the banner, over a row's control, changes nothing.
        app->notice = Notice{"Action cancelled. No connection or profile was changed."};
        paint();
        const auto banner = std::ranges::find(app->hit_regions, HitRegion::Role::Cover, &HitRegion::role);
        ASSERT_NE(banner, app->hit_regions.end());
        const zavo_ui::Rect under = std::ranges::find_if(app->hit_regions, [&](const HitRegion& r) {
                                        return r.role == HitRegion::Role::Control && r.command.id() &&
                                               !r.rect.intersect(banner->rect).is_empty();
                                    })->rect.intersect(banner->rect);
        const Screen before = app->screen;
        const auto selected = app->selected;
        EXPECT_TRUE(click(under.center().x, under.center().y));
        release();
        EXPECT_EQ(app->screen, before);
        EXPECT_EQ(app->selected, selected);
        EXPECT_FALSE(app->confirmation);
        EXPECT_EQ(remote_inputs(), 0u) << "the remote was sent input from the list or the form";

        // Back on the session screen: the header is not the picture, the picture is.
        app->notice.reset();
        app->screen = Screen::session(session_id);
        paint();
        EXPECT_FALSE(click(picture.x0 + 40, 24));
        release();
        EXPECT_EQ(remote_inputs(), 0u);
        EXPECT_TRUE(click(picture.center().x, picture.center().y + 10));
        EXPECT_GE(remote_inputs(), 2u);  // the move and the press
        release();
        app->end_session();
    }
}

}  // namespace

namespace {

// In a narrow window the open navigation's scrim lies over the picture: a click there closes
// the navigation and the remote gets neither the pointer nor the button.
TEST_F(Input, TheNavigationScrimCoversThePicture) {
    VncHarness vnc(*app);
    vnc.publish(640, 480);
    app->window_bounds = {0, 0, 600, 800};
    app->narrow = true;
    app->reduced_motion = true;
    app->screen = Screen::session(*app->session.target());
    app->nav_choice = true;
    paint();
    const zavo_ui::Rect picture = *app->session.surface_rect();
    const zavo_ui::Point middle = picture.center();
    ASSERT_GT(middle.x, 64.0) << "beside the rail";
    move_to(middle.x, middle.y);
    press();
    release();
    EXPECT_EQ(app->nav_choice, false);
    EXPECT_TRUE(vnc.sent().empty());

    // Once it is closed the picture takes the pointer again.
    paint();
    move_to(middle.x + 1, middle.y);
    press();
    release();
    EXPECT_EQ(vnc.sent().size(), 3u);
}

}  // namespace

namespace {

// In a small window with a notice the form scrolls: every control it draws in a tall window
// comes out from under the banner and below the window's bottom, and takes its click there.
TEST_F(Input, EveryFormControlIsReachableInASmallWindowWithANotice) {
    const Uuid device = *app->first_connection_of_kind(ConnectionKind::Zavo);
    for (const UiCommand& open :
         {UiCommand::plain(K::NewConnectionForm), UiCommand::with_id(K::EditConnection, device)}) {
        SCOPED_TRACE(int(open.kind));
        const auto form_controls = [&] {
            std::vector<UiCommand> out;
            for (const HitRegion& r : app->hit_regions)
                if (r.role == HitRegion::Role::Control && r.command.kind != K::ToggleNavigation)
                    out.push_back(r.command);
            return out;
        };
        app->window_bounds = {0, 0, 420, 2000};
        app->narrow = true;
        app->reduced_motion = true;
        app->execute(open, doc);
        paint();
        const std::vector<UiCommand> all = form_controls();

        app->window_bounds = {0, 0, 420, 560};
        app->notice = Notice{"Action cancelled. No connection or profile was changed."};
        paint();
        std::vector<UiCommand> reached;
        const auto reach = [&] {
            for (const UiCommand& command : form_controls())
                if (const auto rect = app->hit_region_rect(command);
                    rect && app->topmost_region(rect->center()) &&
                    app->topmost_region(rect->center())->command == command &&
                    app->topmost_region(rect->center())->role == HitRegion::Role::Control)
                    if (std::ranges::find(reached, command) == reached.end()) reached.push_back(command);
        };
        reach();
        for (int step = 0; step < 40; ++step) {
            move_to(300, 300);
            send(ev::Wheel{ev::LineDelta{0, -1}});
            paint();
            reach();
        }
        for (const UiCommand& command : all)
            EXPECT_NE(std::ranges::find(reached, command), reached.end()) << "unreachable: " << int(command.kind);

        // Scrolled to its end, Save takes its click; the form opened again starts at its top.
        const zavo_ui::Point save = middle_of(UiCommand::plain(K::SaveForm));
        EXPECT_TRUE(click(save.x, save.y));
        release();
        if (open.kind == K::NewConnectionForm)
            EXPECT_TRUE(app->touched.show_all) << "Save checked the empty form";
        else
            EXPECT_EQ(app->screen, Screen::list()) << "Save saved the connection";
        app->execute(open, doc);
        paint();
        EXPECT_EQ(app->hit_region_rect(UiCommand::set_kind(ConnectionKind::Ssh))->y0, 91);
        app->notice.reset();
        app->execute(UiCommand::plain(K::ShowConnections), doc);
    }
}

// Tab brings the field it focuses out from under the banner and the window's bottom, and
// back up when it wraps to the first field.
TEST_F(Input, TabScrollsTheFormToTheFieldItFocuses) {
    app->window_bounds = {0, 0, 420, 420};
    app->narrow = true;
    app->reduced_motion = true;
    app->notice = Notice{"Action cancelled. No connection or profile was changed."};
    app->execute(UiCommand::plain(K::NewConnectionForm), doc);
    paint();
    const auto order = views::form_tab_order(app->form.kind);
    for (std::size_t step = 1; step <= order.size(); ++step) {
        const InputSlot slot = order[step % order.size()];
        SCOPED_TRACE(int(slot));
        EXPECT_TRUE(send(ev::named_key(NamedKey::Tab)));
        ASSERT_EQ(app->focused, slot);
        paint();
        paint();
        const auto field = app->hit_region_rect(UiCommand::focus_input(slot));
        ASSERT_TRUE(field);
        for (const zavo_ui::Point p : {zavo_ui::Point{field->center().x, field->y0 + 1},
                                       zavo_ui::Point{field->center().x, field->y1 - 1}}) {
            const HitRegion* top = app->topmost_region(p);
            EXPECT_TRUE(top && top->command == UiCommand::focus_input(slot)) << "at y " << p.y;
        }
    }
}

}  // namespace
