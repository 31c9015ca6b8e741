#pragma once
// Text edits on the shared document that touch only what changed, so that concurrent edits
// elsewhere in the same text survive a merge.
#include <string_view>

#include "crdt/document.hpp"

namespace zavo_ui::doc {

// Makes the text object read exactly `new_text`: keeps the longest common prefix and suffix
// (in Unicode scalar values) and splices only the middle. An unchanged text records nothing.
// Fails when `text` is no text object or `new_text` is not valid UTF-8.
crdt::Result<void> splice_text_diffed(crdt::Document& doc, const crdt::ObjId& text, std::string_view new_text);

}  // namespace zavo_ui::doc
