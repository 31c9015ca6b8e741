#include "profiles/connection_form.hpp"

#include "profiles/text.hpp"

namespace remote {

std::string_view field_placeholder(InputSlot slot) {
    switch (slot) {
        case InputSlot::Search: return "Search machines\u2026  ( / )";
        case InputSlot::Name: return "My machine";
        case InputSlot::Host: return "hostname or IP";
        case InputSlot::Port: return "Port";
        case InputSlot::User: return "username";
        case InputSlot::Group: return "group (optional)";
    }
    return "";
}

std::string digits_only(std::string_view text) {
    std::string out;
    for (char c : text)
        if (c >= '0' && c <= '9') out.push_back(c);
    return out;
}

std::optional<std::uint16_t> parse_port(std::string_view text) {
    text = trim_unicode(text);
    if (text.starts_with('+')) text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value > 65535) return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

ConnectionForm ConnectionForm::from_connection(const SavedConnection& connection) {
    return ConnectionForm{
        .name = connection.name,
        .host = connection.host,
        .port = std::to_string(connection.port),
        .user = connection.user,
        .group = connection.group,
        .auth = connection.auth,
        .kind = connection.kind,
    };
}

SavedConnection ConnectionForm::to_connection(const Uuid& id) const {
    SavedConnection record;
    record.kind = kind;
    if (kind == ConnectionKind::Zavo)
        record.port = 0;
    else
        record.port = parse_port(port).value_or(default_port(kind).value_or(0));
    record.name = std::string(trim_unicode(name));
    record.host = std::string(trim_unicode(host));
    if (kind != ConnectionKind::Vnc && kind != ConnectionKind::Zavo) record.user = std::string(trim_unicode(user));
    record.auth = auth;
    record.last_used = "Never";
    record.group = std::string(trim_unicode(group));
    record.id = id;
    record.presence = Presence::Unknown;
    record.favorite = false;
    return record;
}

std::vector<std::string> ConnectionForm::problems() const {
    std::vector<std::string> out;
    if (trim_unicode(name).empty()) out.emplace_back("Name is required");
    if (trim_unicode(host).empty()) out.emplace_back("Host is required");
    if (kind != ConnectionKind::Zavo) {
        auto value = parse_port(port);
        if (!value || *value == 0) out.emplace_back("Port must be 1\u201365535");
    }
    if (auto problem = compatibility_problem(kind, host, auth)) out.emplace_back(*problem);
    return out;
}

}  // namespace remote
