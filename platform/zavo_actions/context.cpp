#include "zavo_actions/context.hpp"

#include <algorithm>

namespace zavo_actions::context {
namespace {

bool upper(char c) { return c >= 'A' && c <= 'Z'; }
bool lower_or_digit(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

}  // namespace

ActionContext ActionContext::enriched_by(const ActionContext& base) const {
    ActionContext out = *this;
    if (out.label.empty()) out.label = base.label;
    for (const auto& tag : base.tags)
        if (std::find(out.tags.begin(), out.tags.end(), tag) == out.tags.end()) out.tags.push_back(tag);
    if (!out.source) out.source = base.source;
    if (!out.document) out.document = base.document;
    if (!out.reason) out.reason = base.reason;
    if (!out.origin) out.origin = base.origin;
    return out;
}

std::string humanize_identifier(std::string_view identifier) {
    std::string out;
    for (std::size_t i = 0; i < identifier.size(); ++i) {
        char c = identifier[i];
        if (c == '_' || c == '-' || c == ' ' || c == '.') {
            if (!out.empty() && out.back() != ' ') out.push_back(' ');
            continue;
        }
        if (upper(c) && !out.empty() && out.back() != ' ') {
            // A word starts at an upper-case letter after a lower-case one, or at the last
            // capital of a run that a lower-case letter follows ("SSHKey" is "Ssh key").
            char prev = identifier[i - 1];
            bool next_lower = i + 1 < identifier.size() && identifier[i + 1] >= 'a' && identifier[i + 1] <= 'z';
            if (lower_or_digit(prev) || (upper(prev) && next_lower)) out.push_back(' ');
        }
        out.push_back(upper(c) ? static_cast<char>(c + 32) : c);
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    if (!out.empty() && out[0] >= 'a' && out[0] <= 'z') out[0] = static_cast<char>(out[0] - 32);
    return out;
}

}  // namespace zavo_actions::context
