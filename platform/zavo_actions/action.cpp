#include "zavo_actions/action.hpp"

#include <fmt/format.h>

namespace zavo_actions::action {
namespace {

std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out.push_back('\\');
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace

std::string ActionError::to_string() const {
    return std::visit(
        Overloaded{
            [](const Automerge& e) { return fmt::format("document error: {}", e.message); },
            [](const UnknownType& e) { return fmt::format("unknown action type `{}`", e.type_name); },
            [](const Decode& e) { return fmt::format("could not decode {} action: {}", e.type_id, e.source); },
            [](const Encode& e) { return fmt::format("could not encode action: {}", e.message); },
            [](const Refused& e) { return fmt::format("action refused: {}", e.message); },
        },
        error);
}

std::string ActionError::to_debug_string() const {
    return std::visit(Overloaded{
                          [](const Automerge& e) { return fmt::format("Automerge({})", quoted(e.message)); },
                          [](const UnknownType& e) { return fmt::format("UnknownType({})", quoted(e.type_name)); },
                          [](const Decode& e) {
                              return fmt::format("Decode {{ type_id: {}, source: {} }}", quoted(e.type_id),
                                                 quoted(e.source));
                          },
                          [](const Encode& e) { return fmt::format("Encode({})", quoted(e.message)); },
                          [](const Refused& e) { return fmt::format("Refused({})", quoted(e.message)); },
                      },
                      error);
}

}  // namespace zavo_actions::action
