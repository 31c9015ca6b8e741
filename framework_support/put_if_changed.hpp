#pragma once
// Scalar writes that record a change only when the stored value differs: an unchanged write
// would still travel to every replica and stay in the history.
#include "crdt/document.hpp"

#include <cstdint>
#include <string_view>

namespace zavo_ui::doc {

// Writes the value under `key` in `map` unless a scalar of the same type and value is already
// stored there. Reports nothing: a failed read leads to a write, a failed write is ignored.
void put_scalar_if_changed(crdt::Document& doc, const crdt::ObjId& map, std::string_view key, std::string_view value);
void put_scalar_if_changed(crdt::Document& doc, const crdt::ObjId& map, std::string_view key, bool value);
void put_scalar_if_changed(crdt::Document& doc, const crdt::ObjId& map, std::string_view key, std::int64_t value);
// Other types would convert silently (a string literal to bool): widen or view explicitly.
template <class T>
void put_scalar_if_changed(crdt::Document&, const crdt::ObjId&, std::string_view, T) = delete;

}  // namespace zavo_ui::doc
