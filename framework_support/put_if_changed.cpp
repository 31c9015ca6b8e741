#include "framework_support/put_if_changed.hpp"

#include <string>
#include <utility>

namespace zavo_ui::doc {

namespace {

void put_if_changed(crdt::Document& doc, const crdt::ObjId& map, std::string_view key, crdt::ScalarValue value) {
    if (auto current = doc.get(map, key); current && *current) {
        const crdt::ScalarValue* stored = (*current)->value.scalar();
        // ScalarValue equality compares the alternative first: Int 22 is not Uint 22.
        if (stored && *stored == value) return;
    }
    (void)doc.put(map, key, std::move(value));
}

}  // namespace

void put_scalar_if_changed(crdt::Document& doc, const crdt::ObjId& map, std::string_view key, std::string_view value) {
    put_if_changed(doc, map, key, crdt::ScalarValue(std::in_place_type<std::string>, value));
}

void put_scalar_if_changed(crdt::Document& doc, const crdt::ObjId& map, std::string_view key, bool value) {
    put_if_changed(doc, map, key, crdt::ScalarValue(value));
}

void put_scalar_if_changed(crdt::Document& doc, const crdt::ObjId& map, std::string_view key, std::int64_t value) {
    put_if_changed(doc, map, key, crdt::ScalarValue(value));
}

}  // namespace zavo_ui::doc
