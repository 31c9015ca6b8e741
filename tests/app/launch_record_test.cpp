#include "app/launch_record.hpp"

#include "app/remote_app.hpp"
#include "support/env.hpp"
#include "zavo_actions/registry.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

using namespace remote;
using namespace remote::app;

namespace {

// Sets or clears ZAVO_REMOTE_SAMPLE for one test and restores it afterwards.
struct SampleSwitch : test_support::EnvGuard {
    explicit SampleSwitch(const char* value) { set("ZAVO_REMOTE_SAMPLE", value); }
};

RemoteApp& as_app(const zavo_ui::launch::RootWidget& root) {
    auto* app = dynamic_cast<RemoteApp*>(root.get());
    EXPECT_NE(app, nullptr);
    return *app;
}

}  // namespace

TEST(LaunchRecord, SampleModeOnlyForExactlyOne) {
    const std::pair<const char*, bool> cases[] = {
        {"1", true},   {nullptr, false}, {"", false},    {"01", false},
        {" 1", false}, {"1 ", false},    {"yes", false}, {"\xff", false},
    };
    for (auto [value, on] : cases) {
        SampleSwitch sample(value);
        EXPECT_EQ(sample_mode_from_environment(), on) << (value ? value : "unset");
        auto built = build_initial_state({"session-failed"});
        ASSERT_TRUE(built);
        RemoteApp& app = as_app(*built);
        EXPECT_EQ(app.connections.size(), on ? 8u : 0u);
        // The review scene applies only with sample data.
        EXPECT_EQ(app.session.active(), on);
    }
}

TEST(LaunchRecord, NavigationViewStatesApplyWithoutSampleData) {
    SampleSwitch sample(nullptr);
    auto built = build_initial_state({"narrow-open"});
    RemoteApp& app = as_app(*built);
    EXPECT_EQ(app.forced_nav, true);
    auto form = build_initial_state({"form"});
    EXPECT_EQ(as_app(*form).screen, Screen::list());
    auto none = build_initial_state({std::nullopt});
    EXPECT_EQ(as_app(*none).forced_nav, std::nullopt);
    auto unknown = build_initial_state({"not-a-scene"});
    EXPECT_EQ(as_app(*unknown).forced_nav, std::nullopt);
}

TEST(LaunchRecord, DefaultFactoryNeverShowsSampleData) {
    SampleSwitch sample("1");
    auto root = new_default_app_state();
    EXPECT_TRUE(as_app(root).connections.empty());
    EXPECT_TRUE(as_app(root).devices.empty());
}

TEST(LaunchRecord, SpecNamesTheScenesHooksAndWindowSize) {
    const auto spec = launch_spec();
    EXPECT_EQ(spec.view_states,
              (std::vector<std::string>{"narrow", "narrow-open", "form", "form-zavo", "session-ssh", "session-vnc",
                                        "session-rdp", "session-zavo", "session-connecting", "session-failed",
                                        "confirm-connect", "confirm-delete", "confirm-ssh-trust"}));
    EXPECT_EQ(spec.window_size(), (zavo_ui::launch::WindowSize{1280, 800}));
    EXPECT_TRUE(spec.new_default_state && spec.build_initial_state && spec.open_document);
    zavo_actions::ActionRegistry registry;
    zavo_ui::app::App application(registry);
    spec.register_actions(application);
    EXPECT_TRUE(registry.contains("remote.action"));
    EXPECT_EQ(registry.size(), 1u);
}
