// Document files from outside: load must refuse bad input without crashing, and whatever it
// accepts must read back, save and load again to the same heads.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "crdt/document.hpp"

namespace {
void walk(const crdt::Document& doc, const crdt::ObjId& obj, int depth) {
    if (depth > 64) return;
    auto type = doc.object_type(obj);
    if (!type) std::abort();
    auto visit = [&](const crdt::Result<std::vector<crdt::Entry>>& all) {
        if (!all) std::abort();
        for (const auto& e : *all)
            if (e.value.is_object()) walk(doc, e.id, depth + 1);
    };
    if (*type == crdt::ObjType::Map) {
        auto keys = doc.keys(obj);
        if (!keys) std::abort();
        for (const auto& k : *keys) visit(doc.get_all(obj, k));
    } else {
        auto n = doc.length(obj);
        if (!n) std::abort();
        for (std::size_t i = 0; i < *n && i < 4096; ++i) visit(doc.get_all(obj, i));
        if (*type == crdt::ObjType::Text && !doc.text(obj)) std::abort();
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> input(data, size);
    (void)crdt::Change::from_bytes(input);
    auto doc = crdt::Document::load(input);
    if (!doc) return 0;
    walk(*doc, crdt::ROOT, 0);
    auto heads = doc->get_heads();
    auto again = crdt::Document::load(doc->save());
    if (!again || again->get_heads() != heads) std::abort();
    return 0;
}
