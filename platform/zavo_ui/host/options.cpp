#include "zavo_ui/host/options.hpp"

#include <charconv>
#include <cmath>
#include <fmt/format.h>

namespace zavo_ui::host {
namespace {

constexpr std::uint32_t kMaxSide = 16384;
constexpr double kMaxScale = 8.0;

std::optional<std::uint32_t> parse_side(std::string_view text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    std::uint32_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    if (value == 0 || value > kMaxSide) return std::nullopt;
    return value;
}

}  // namespace

std::expected<WindowSize, std::string> parse_size(const std::string& text) {
    const auto x = text.find_first_of("xX");
    if (x != std::string::npos) {
        auto w = parse_side(std::string_view(text).substr(0, x));
        auto h = parse_side(std::string_view(text).substr(x + 1));
        if (w && h) return WindowSize{*w, *h};
    }
    return std::unexpected(
        fmt::format("invalid --size \"{}\": expected WIDTHxHEIGHT in pixels, each from 1 to {}", text, kMaxSide));
}

std::expected<double, std::string> parse_scale(const std::string& text) {
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(value) ||
        value < 0.25 || value > kMaxScale) {
        return std::unexpected(
            fmt::format("invalid --scale \"{}\": expected a number from 0.25 to {}", text, kMaxScale));
    }
    return value;
}

std::expected<FrameworkOptions, std::string> parse_options(std::span<const std::string> args) {
    FrameworkOptions out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (name == "--help" || name == "-h") {
            out.help = true;
            continue;
        }
        if (const auto eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        if (name != "--view-state" && name != "--size" && name != "--scale" && name != "--screenshot") {
            return std::unexpected(fmt::format("unknown option \"{}\"", args[i]));
        }
        if (!value) {
            if (i + 1 >= args.size()) return std::unexpected(fmt::format("{} needs a value", name));
            value = args[++i];
        }
        if (name == "--view-state") {
            out.view_state = *value;
        } else if (name == "--size") {
            auto size = parse_size(*value);
            if (!size) return std::unexpected(size.error());
            out.size = *size;
        } else if (name == "--scale") {
            auto scale = parse_scale(*value);
            if (!scale) return std::unexpected(scale.error());
            out.scale = *scale;
        } else {
            if (value->empty()) return std::unexpected("--screenshot needs a file name");
            out.screenshot = *value;
        }
    }
    return out;
}

std::string options_usage(const std::string& program) {
    return fmt::format(
        "usage: {} [--view-state NAME] [--size WxH] [--scale F] [--screenshot FILE.png]\n"
        "  --view-state NAME     start in the named view state\n"
        "  --size WxH            first window size in logical pixels\n"
        "  --scale F             device pixels per logical pixel\n"
        "  --screenshot FILE.png render the first settled frame to FILE.png without a display and exit\n",
        program);
}

}  // namespace zavo_ui::host
