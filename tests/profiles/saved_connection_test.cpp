#include "profiles/saved_connection.hpp"
#include "support/env.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

using namespace remote;

namespace {

constexpr const char* kEndpoint = "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";

// Sets or clears REMOTE_LIVE_SESSIONS for one test and restores it afterwards.
struct LiveSessions : test_support::EnvGuard {
    explicit LiveSessions(const char* value) { set("REMOTE_LIVE_SESSIONS", value); }
};

SavedConnection record(ConnectionKind kind, AuthKind auth, std::string host = "example.org") {
    SavedConnection c;
    c.name = "box";
    c.host = std::move(host);
    c.kind = kind;
    c.auth = auth;
    c.id = Uuid::new_v4();
    return c;
}

}  // namespace

TEST(ConnectionKind, NamesPortsAndAllowedAuth) {
    EXPECT_EQ(stored_name(ConnectionKind::Zavo), "Zavo");
    EXPECT_EQ(label(ConnectionKind::Zavo), "Zavo device");
    EXPECT_EQ(label(ConnectionKind::Vnc), "VNC");
    EXPECT_EQ(default_port(ConnectionKind::Ssh), 22);
    EXPECT_EQ(default_port(ConnectionKind::Vnc), 5900);
    EXPECT_EQ(default_port(ConnectionKind::Rdp), 3389);
    EXPECT_EQ(default_port(ConnectionKind::Zavo), std::nullopt);
    ASSERT_EQ(allowed_auth(ConnectionKind::Ssh).size(), 2u);
    EXPECT_EQ(allowed_auth(ConnectionKind::Ssh)[1], AuthKind::PublicKey);
    EXPECT_TRUE(supports_auth(AuthKind::DeviceIdentity, ConnectionKind::Zavo));
    EXPECT_FALSE(supports_auth(AuthKind::PublicKey, ConnectionKind::Vnc));
}

TEST(ConnectionKind, ParsesStoredNamesExactly) {
    struct Case {
        const char* text;
        ConnectionKind kind;
    } cases[] = {
        {"VNC", ConnectionKind::Vnc},         {"RDP", ConnectionKind::Rdp},  {"Zavo", ConnectionKind::Zavo},
        {"SSH", ConnectionKind::Ssh},         {"vnc", ConnectionKind::Ssh},  {"", ConnectionKind::Ssh},
        {"Zavo device", ConnectionKind::Ssh}, {"VNC ", ConnectionKind::Ssh},
    };
    for (const auto& c : cases) EXPECT_EQ(connection_kind_from_label(c.text), c.kind) << c.text;
}

TEST(AuthAndPresence, ParseTheirTextsWithDefaults) {
    EXPECT_EQ(auth_kind_from_label("Public key"), AuthKind::PublicKey);
    EXPECT_EQ(auth_kind_from_label("Device identity"), AuthKind::DeviceIdentity);
    EXPECT_EQ(auth_kind_from_label("PublicKey"), AuthKind::Password);
    EXPECT_EQ(label(AuthKind::DeviceIdentity), "Device identity");
    EXPECT_EQ(presence_from_stored_name("online"), Presence::Online);
    EXPECT_EQ(presence_from_stored_name("offline"), Presence::Offline);
    EXPECT_EQ(presence_from_stored_name("Online"), Presence::Unknown);
    EXPECT_EQ(stored_name(Presence::Unknown), "unknown");
}

TEST(Readiness, FollowsTheLiveSessionSwitchAtEveryCall) {
    struct Case {
        const char* env;  // nullptr: unset
        bool enabled;
    } cases[] = {{nullptr, false}, {"", true}, {"1", true}, {"no", true}, {"\xff\xfe", false}};
    for (const auto& c : cases) {
        LiveSessions env(c.env);
        EXPECT_EQ(live_sessions_enabled(), c.enabled) << (c.env ? c.env : "(unset)");
        auto expected = c.enabled ? ConnectionReadiness::Ready : ConnectionReadiness::CapabilityRequired;
        EXPECT_EQ(readiness(ConnectionKind::Ssh), expected);
        EXPECT_EQ(readiness(ConnectionKind::Vnc), expected);
        EXPECT_EQ(readiness(ConnectionKind::Zavo), ConnectionReadiness::Ready);
        EXPECT_EQ(readiness(ConnectionKind::Rdp), ConnectionReadiness::BackendUnavailable);
    }
}

TEST(Readiness, KindDecidesBeforeCompatibility) {
    auto ssh_device = record(ConnectionKind::Ssh, AuthKind::DeviceIdentity);
    auto rdp_key = record(ConnectionKind::Rdp, AuthKind::PublicKey);
    {
        LiveSessions env(nullptr);
        EXPECT_EQ(ssh_device.readiness(), ConnectionReadiness::CapabilityRequired);
    }
    LiveSessions env("");
    EXPECT_EQ(ssh_device.readiness(), ConnectionReadiness::InvalidProfile);
    EXPECT_EQ(rdp_key.readiness(), ConnectionReadiness::BackendUnavailable);
    EXPECT_EQ(record(ConnectionKind::Ssh, AuthKind::PublicKey).readiness(), ConnectionReadiness::Ready);
}

TEST(Compatibility, ChecksAuthFirstThenTheTrimmedEndpoint) {
    using K = ConnectionKind;
    using A = AuthKind;
    struct Case {
        K kind;
        A auth;
        std::string host;
        std::optional<std::string_view> problem;
    } cases[] = {
        {K::Ssh, A::DeviceIdentity, "h", "SSH profiles support password or public-key authentication."},
        {K::Vnc, A::PublicKey, "h", "VNC profiles support password authentication only."},
        {K::Rdp, A::DeviceIdentity, "h", "RDP profiles support password authentication only."},
        {K::Zavo, A::Password, "not a key", "Zavo device profiles must use Zavo device identity."},
        {K::Zavo, A::DeviceIdentity, "abc", "Zavo device node must be an exact certified endpoint id."},
        {K::Zavo, A::DeviceIdentity, "", std::nullopt},
        {K::Zavo, A::DeviceIdentity, " \t\u3000", std::nullopt},
        {K::Zavo, A::DeviceIdentity, std::string("  ") + kEndpoint + "\n", std::nullopt},
        {K::Ssh, A::Password, "anything at all", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(compatibility_problem(c.kind, c.host, c.auth), c.problem) << c.host;

    LiveSessions env(nullptr);
    EXPECT_EQ(record(K::Zavo, A::DeviceIdentity, " ").readiness(), ConnectionReadiness::Ready);
    EXPECT_EQ(record(K::Zavo, A::DeviceIdentity, std::string(" ") + kEndpoint).readiness(), ConnectionReadiness::Ready);
    EXPECT_EQ(record(K::Zavo, A::DeviceIdentity, "xyz").readiness(), ConnectionReadiness::InvalidProfile);
}

TEST(Readiness, ReasonCodesAndNotices) {
    using R = ConnectionReadiness;
    EXPECT_EQ(reason_code(R::Ready), std::nullopt);
    EXPECT_EQ(reason_code(R::CapabilityRequired), "live_session_capability_required");
    EXPECT_EQ(reason_code(R::BackendUnavailable), "transport_backend_unavailable");
    EXPECT_EQ(reason_code(R::InvalidProfile), "invalid_connection_profile");
    EXPECT_EQ(readiness_notice(R::Ready, ConnectionKind::Rdp), "This transport is ready to connect.");
    EXPECT_EQ(readiness_notice(R::CapabilityRequired, ConnectionKind::Vnc),
              "VNC is installed, but this build has not been granted live network access.");
    EXPECT_EQ(readiness_notice(R::CapabilityRequired, ConnectionKind::Ssh),
              "SSH is installed, but this build has not been granted live network access.");
    EXPECT_EQ(readiness_notice(R::BackendUnavailable, ConnectionKind::Rdp),
              "RDP profiles are preserved, but this Zavo build has no RDP client backend.");
    EXPECT_EQ(readiness_notice(R::InvalidProfile, ConnectionKind::Zavo),
              "This saved connection has incompatible target or authentication settings.");
}

TEST(SavedConnection, EqualityCoversEveryFieldAndListOrder) {
    auto a = record(ConnectionKind::Ssh, AuthKind::Password);
    auto b = a;
    EXPECT_EQ(a, b);
    b.last_used = "just now";
    EXPECT_NE(a, b);
    auto c = record(ConnectionKind::Vnc, AuthKind::Password);
    std::vector<SavedConnection> ac{a, c}, ca{c, a}, a_only{a};
    EXPECT_TRUE(connections_equal(ac, ac));
    EXPECT_FALSE(connections_equal(ac, ca));
    EXPECT_FALSE(connections_equal(ac, a_only));
}

TEST(SavedConnection, SampleCopiesTheSpecWithAnIdItsReplicaAndNameFix) {
    SampleConnectionSpec spec{"Build box",         "10.0.0.2",       "ci", "12m ago", "Lab", 2222, ConnectionKind::Ssh,
                              AuthKind::PublicKey, Presence::Online, true};
    const std::string replica = "0123456789abcdef0123456789abcdef";
    auto one = sample_connection(spec, replica);
    auto two = sample_connection(spec, replica);
    EXPECT_EQ(one.name, "Build box");
    EXPECT_EQ(one.host, "10.0.0.2");
    EXPECT_EQ(one.user, "ci");
    EXPECT_EQ(one.last_used, "12m ago");
    EXPECT_EQ(one.group, "Lab");
    EXPECT_EQ(one.port, 2222);
    EXPECT_EQ(one.auth, AuthKind::PublicKey);
    EXPECT_EQ(one.presence, Presence::Online);
    EXPECT_TRUE(one.favorite);
    EXPECT_EQ(one.id, two.id) << "the same at every start";
    for (const Uuid& id : {one.id, sample_connection(spec).id}) {
        EXPECT_EQ(id.bytes[6] >> 4, 4);       // version 4
        EXPECT_EQ(id.bytes[8] & 0xc0, 0x80);  // RFC 4122 variant
    }
    EXPECT_NE(sample_connection(spec, "fedcba9876543210fedcba9876543210").id, one.id) << "another device's";
    EXPECT_NE(sample_connection(spec).id, sample_connection(spec).id) << "without a replica, random";
    spec.name = "Build box 2";
    EXPECT_NE(sample_connection(spec, replica).id, one.id);
}

TEST(SavedConnection, TargetLabelsAndShortIds) {
    EXPECT_EQ(shorten_id("123456789012"), "123456789012");
    EXPECT_EQ(shorten_id("1234567890123"), "123456789012…");
    EXPECT_EQ(shorten_id("ééééééééééééé"), "éééééééééééé…");  // counts characters, not bytes

    struct Case {
        ConnectionKind kind;
        const char* host;
        std::uint16_t port;
        const char* user;
        const char* label;
    } cases[] = {
        {ConnectionKind::Ssh, "h", 22, "ann", "ann@h:22"},
        {ConnectionKind::Ssh, "h", 0, "ann", "ann@h"},
        {ConnectionKind::Ssh, "h", 2222, "", "h:2222"},
        {ConnectionKind::Vnc, "h", 5900, "ann", "h:5900"},
        {ConnectionKind::Rdp, "h", 0, "ann", "h"},
        {ConnectionKind::Zavo, kEndpoint, 0, "ann", "Zavo device d75a980182b1…"},
        {ConnectionKind::Zavo, "short", 7, "", "Zavo device short"},
    };
    for (const auto& c : cases) {
        SavedConnection r = record(c.kind, AuthKind::Password, c.host);
        r.port = c.port;
        r.user = c.user;
        EXPECT_EQ(target_label(r), c.label) << c.host << ":" << c.port;
    }
}

TEST(SavedConnection, ConfirmationKeyIgnoresNameGroupFavouriteAndPresence) {
    SavedConnection a = record(ConnectionKind::Ssh, AuthKind::PublicKey, "h");
    a.port = 22;
    a.user = "ann";
    SavedConnection b = a;
    b.name = "other";
    b.group = "g";
    b.favorite = true;
    b.presence = Presence::Offline;
    b.last_used = "just now";
    EXPECT_EQ(confirmation_key(b), confirmation_key(a));
    b.port = 23;
    EXPECT_NE(confirmation_key(b), confirmation_key(a));
}

TEST(SavedConnection, ConfirmationKeysKeepTheFieldBoundaries) {
    // Texts holding "|" that would shift one field's end into the next.
    struct Target {
        const char* host;
        std::uint16_t port;
        const char* user;
    } pairs[][2] = {
        {{"x|1", 2, "y"}, {"x", 1, "2|y"}},
        {{"a|22", 22, ""}, {"a", 22, "22|"}},
    };
    for (const auto& [one, two] : pairs) {
        SavedConnection a = record(ConnectionKind::Ssh, AuthKind::Password, one.host);
        a.port = one.port;
        a.user = one.user;
        SavedConnection b = record(ConnectionKind::Ssh, AuthKind::Password, two.host);
        b.port = two.port;
        b.user = two.user;
        EXPECT_NE(confirmation_key(a), confirmation_key(b)) << confirmation_key(a);
    }
}
