#include "profiles/text.hpp"

#include <unicode/uchar.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <cstdint>

namespace remote {

bool is_valid_utf8(std::string_view bytes) {
    const auto* s = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const auto length = static_cast<std::int32_t>(bytes.size());
    std::int32_t i = 0;
    while (i < length) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

std::string_view trim_unicode(std::string_view text) {
    const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t start = 0;
    while (start < length) {
        std::int32_t next = start;
        UChar32 c;
        U8_NEXT(s, next, length, c);
        if (c < 0 || !u_isUWhiteSpace(c)) break;
        start = next;
    }
    std::int32_t end = length;
    while (end > start) {
        std::int32_t prev = end;
        UChar32 c;
        U8_PREV(s, start, prev, c);
        if (c < 0 || !u_isUWhiteSpace(c)) break;
        end = prev;
    }
    return text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

std::string to_lower_full(std::string_view text) {
    bool ascii = true;
    for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    std::string out;
    if (ascii) {
        out.resize(text.size());
        for (std::size_t i = 0; i < text.size(); ++i) {
            char c = text[i];
            out[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
        }
        return out;
    }
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
    u.toLower(icu::Locale::getRoot());
    u.toUTF8String(out);
    return out;
}

}  // namespace remote
