#include "profiles/saved_connection.hpp"

#include "profiles/text.hpp"
#include "relay_key/relay_key.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>

namespace remote {
namespace {

constexpr AuthKind kSshAuth[] = {AuthKind::Password, AuthKind::PublicKey};
constexpr AuthKind kPasswordOnly[] = {AuthKind::Password};
constexpr AuthKind kDeviceAuth[] = {AuthKind::DeviceIdentity};

}  // namespace

std::string_view stored_name(ConnectionKind kind) {
    switch (kind) {
        case ConnectionKind::Ssh: return "SSH";
        case ConnectionKind::Vnc: return "VNC";
        case ConnectionKind::Rdp: return "RDP";
        case ConnectionKind::Zavo: return "Zavo";
    }
    return "SSH";
}

std::string_view label(ConnectionKind kind) { return kind == ConnectionKind::Zavo ? "Zavo device" : stored_name(kind); }

std::optional<std::uint16_t> default_port(ConnectionKind kind) {
    switch (kind) {
        case ConnectionKind::Ssh: return 22;
        case ConnectionKind::Vnc: return 5900;
        case ConnectionKind::Rdp: return 3389;
        case ConnectionKind::Zavo: return std::nullopt;
    }
    return std::nullopt;
}

ConnectionKind connection_kind_from_label(std::string_view text) {
    if (text == "VNC") return ConnectionKind::Vnc;
    if (text == "RDP") return ConnectionKind::Rdp;
    if (text == "Zavo") return ConnectionKind::Zavo;
    return ConnectionKind::Ssh;
}

std::span<const AuthKind> allowed_auth(ConnectionKind kind) {
    switch (kind) {
        case ConnectionKind::Ssh: return kSshAuth;
        case ConnectionKind::Vnc:
        case ConnectionKind::Rdp: return kPasswordOnly;
        case ConnectionKind::Zavo: return kDeviceAuth;
    }
    return {};
}

bool supports_auth(AuthKind auth, ConnectionKind kind) {
    auto allowed = allowed_auth(kind);
    return std::find(allowed.begin(), allowed.end(), auth) != allowed.end();
}

ConnectionReadiness readiness(ConnectionKind kind) {
    switch (kind) {
        case ConnectionKind::Ssh:
        case ConnectionKind::Vnc:
            return live_sessions_enabled() ? ConnectionReadiness::Ready : ConnectionReadiness::CapabilityRequired;
        case ConnectionKind::Rdp: return ConnectionReadiness::BackendUnavailable;
        case ConnectionKind::Zavo: return ConnectionReadiness::Ready;
    }
    return ConnectionReadiness::Ready;
}

std::string_view label(AuthKind auth) {
    switch (auth) {
        case AuthKind::Password: return "Password";
        case AuthKind::PublicKey: return "Public key";
        case AuthKind::DeviceIdentity: return "Device identity";
    }
    return "Password";
}

AuthKind auth_kind_from_label(std::string_view text) {
    if (text == "Public key") return AuthKind::PublicKey;
    if (text == "Device identity") return AuthKind::DeviceIdentity;
    return AuthKind::Password;
}

std::string_view stored_name(Presence presence) {
    switch (presence) {
        case Presence::Online: return "online";
        case Presence::Offline: return "offline";
        case Presence::Unknown: return "unknown";
    }
    return "unknown";
}

Presence presence_from_stored_name(std::string_view text) {
    if (text == "online") return Presence::Online;
    if (text == "offline") return Presence::Offline;
    return Presence::Unknown;
}

bool live_sessions_enabled() {
    const char* value = std::getenv("REMOTE_LIVE_SESSIONS");
    return value != nullptr && is_valid_utf8(value);
}

std::optional<std::string_view> reason_code(ConnectionReadiness readiness) {
    switch (readiness) {
        case ConnectionReadiness::Ready: return std::nullopt;
        case ConnectionReadiness::CapabilityRequired: return "live_session_capability_required";
        case ConnectionReadiness::BackendUnavailable: return "transport_backend_unavailable";
        case ConnectionReadiness::InvalidProfile: return "invalid_connection_profile";
    }
    return std::nullopt;
}

std::string_view readiness_notice(ConnectionReadiness readiness, ConnectionKind kind) {
    switch (readiness) {
        case ConnectionReadiness::Ready: return "This transport is ready to connect.";
        case ConnectionReadiness::CapabilityRequired:
            return kind == ConnectionKind::Vnc
                       ? "VNC is installed, but this build has not been granted live network access."
                       : "SSH is installed, but this build has not been granted live network access.";
        case ConnectionReadiness::BackendUnavailable:
            return "RDP profiles are preserved, but this Zavo build has no RDP client backend.";
        case ConnectionReadiness::InvalidProfile:
            return "This saved connection has incompatible target or authentication settings.";
    }
    return "";
}

std::optional<std::string_view> compatibility_problem(ConnectionKind kind, std::string_view host, AuthKind auth) {
    if (!supports_auth(auth, kind)) {
        switch (kind) {
            case ConnectionKind::Ssh: return "SSH profiles support password or public-key authentication.";
            case ConnectionKind::Vnc: return "VNC profiles support password authentication only.";
            case ConnectionKind::Rdp: return "RDP profiles support password authentication only.";
            case ConnectionKind::Zavo: return "Zavo device profiles must use Zavo device identity.";
        }
    }
    if (kind == ConnectionKind::Zavo) {
        std::string_view trimmed = trim_unicode(host);
        if (!trimmed.empty() && !relay_key::PublicKey::from_str(trimmed))
            return "Zavo device node must be an exact certified endpoint id.";
    }
    return std::nullopt;
}

ConnectionReadiness SavedConnection::readiness() const {
    ConnectionReadiness by_kind = remote::readiness(kind);
    if (by_kind != ConnectionReadiness::Ready) return by_kind;
    if (compatibility_problem()) return ConnectionReadiness::InvalidProfile;
    return ConnectionReadiness::Ready;
}

std::optional<std::string_view> SavedConnection::compatibility_problem() const {
    return remote::compatibility_problem(kind, host, auth);
}

std::string_view SavedConnection::readiness_reason(ConnectionReadiness readiness) const {
    if (readiness == ConnectionReadiness::InvalidProfile)
        if (auto problem = compatibility_problem()) return *problem;
    return readiness_notice(readiness, kind);
}

bool connections_equal(std::span<const SavedConnection> a, std::span<const SavedConnection> b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

SavedConnection sample_connection(const SampleConnectionSpec& spec, std::string_view replica) {
    return SavedConnection{
        .name = std::string(spec.name),
        .host = std::string(spec.host),
        .port = spec.port,
        .user = std::string(spec.user),
        .kind = spec.kind,
        .auth = spec.auth,
        .last_used = std::string(spec.last_used),
        .presence = spec.presence,
        .group = std::string(spec.group),
        .id = replica.empty() ? Uuid::new_v4()
                              : Uuid::v4_from_name(fmt::format("sample connection {} of {}", spec.name, replica)),
        .favorite = spec.favorite,
    };
}

std::string shorten_id(std::string_view text) {
    // Twelve scalar values: count lead bytes, never cutting a sequence.
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (count == 12) return std::string(text.substr(0, i)) + "…";
        ++count;
    }
    return std::string(text);
}

std::string target_label(const SavedConnection& c) {
    if (c.kind == ConnectionKind::Zavo) return "Zavo device " + shorten_id(c.host);
    std::string out;
    if (c.kind == ConnectionKind::Ssh && !c.user.empty()) out = c.user + "@";
    out += c.host;
    if (c.port != 0) out += fmt::format(":{}", c.port);
    return out;
}

std::string confirmation_key(const SavedConnection& c) {
    // Each field after its length in bytes, so that no "|" inside a host or user can move a
    // boundary.
    const std::string port = std::to_string(c.port);
    std::string key;
    for (const std::string_view field : {stored_name(c.kind), std::string_view(c.host), std::string_view(port),
                                         std::string_view(c.user), label(c.auth)})
        key += fmt::format("{}{}:{}", key.empty() ? "" : "|", field.size(), field);
    return key;
}

}  // namespace remote
