#pragma once
// The framework's own command-line options.
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>

#include "zavo_ui/launch.hpp"

namespace zavo_ui::host {

using launch::WindowSize;

struct FrameworkOptions {
    std::optional<std::string> view_state;  // --view-state NAME
    std::optional<WindowSize> size;         // --size WxH (logical pixels)
    std::optional<double> scale;            // --scale F (device pixels per logical pixel)
    std::optional<std::string> screenshot;  // --screenshot FILE.png
    bool help = false;                      // --help
};

// Parses the arguments after the program name. Each option takes its value either as the
// next argument or after '=' (--size=800x600).
std::expected<FrameworkOptions, std::string> parse_options(std::span<const std::string> args);

std::expected<WindowSize, std::string> parse_size(const std::string& text);
std::expected<double, std::string> parse_scale(const std::string& text);

// One line per option, for --help and for errors.
std::string options_usage(const std::string& program);

}  // namespace zavo_ui::host
