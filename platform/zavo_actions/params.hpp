#pragma once
// Arguments given to an action when it is invoked, and the parameters that ask for them.
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zavo_actions::params {

struct ActionArgs {
    std::map<std::string, std::string, std::less<>> values;

    // The text given for `name`, or none.
    std::optional<std::string> text(std::string_view name) const {
        auto it = values.find(name);
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
};

struct ActionParam {
    std::vector<std::string> choices;  // offered values; empty for free text
    std::string name;
    std::string label;
    std::optional<std::string> placeholder;
    bool required = true;  // a client asks for it; one left out reaches the encoder as absent
    bool multiline = false;
    bool secret = false;
};

}  // namespace zavo_actions::params
