#pragma once
// A saved connection and the small value types around it.
#include "profiles/uuid.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace remote {

enum class ConnectionKind : std::uint8_t { Ssh = 0, Vnc = 1, Rdp = 2, Zavo = 3 };
enum class AuthKind : std::uint8_t { Password = 0, PublicKey = 1, DeviceIdentity = 2 };
enum class Presence : std::uint8_t { Online = 0, Offline = 1, Unknown = 2 };
enum class ConnectionReadiness : std::uint8_t {
    Ready = 0,
    CapabilityRequired = 1,
    BackendUnavailable = 2,
    InvalidProfile = 3,
};

// ConnectionKind: the name kept in the document, the label shown, the default port (none for
// a Zavo device) and the authentication kinds it allows, in order.
std::string_view stored_name(ConnectionKind kind);
std::string_view label(ConnectionKind kind);
std::optional<std::uint16_t> default_port(ConnectionKind kind);
// Parses stored names, case-sensitively; anything unknown ("SSH" included) is Ssh.
ConnectionKind connection_kind_from_label(std::string_view text);
std::span<const AuthKind> allowed_auth(ConnectionKind kind);
bool supports_auth(AuthKind auth, ConnectionKind kind);
ConnectionReadiness readiness(ConnectionKind kind);

// AuthKind: the stored text is also the label.
std::string_view label(AuthKind auth);
AuthKind auth_kind_from_label(std::string_view text);

std::string_view stored_name(Presence presence);
Presence presence_from_stored_name(std::string_view text);

// Reads REMOTE_LIVE_SESSIONS at every call: set to valid UTF-8 (even empty) means enabled.
bool live_sessions_enabled();

std::optional<std::string_view> reason_code(ConnectionReadiness readiness);
std::string_view readiness_notice(ConnectionReadiness readiness, ConnectionKind kind);

// Whether a target fits its protocol and authentication; the message when it does not.
std::optional<std::string_view> compatibility_problem(ConnectionKind kind, std::string_view host, AuthKind auth);

struct SavedConnection {
    std::string name;
    std::string host;
    std::uint16_t port = 0;
    std::string user;
    ConnectionKind kind = ConnectionKind::Ssh;
    AuthKind auth = AuthKind::Password;
    std::string last_used;
    Presence presence = Presence::Unknown;
    std::string group;
    Uuid id;
    bool favorite = false;

    ConnectionReadiness readiness() const;
    std::optional<std::string_view> compatibility_problem() const;
    // Why it cannot connect at `readiness`: the profile's problem when it is invalid, else the
    // readiness notice.
    std::string_view readiness_reason(ConnectionReadiness readiness) const;

    friend bool operator==(const SavedConnection&, const SavedConnection&) = default;
};

bool connections_equal(std::span<const SavedConnection> a, std::span<const SavedConnection> b);

// The text when it has at most 12 characters, else its first 12 followed by "…".
std::string shorten_id(std::string_view text);
// Where a connection goes, as shown: "Zavo device <id…>", "user@host:port" (SSH with a user),
// "host:port", or the host alone when the port is 0.
std::string target_label(const SavedConnection& connection);
// The change-detection key of an open confirmation: kind, host, port, user and
// authentication, each as "<bytes>:<text>", joined by "|"; two connections share a key only
// when all five are equal. Name, group, favourite, presence and last use stay out.
std::string confirmation_key(const SavedConnection& connection);

struct SampleConnectionSpec {
    std::string_view name;
    std::string_view host;
    std::string_view user;
    std::string_view last_used;
    std::string_view group;
    std::uint16_t port;
    ConnectionKind kind;
    AuthKind auth;
    Presence presence;
    bool favorite;
};

// A record made from a sample description. With a `replica` (this device's replica of the
// document) its id follows from the replica and the name, so that a document saved by an
// earlier start on this device holds the same sample connections while another device's
// samples are its own; without one the id is random.
SavedConnection sample_connection(const SampleConnectionSpec& spec, std::string_view replica = {});

}  // namespace remote
