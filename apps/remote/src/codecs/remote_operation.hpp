#pragma once
// Work the application performs for the action framework, under "remote.operation".
#include "doc/json_reader.hpp"
#include "known_hosts/known_hosts_json.hpp"
#include "profiles/uuid.hpp"

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <variant>

namespace remote {

// What an `ActionSpec` declares it carries: a plain action, or an operation on a
// live session or its trust, or one that only changes what the window shows.
enum class OperationKind : std::uint8_t { None = 0, Session = 1, View = 2 };

struct RemoteOperation {
    struct ShowConnections {
        friend bool operator==(const ShowConnections&, const ShowConnections&) = default;
    };
    struct NewConnectionForm {
        friend bool operator==(const NewConnectionForm&, const NewConnectionForm&) = default;
    };
    struct EditConnection {
        Uuid connection_id;
        friend bool operator==(const EditConnection&, const EditConnection&) = default;
    };
    struct Connect {
        Uuid connection_id;
        friend bool operator==(const Connect&, const Connect&) = default;
    };
    struct Disconnect {
        Uuid connection_id;
        friend bool operator==(const Disconnect&, const Disconnect&) = default;
    };
    struct SendText {
        Uuid connection_id;
        std::string text;
        friend bool operator==(const SendText&, const SendText&) = default;
    };
    struct TrustSshHostKey {
        Uuid connection_id;
        HostKeyIdentity observed;
        friend bool operator==(const TrustSshHostKey&, const TrustSshHostKey&) = default;
    };
    struct ForgetSshHostKey {
        Uuid connection_id;
        friend bool operator==(const ForgetSshHostKey&, const ForgetSshHostKey&) = default;
    };

    std::variant<ShowConnections, NewConnectionForm, EditConnection, Connect, Disconnect, SendText, TrustSshHostKey,
                 ForgetSshHostKey>
        value;

    std::string_view variant_name() const;
    // View for the first three variants, Session for the rest.
    OperationKind kind() const;
    // Compact JSON: "ShowConnections" with its quotes, or {"Connect":{"connection_id":"…"}}.
    std::string serialize_json_writer() const;
    static std::expected<RemoteOperation, json::Error> deserialize_json(std::string_view bytes);

    friend bool operator==(const RemoteOperation&, const RemoteOperation&) = default;
};

}  // namespace remote
