#include "codecs/remote_action.hpp"

#include "doc/json_schema.hpp"
#include "shared/overloaded.hpp"

#include <fmt/format.h>

#include <array>

namespace remote {
namespace {

constexpr std::array<std::string_view, 8> kUpsertFields{"id", "name", "host", "port", "user", "kind", "auth", "group"};
constexpr std::array<std::string_view, 2> kRenameFields{"id", "name"};
constexpr std::array<std::string_view, 2> kFavoriteFields{"id", "favorite"};
constexpr std::array<std::string_view, 1> kDeleteFields{"id"};
constexpr json::RecordShape kUpsert{"struct variant RemoteAction::UpsertConnection", kUpsertFields};
constexpr json::RecordShape kRename{"struct variant RemoteAction::RenameConnection", kRenameFields};
constexpr json::RecordShape kFavorite{"struct variant RemoteAction::SetFavorite", kFavoriteFields};
constexpr json::RecordShape kDelete{"struct variant RemoteAction::DeleteConnection", kDeleteFields};
constexpr std::array<json::VariantShape, 4> kVariants{{
    {"UpsertConnection", &kUpsert},
    {"RenameConnection", &kRename},
    {"SetFavorite", &kFavorite},
    {"DeleteConnection", &kDelete},
}};

json::Result<RemoteAction> read_action(json::Reader& reader) {
    RemoteAction::UpsertConnection upsert;
    RemoteAction::RenameConnection rename;
    RemoteAction::SetFavorite favorite;
    RemoteAction::DeleteConnection del;
    auto index = json::read_enum(reader, kVariants,
                                 [&](json::Reader& r, std::size_t variant, std::size_t field) -> json::Result<void> {
                                     switch (variant) {
                                     case 0:
                                         switch (field) {
                                         case 0: return json::assign(upsert.id, json::read_uuid(r));
                                         case 1: return json::assign(upsert.name, json::read_text(r));
                                         case 2: return json::assign(upsert.host, json::read_text(r));
                                         case 3: return json::assign(upsert.port, json::read_u16(r));
                                         case 4: return json::assign(upsert.user, json::read_text(r));
                                         case 5: return json::assign(upsert.kind, json::read_connection_kind(r));
                                         case 6: return json::assign(upsert.auth, json::read_auth_kind(r));
                                         default: return json::assign(upsert.group, json::read_text(r));
                                         }
                                     case 1:
                                         if (field == 0) return json::assign(rename.id, json::read_uuid(r));
                                         return json::assign(rename.name, json::read_text(r));
                                     case 2:
                                         if (field == 0) return json::assign(favorite.id, json::read_uuid(r));
                                         return json::assign(favorite.favorite, json::read_flag(r));
                                     default: return json::assign(del.id, json::read_uuid(r));
                                     }
                                 });
    if (!index) return std::unexpected(std::move(index.error()));
    switch (*index) {
    case 0: return RemoteAction{std::move(upsert)};
    case 1: return RemoteAction{std::move(rename)};
    case 2: return RemoteAction{favorite};
    default: return RemoteAction{del};
    }
}

}  // namespace

std::string_view RemoteAction::variant_name() const { return kVariants.at(value.index()).name; }

std::string RemoteAction::serialize_json_writer() const {
    json::Writer w;
    w.begin_object();
    w.key(variant_name());
    w.begin_object();
    std::visit(Overloaded{
                   [&](const UpsertConnection& a) {
                       w.string_member("id", a.id.to_string());
                       w.string_member("name", a.name);
                       w.string_member("host", a.host);
                       w.number_member("port", a.port);
                       w.string_member("user", a.user);
                       w.string_member("kind", json::variant_name(a.kind));
                       w.string_member("auth", json::variant_name(a.auth));
                       w.string_member("group", a.group);
                   },
                   [&](const RenameConnection& a) {
                       w.string_member("id", a.id.to_string());
                       w.string_member("name", a.name);
                   },
                   [&](const SetFavorite& a) {
                       w.string_member("id", a.id.to_string());
                       w.bool_member("favorite", a.favorite);
                   },
                   [&](const DeleteConnection& a) {
                       w.string_member("id", a.id.to_string());
                   },
               },
               value);
    w.end_object();
    w.end_object();
    return w.take();
}

nlohmann::ordered_json RemoteAction::serialize() const {
    nlohmann::ordered_json fields = nlohmann::ordered_json::object();
    std::visit(Overloaded{
                   [&](const UpsertConnection& a) {
                       fields["id"] = a.id.to_string();
                       fields["name"] = a.name;
                       fields["host"] = a.host;
                       fields["port"] = static_cast<std::uint64_t>(a.port);
                       fields["user"] = a.user;
                       fields["kind"] = std::string(json::variant_name(a.kind));
                       fields["auth"] = std::string(json::variant_name(a.auth));
                       fields["group"] = a.group;
                   },
                   [&](const RenameConnection& a) {
                       fields["id"] = a.id.to_string();
                       fields["name"] = a.name;
                   },
                   [&](const SetFavorite& a) {
                       fields["id"] = a.id.to_string();
                       fields["favorite"] = a.favorite;
                   },
                   [&](const DeleteConnection& a) { fields["id"] = a.id.to_string(); },
               },
               value);
    nlohmann::ordered_json out = nlohmann::ordered_json::object();
    out[std::string(variant_name())] = std::move(fields);
    return out;
}

std::expected<RemoteAction, json::Error> RemoteAction::deserialize_json(std::string_view bytes) {
    return json::decode<RemoteAction>(bytes, read_action);
}

std::string RemoteAction::to_debug_string() const {
    using json::debug_quoted;
    return std::visit(
        Overloaded{
            [](const UpsertConnection& a) {
                return fmt::format(
                    "UpsertConnection {{ id: {}, name: {}, host: {}, port: {}, user: {}, kind: {}, auth: {}, group: {} }}",
                    a.id.to_string(), debug_quoted(a.name), debug_quoted(a.host), a.port, debug_quoted(a.user),
                    json::to_debug_string(a.kind), json::to_debug_string(a.auth), debug_quoted(a.group));
            },
            [](const RenameConnection& a) {
                return fmt::format("RenameConnection {{ id: {}, name: {} }}", a.id.to_string(), debug_quoted(a.name));
            },
            [](const SetFavorite& a) {
                return fmt::format("SetFavorite {{ id: {}, favorite: {} }}", a.id.to_string(), a.favorite);
            },
            [](const DeleteConnection& a) { return fmt::format("DeleteConnection {{ id: {} }}", a.id.to_string()); },
        },
        value);
}

}  // namespace remote
