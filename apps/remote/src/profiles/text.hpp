#pragma once
// Unicode text helpers shared by the connection model, form and list.
#include <string>
#include <string_view>

namespace remote {

// True when the bytes are well-formed UTF-8.
bool is_valid_utf8(std::string_view bytes);
// The text without Unicode White_Space characters at either end (invalid UTF-8 is kept as is).
std::string_view trim_unicode(std::string_view text);
// The full Unicode lower-case mapping (one character may become several).
std::string to_lower_full(std::string_view text);

}  // namespace remote
