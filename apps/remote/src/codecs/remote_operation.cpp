#include "codecs/remote_operation.hpp"

#include "codecs/record_fields.hpp"

namespace remote::codec {

using Op = RemoteOperation;

template <>
struct RecordFields<Op::ShowConnections> {
    static constexpr std::string_view name = "ShowConnections";
    static constexpr std::tuple<> fields{};
};

template <>
struct RecordFields<Op::NewConnectionForm> {
    static constexpr std::string_view name = "NewConnectionForm";
    static constexpr std::tuple<> fields{};
};

template <>
struct RecordFields<Op::EditConnection> {
    static constexpr std::string_view name = "EditConnection";
    static constexpr std::string_view expectation = "struct variant RemoteOperation::EditConnection";
    static constexpr std::tuple fields{field("connection_id", &Op::EditConnection::connection_id)};
};

template <>
struct RecordFields<Op::Connect> {
    static constexpr std::string_view name = "Connect";
    static constexpr std::string_view expectation = "struct variant RemoteOperation::Connect";
    static constexpr std::tuple fields{field("connection_id", &Op::Connect::connection_id)};
};

template <>
struct RecordFields<Op::Disconnect> {
    static constexpr std::string_view name = "Disconnect";
    static constexpr std::string_view expectation = "struct variant RemoteOperation::Disconnect";
    static constexpr std::tuple fields{field("connection_id", &Op::Disconnect::connection_id)};
};

template <>
struct RecordFields<Op::SendText> {
    static constexpr std::string_view name = "SendText";
    static constexpr std::string_view expectation = "struct variant RemoteOperation::SendText";
    static constexpr std::tuple fields{field("connection_id", &Op::SendText::connection_id),
                                       field("text", &Op::SendText::text)};
};

template <>
struct RecordFields<Op::TrustSshHostKey> {
    static constexpr std::string_view name = "TrustSshHostKey";
    static constexpr std::string_view expectation = "struct variant RemoteOperation::TrustSshHostKey";
    static constexpr std::tuple fields{field("connection_id", &Op::TrustSshHostKey::connection_id),
                                       field("observed", &Op::TrustSshHostKey::observed)};
};

template <>
struct RecordFields<Op::ForgetSshHostKey> {
    static constexpr std::string_view name = "ForgetSshHostKey";
    static constexpr std::string_view expectation = "struct variant RemoteOperation::ForgetSshHostKey";
    static constexpr std::tuple fields{field("connection_id", &Op::ForgetSshHostKey::connection_id)};
};

}  // namespace remote::codec

namespace remote {
namespace {

using Variants = codec::Variants<decltype(RemoteOperation::value)>;

json::Result<RemoteOperation> read_operation(json::Reader& reader) {
    auto value = Variants::read(reader);
    if (!value) return std::unexpected(std::move(value.error()));
    return RemoteOperation{std::move(*value)};
}

}  // namespace

std::string_view RemoteOperation::variant_name() const { return Variants::name(value); }

OperationKind RemoteOperation::kind() const { return value.index() < 3 ? OperationKind::View : OperationKind::Session; }

std::string RemoteOperation::serialize_json_writer() const { return Variants::write(value); }

std::expected<RemoteOperation, json::Error> RemoteOperation::deserialize_json(std::string_view bytes) {
    return json::decode<RemoteOperation>(bytes, read_operation);
}

}  // namespace remote
