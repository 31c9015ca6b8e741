#include "zavo_ui/doc.hpp"

#include <string>
#include <vector>

namespace zavo_ui::doc {

namespace {
// Byte offsets of each scalar's start, plus the end (invalid UTF-8 is refused by the splice).
std::vector<std::size_t> scalar_starts(std::string_view s) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < s.size(); ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) starts.push_back(i);
    starts.push_back(s.size());
    return starts;
}
}  // namespace

crdt::Result<void> splice_text_diffed(crdt::Document& doc, const crdt::ObjId& text, std::string_view new_text) {
    auto current = doc.text(text);
    if (!current) return std::unexpected(current.error());
    std::string_view old_text = *current;
    if (old_text == new_text) return {};
    auto a = scalar_starts(old_text), b = scalar_starts(new_text);
    std::size_t na = a.size() - 1, nb = b.size() - 1;
    auto scalar = [](std::string_view s, const std::vector<std::size_t>& at, std::size_t i) {
        return s.substr(at[i], at[i + 1] - at[i]);
    };
    std::size_t prefix = 0;
    while (prefix < na && prefix < nb && scalar(old_text, a, prefix) == scalar(new_text, b, prefix)) ++prefix;
    std::size_t suffix = 0;
    while (suffix < na - prefix && suffix < nb - prefix &&
           scalar(old_text, a, na - 1 - suffix) == scalar(new_text, b, nb - 1 - suffix))
        ++suffix;
    std::string_view middle = new_text.substr(b[prefix], b[nb - suffix] - b[prefix]);
    return doc.splice_text(text, prefix, na - prefix - suffix, middle);
}

}  // namespace zavo_ui::doc
