// Host-key fingerprints as the window renders them with the program's fonts: against a private
// sshd whose key's fingerprint holds an x between two digits, the unknown-key card, the trust
// dialog and the changed-key card show the characters ssh-keygen shows, each drawn with the
// glyph its font maps it to (the interface font would draw that x as a multiplication sign).
#include <gtest/gtest.h>

#include <QGlyphRun>
#include <QRawFont>
#include <QTextLayout>

#include <regex>
#include <string>

#include "app/remote_app.hpp"
#include "views/paint_primitives.hpp"
#include "support/env.hpp"
#include "support/offscreen_app.hpp"
#include "support/saved_connection.hpp"
#include "support/temp_dir.hpp"
#include "support/wait.hpp"
#include "tests/integration/ssh_server.hpp"
#include "zavo_ui/qt/qt_text_renderer.hpp"
#include "zavo_ui/qt/text_engine.hpp"
#include "zavo_ui/theme.hpp"

namespace {

using namespace remote;
namespace fs = std::filesystem;
using K = UiCommand::Kind;

// The "SHA256:" fingerprint that `ssh-keygen -lf` shows for a public key file.
std::string keygen_fingerprint(const fs::path& public_key) {
    const std::string line = ssh_test::run("ssh-keygen -lf " + public_key.string());
    const auto begin = line.find("SHA256:");
    return begin == std::string::npos ? "" : line.substr(begin, line.find(' ', begin) - begin);
}

// A new Ed25519 key in `dir` whose fingerprint holds a digit, an x and a digit; empty when none
// came up (about one key in sixty does).
fs::path key_with_digit_x_digit(const fs::path& dir) {
    static const std::regex digit_x_digit("[0-9]x[0-9]");
    for (int i = 0; i < 2000; ++i) {
        const fs::path key = dir / ("host" + std::to_string(i));
        ssh_test::run("ssh-keygen -q -N '' -t ed25519 -f " + key.string());
        if (std::regex_search(keygen_fingerprint(key.string() + ".pub"), digit_x_digit)) return key;
        fs::remove(key);
        fs::remove(key.string() + ".pub");
    }
    return {};
}

class FingerprintGlyphs : public ::testing::Test {
protected:
    void SetUp() override {
        if (auto why = ssh_test::SshServer::unavailable(); !why.empty()) GTEST_SKIP() << why;
        fs::permissions(runtime.path(), fs::perms::owner_all);
        env.set("XDG_RUNTIME_DIR", runtime.path().c_str());  // Qt's, private
        test_support::offscreen_app();
        key = key_with_digit_x_digit(keys.path());
        ASSERT_FALSE(key.empty()) << "no fingerprint with an x between two digits";
        fingerprint = keygen_fingerprint(key.string() + ".pub");
        server = std::make_unique<ssh_test::SshServer>();
        server->use_host_key(key);
        server->program_env(env, home.path());
        app = RemoteApp::with_data({test_support::saved("Lab shell", ConnectionKind::Ssh, "127.0.0.1", server->port(),
                                                        server->user(), AuthKind::PublicKey)},
                                   {});
        id = app->connections.front().id;
    }

    // One frame of the window `width` wide, painted with the program's fonts.
    zavo_ui::Scene paint(double width) {
        app->window_bounds = {0, 0, width, 800};
        app->narrow = width < 720;
        app->snap_nav_flap();
        zavo_ui::Scene scene;
        zavo_ui::DrawContext draw;
        app->paint(scene, zavo_ui::Affine::identity(), text, theme, draw);
        return scene;
    }

    // Connects and waits for the session to fail at the server's key.
    void connect_until_refused() {
        app->start_session(id);
        ASSERT_TRUE(test_support::eventually(
            [&] {
                paint(1280);
                const auto status = app->session.status();
                return status && status->kind == SessionStatus::Kind::Failed &&
                       app->session.host_key_problem(id).has_value();
            },
            std::chrono::seconds(20), std::chrono::milliseconds(20)))
            << (app->session.status() ? app->session.status()->text : "no session");
    }

    // Every text the frame holds of `expected` (the fingerprint whole, or the parts of it a
    // line holds) is set in its characters' own glyphs, and the texts hold it in order.
    void expect_drawn_as_characters(const zavo_ui::Scene& scene, const std::string& expected, const char* where) {
        std::string all;
        int parts = 0;
        for (const auto& item : scene.items()) {
            const auto* t = std::get_if<zavo_ui::scene_item::TextItem>(&item);
            if (!t) continue;
            all += t->text;
            if (t->text.find(expected) == std::string::npos &&
                (t->text.size() < 4 || expected.find(t->text) == std::string::npos))
                continue;
            ++parts;
            const QFont& font = engine.font(t->style, t->pixel_size);
            const QString line = zavo_ui::qt::to_qstring(t->text);
            QTextLayout layout(line, font);
            layout.beginLayout();
            layout.createLine();
            layout.endLayout();
            QList<quint32> laid;
            for (const QGlyphRun& run : layout.glyphRuns()) laid += run.glyphIndexes();
            EXPECT_EQ(laid, QRawFont::fromFont(font).glyphIndexesForString(line))
                << where << ": \"" << t->text << "\" is drawn with other glyphs than its characters'";
        }
        EXPECT_GT(parts, 0) << where << ": nothing shows " << expected;
        EXPECT_NE(all.find(expected), std::string::npos) << where << ": the texts do not hold " << expected;
    }

    test_support::TempDir runtime{"remote-fingerprint-runtime-"};
    test_support::TempDir keys{"remote-fingerprint-keys-"};
    test_support::TempDir home{"remote-fingerprint-"};
    test_support::EnvGuard env;
    fs::path key;
    std::string fingerprint;
    std::unique_ptr<ssh_test::SshServer> server;
    std::unique_ptr<RemoteApp> app;
    Uuid id;
    zavo_ui::qt::TextEngine engine;
    zavo_ui::qt::QtTextRenderer text{engine};
    zavo_ui::theme::Theme theme = zavo_ui::theme::Theme::dark();
};

TEST_F(FingerprintGlyphs, TheCardsAndTheTrustDialogShowTheFingerprintAsSshKeygenDoes) {
    connect_until_refused();
    const auto problem = app->session.host_key_problem(id);
    ASSERT_TRUE(problem && std::holds_alternative<HostKeyUnknown>(*problem));
    ASSERT_EQ(std::get<HostKeyUnknown>(*problem).presented.fingerprint, fingerprint);
    for (const double width : {1280.0, 420.0}) {
        expect_drawn_as_characters(paint(width), fingerprint, "the unknown-key card");
        app->execute(UiCommand::with_id(K::RequestTrustHostKey, id), nullptr);
        ASSERT_TRUE(app->confirmation);
        expect_drawn_as_characters(paint(width), fingerprint, "the trust dialog");
        app->execute(UiCommand::plain(K::CancelConfirmation), nullptr);
    }

    // Another key pinned for the server: the card shows the pinned one and the presented one.
    const HostKeyIdentity pinned = server->identity(server->client_key(), "ssh-ed25519");
    ASSERT_TRUE(known_hosts::trust(server->store(), "127.0.0.1", server->port(), pinned));
    connect_until_refused();
    ASSERT_TRUE(std::holds_alternative<HostKeyChanged>(*app->session.host_key_problem(id)));
    for (const double width : {1280.0, 420.0}) {
        const zavo_ui::Scene scene = paint(width);
        expect_drawn_as_characters(scene, fingerprint, "the changed-key card");
        expect_drawn_as_characters(scene, pinned.fingerprint, "the changed-key card");
    }
}

// A target shortened to its room is measured as it is drawn, verbatim: kerned, the interface
// font sets "AVATAR.WAVE" narrower than its characters one by one, and a target shortened by
// that measure ran past its room.
TEST(VerbatimTargets, AShortenedTargetFitsItsRoomAsDrawn) {
    test_support::TempDir runtime{"remote-elide-runtime-"};
    fs::permissions(runtime.path(), fs::perms::owner_all);
    test_support::EnvGuard env;
    env.set("XDG_RUNTIME_DIR", runtime.path().c_str());
    test_support::offscreen_app();
    zavo_ui::qt::TextEngine engine;
    zavo_ui::qt::QtTextRenderer text{engine};
    const SavedConnection targets[] = {
        test_support::saved("kerned", ConnectionKind::Ssh, "AVATAR.WAVE.TAVERN.TAVA.example", 2222, "VAWATAVA",
                            AuthKind::Password),
        test_support::saved("vnc", ConnectionKind::Vnc, "WAVE-AVATAR-TAVERN-YAWATA.example", 5901, "",
                            AuthKind::Password),
    };
    for (const SavedConnection& c : targets) {
        const double whole = text.measure_styled(target_label(c), views::PaintContext::verbatim_style(13)).width;
        for (double room = whole - 1; room > whole / 2; room -= 3) {
            const std::string shown = views::elide_target(text, c, 13.0f, 0, room);
            EXPECT_LE(text.measure_styled(shown, views::PaintContext::verbatim_style(13)).width, room)
                << shown << " in " << room;
        }
    }
}

}  // namespace
