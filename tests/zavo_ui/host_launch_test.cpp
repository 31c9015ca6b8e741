// The launch's steps that need no window: the view-state check, the root widget from the
// factories, the first window size, the title, the registered actions and the document's store.
#include "zavo_ui/host/launch.hpp"

#include <gtest/gtest.h>

#include "zavo_ui/app.hpp"
#include "zavo_ui/persist.hpp"

namespace zavo_ui::host {
namespace {

class Named : public Widget {
public:
    explicit Named(std::string name) : name_(std::move(name)) {}
    std::optional<std::string> widget_name() override { return name_; }

private:
    std::string name_;
};

launch::LaunchSpec spec_with_states(std::vector<std::string> states) {
    launch::LaunchSpec spec;
    spec.app_id = "dev.zavo.remote";
    spec.view_states = std::move(states);
    return spec;
}

FrameworkOptions view_state(std::optional<std::string> name) {
    FrameworkOptions options;
    options.view_state = std::move(name);
    return options;
}

TEST(HostLaunch, AnUnknownViewStateIsNamedWithTheKnownOnes) {
    const auto spec = spec_with_states({"list", "form"});
    EXPECT_EQ(unknown_view_state(spec, view_state("sessions")), "unknown view state \"sessions\" (known: list, form)");
    EXPECT_EQ(unknown_view_state(spec, view_state("form")), std::nullopt);
    EXPECT_EQ(unknown_view_state(spec, view_state(std::nullopt)), std::nullopt);
    EXPECT_EQ(unknown_view_state(spec_with_states({}), view_state("anything")), std::nullopt)
        << "a program that lists no states takes any name";
}

TEST(HostLaunch, TheRootComesFromTheFactoryWithOptionsFirst) {
    launch::LaunchSpec spec = spec_with_states({});
    EXPECT_EQ(build_root(spec, {}).error(), "the launch record builds no application state");

    spec.new_default_state = [] { return std::make_unique<Named>("default"); };
    EXPECT_EQ((*build_root(spec, view_state("list")))->widget_name(), "default");

    spec.build_initial_state = [](const launch::LaunchOptions& o) -> std::expected<launch::RootWidget, std::string> {
        if (o.view_state == "broken") return std::unexpected("no such scene");
        return std::make_unique<Named>(o.view_state.value_or("none"));
    };
    EXPECT_EQ((*build_root(spec, view_state("list")))->widget_name(), "list") << "the view state is passed on";
    EXPECT_EQ(build_root(spec, view_state("broken")).error(), "cannot build the application state: no such scene");

    spec.build_initial_state = [](const launch::LaunchOptions&) { return launch::RootWidget{}; };
    EXPECT_FALSE(build_root(spec, {}));
}

TEST(HostLaunch, TheFirstSizeIsTheOptionsThenTheProgramsThenTheDefault) {
    launch::LaunchSpec spec = spec_with_states({});
    FrameworkOptions sized;
    sized.size = launch::WindowSize{800, 600};
    EXPECT_EQ(first_window_size(spec, {}), kDefaultSize);
    spec.window_size = [] { return launch::WindowSize{320, 200}; };
    EXPECT_EQ(first_window_size(spec, {}), (launch::WindowSize{320, 200}));
    EXPECT_EQ(first_window_size(spec, sized), (launch::WindowSize{800, 600}));
    spec.window_size = [] { return launch::WindowSize{0, 200}; };
    EXPECT_EQ(first_window_size(spec, {}), kDefaultSize) << "a size with a zero side";
}

TEST(HostLaunch, TitleActionsAndStore) {
    launch::LaunchSpec spec = spec_with_states({});
    EXPECT_EQ(window_title(spec), "Remote");
    spec.app_id = "solo";
    EXPECT_EQ(window_title(spec), "Solo");
    spec.app_id = "dev.zavo.";
    EXPECT_EQ(window_title(spec), "Application");

    EXPECT_EQ(registered_actions(spec).size(), 0u);
    spec.register_actions = [](app::App& app) {
        app.action_registry_mut().insert("probe.action", [](std::span<const std::uint8_t>) {
            return std::unexpected(
                zavo_actions::action::ActionError{zavo_actions::action::ActionError::Refused{"unused"}});
        });
    };
    EXPECT_TRUE(registered_actions(spec).contains("probe.action"));

    EXPECT_EQ(*open_store(spec), nullptr) << "no opener: the document lives in memory";
    spec.open_document = [](std::string_view) { return std::unique_ptr<persist::PersistedDocument>{}; };
    EXPECT_EQ(*open_store(spec), nullptr);
    spec.open_document = [](std::string_view id) -> launch::DocumentOpener::result_type {
        return std::unexpected(std::string(id) + " is locked");
    };
    EXPECT_EQ(open_store(spec).error(), "cannot open the saved document: dev.zavo. is locked");
}

}  // namespace
}  // namespace zavo_ui::host
