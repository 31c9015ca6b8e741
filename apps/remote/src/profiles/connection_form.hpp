#pragma once
// The editable connection form behind the new and edit screens, and its validation.
#include "profiles/saved_connection.hpp"
#include "profiles/uuid.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace remote {

// The six text inputs of the window, in this order. Slot 0 is the list's search query; the
// others edit the form.
enum class InputSlot : std::uint8_t { Search = 0, Name = 1, Host = 2, Port = 3, User = 4, Group = 5 };

std::string_view field_placeholder(InputSlot slot);

// The ASCII digits of `text`, in order; everything else dropped.
std::string digits_only(std::string_view text);

// A port typed by the user: trimmed, an optional "+", then ASCII digits (leading zeros
// allowed) up to 65535. None when the text is anything else.
std::optional<std::uint16_t> parse_port(std::string_view text);

struct ConnectionForm {
    std::string name;
    std::string host;
    std::string port = "22";
    std::string user;
    std::string group;
    AuthKind auth = AuthKind::Password;
    ConnectionKind kind = ConnectionKind::Ssh;

    // The form for editing `connection` (its id, last use, presence and favourite stay out).
    static ConnectionForm from_connection(const SavedConnection& connection);

    // The record this form describes, trimmed, with the given id; never fails, does not
    // validate. Last used "Never", presence unknown, not a favourite.
    SavedConnection to_connection(const Uuid& id) const;

    // Why the form may not be saved, in order; empty when it may.
    std::vector<std::string> problems() const;

    friend bool operator==(const ConnectionForm&, const ConnectionForm&) = default;
};

}  // namespace remote
