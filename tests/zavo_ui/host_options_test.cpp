#include "zavo_ui/host/options.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace zavo_ui::host {
namespace {

std::expected<FrameworkOptions, std::string> parse(std::vector<std::string> args) { return parse_options(args); }

TEST(HostOptions, ReadsEveryOptionInBothForms) {
    auto spaced = parse({"--view-state", "form", "--size", "800x600", "--scale", "2", "--screenshot", "out.png"});
    auto joined = parse({"--view-state=form", "--size=800x600", "--scale=2", "--screenshot=out.png"});
    for (const auto& parsed : {spaced, joined}) {
        ASSERT_TRUE(parsed) << parsed.error();
        EXPECT_EQ(parsed->view_state, "form");
        EXPECT_EQ(parsed->size, (WindowSize{800, 600}));
        EXPECT_EQ(parsed->scale, 2.0);
        EXPECT_EQ(parsed->screenshot, "out.png");
    }
    auto none = parse({});
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->view_state || none->size || none->scale || none->screenshot || none->help);
    EXPECT_EQ(parse({"--view-state="})->view_state, "");
}

TEST(HostOptions, RefusesBadInputWithAMessage) {
    struct Case {
        std::vector<std::string> args;
        const char* message_part;
    } cases[] = {
        {{"--size", "800"}, "invalid --size \"800\""},
        {{"--size", "0x600"}, "invalid --size"},
        {{"--size", "800x-1"}, "invalid --size"},
        {{"--size", "800x600x2"}, "invalid --size"},
        {{"--size", "99999x600"}, "invalid --size"},
        {{"--scale", "0"}, "invalid --scale \"0\""},
        {{"--scale", "nan"}, "invalid --scale"},
        {{"--scale", "1.5x"}, "invalid --scale"},
        {{"--scale", "100"}, "invalid --scale"},
        {{"--screenshot"}, "--screenshot needs a value"},
        {{"--screenshot="}, "--screenshot needs a file name"},
        {{"--frobnicate"}, "unknown option \"--frobnicate\""},
        {{"form"}, "unknown option \"form\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front());
        auto parsed = parse(c.args);
        ASSERT_FALSE(parsed);
        EXPECT_NE(parsed.error().find(c.message_part), std::string::npos) << parsed.error();
    }
}

TEST(HostOptions, FractionalScaleAndUpperCaseSeparator) {
    EXPECT_EQ(parse_scale("1.25"), 1.25);
    EXPECT_EQ(parse_size("1280X800"), (WindowSize{1280, 800}));
    EXPECT_TRUE(parse({"--help"})->help);
}

}  // namespace
}  // namespace zavo_ui::host
