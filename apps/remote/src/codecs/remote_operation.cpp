#include "codecs/remote_operation.hpp"

#include "doc/json_schema.hpp"
#include "shared/overloaded.hpp"

#include <array>

namespace remote {
namespace {

constexpr std::array<std::string_view, 1> kIdFields{"connection_id"};
constexpr std::array<std::string_view, 2> kTextFields{"connection_id", "text"};
constexpr std::array<std::string_view, 2> kTrustFields{"connection_id", "observed"};
constexpr json::RecordShape kEdit{"struct variant RemoteOperation::EditConnection", kIdFields};
constexpr json::RecordShape kConnect{"struct variant RemoteOperation::Connect", kIdFields};
constexpr json::RecordShape kDisconnect{"struct variant RemoteOperation::Disconnect", kIdFields};
constexpr json::RecordShape kSendText{"struct variant RemoteOperation::SendText", kTextFields};
constexpr json::RecordShape kTrust{"struct variant RemoteOperation::TrustSshHostKey", kTrustFields};
constexpr json::RecordShape kForget{"struct variant RemoteOperation::ForgetSshHostKey", kIdFields};
constexpr std::array<json::VariantShape, 8> kVariants{{
    {"ShowConnections", nullptr},
    {"NewConnectionForm", nullptr},
    {"EditConnection", &kEdit},
    {"Connect", &kConnect},
    {"Disconnect", &kDisconnect},
    {"SendText", &kSendText},
    {"TrustSshHostKey", &kTrust},
    {"ForgetSshHostKey", &kForget},
}};

json::Result<RemoteOperation> read_operation(json::Reader& reader) {
    Uuid id;
    std::string text;
    HostKeyIdentity observed;
    auto index = json::read_enum(reader, kVariants,
                                 [&](json::Reader& r, std::size_t variant, std::size_t field) -> json::Result<void> {
                                     if (field == 0) return json::assign(id, json::read_uuid(r));
                                     if (variant == 5) return json::assign(text, json::read_text(r));
                                     return json::assign(observed, read_host_key_identity(r));
                                 });
    if (!index) return std::unexpected(std::move(index.error()));
    using Op = RemoteOperation;
    switch (*index) {
    case 0: return Op{Op::ShowConnections{}};
    case 1: return Op{Op::NewConnectionForm{}};
    case 2: return Op{Op::EditConnection{id}};
    case 3: return Op{Op::Connect{id}};
    case 4: return Op{Op::Disconnect{id}};
    case 5: return Op{Op::SendText{id, std::move(text)}};
    case 6: return Op{Op::TrustSshHostKey{id, std::move(observed)}};
    default: return Op{Op::ForgetSshHostKey{id}};
    }
}

}  // namespace

std::string_view RemoteOperation::variant_name() const { return kVariants.at(value.index()).name; }

OperationKind RemoteOperation::kind() const { return value.index() < 3 ? OperationKind::View : OperationKind::Session; }

std::string RemoteOperation::serialize_json_writer() const {
    json::Writer w;
    if (!kVariants.at(value.index()).record) {
        w.string(variant_name());
        return w.take();
    }
    w.begin_object();
    w.key(variant_name());
    w.begin_object();
    std::visit(Overloaded{
                   [](const ShowConnections&) {},
                   [](const NewConnectionForm&) {},
                   [&](const SendText& op) {
                       w.string_member("connection_id", op.connection_id.to_string());
                       w.string_member("text", op.text);
                   },
                   [&](const TrustSshHostKey& op) {
                       w.string_member("connection_id", op.connection_id.to_string());
                       w.key("observed");
                       write_host_key_identity(w, op.observed);
                   },
                   [&](const auto& op) {
                       w.string_member("connection_id", op.connection_id.to_string());
                   },
               },
               value);
    w.end_object();
    w.end_object();
    return w.take();
}

std::expected<RemoteOperation, json::Error> RemoteOperation::deserialize_json(std::string_view bytes) {
    return json::decode<RemoteOperation>(bytes, read_operation);
}

}  // namespace remote
