#include "codecs/remote_action.hpp"

#include "codecs/record_fields.hpp"

namespace remote::codec {

template <>
struct RecordFields<RemoteAction::UpsertConnection> {
    using A = RemoteAction::UpsertConnection;
    static constexpr std::string_view name = "UpsertConnection";
    static constexpr std::string_view expectation = "struct variant RemoteAction::UpsertConnection";
    static constexpr std::tuple fields{field("id", &A::id),     field("name", &A::name),  field("host", &A::host),
                                       field("port", &A::port), field("user", &A::user),  field("kind", &A::kind),
                                       field("auth", &A::auth), field("group", &A::group)};
};

template <>
struct RecordFields<RemoteAction::RenameConnection> {
    using A = RemoteAction::RenameConnection;
    static constexpr std::string_view name = "RenameConnection";
    static constexpr std::string_view expectation = "struct variant RemoteAction::RenameConnection";
    static constexpr std::tuple fields{field("id", &A::id), field("name", &A::name)};
};

template <>
struct RecordFields<RemoteAction::SetFavorite> {
    using A = RemoteAction::SetFavorite;
    static constexpr std::string_view name = "SetFavorite";
    static constexpr std::string_view expectation = "struct variant RemoteAction::SetFavorite";
    static constexpr std::tuple fields{field("id", &A::id), field("favorite", &A::favorite)};
};

template <>
struct RecordFields<RemoteAction::DeleteConnection> {
    using A = RemoteAction::DeleteConnection;
    static constexpr std::string_view name = "DeleteConnection";
    static constexpr std::string_view expectation = "struct variant RemoteAction::DeleteConnection";
    static constexpr std::tuple fields{field("id", &A::id)};
};

}  // namespace remote::codec

namespace remote {
namespace {

using Variants = codec::Variants<decltype(RemoteAction::value)>;

json::Result<RemoteAction> read_action(json::Reader& reader) {
    auto value = Variants::read(reader);
    if (!value) return std::unexpected(std::move(value.error()));
    return RemoteAction{std::move(*value)};
}

}  // namespace

std::string_view RemoteAction::variant_name() const { return Variants::name(value); }

std::string RemoteAction::serialize_json_writer() const { return Variants::write(value); }

nlohmann::ordered_json RemoteAction::serialize() const { return Variants::json(value); }

std::expected<RemoteAction, json::Error> RemoteAction::deserialize_json(std::string_view bytes) {
    return json::decode<RemoteAction>(bytes, read_action);
}

std::string RemoteAction::to_debug_string() const { return Variants::debug(value); }

}  // namespace remote
