#include "profiles/connection_form.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace remote;

namespace {

using Problems = std::vector<std::string>;

ConnectionForm form(ConnectionKind kind, std::string port, AuthKind auth = AuthKind::Password) {
    ConnectionForm f;
    f.name = "box";
    f.host = "example.org";
    f.port = std::move(port);
    f.kind = kind;
    f.auth = auth;
    return f;
}

TEST(ConnectionForm, DefaultFormNeedsNameAndHost) {
    ConnectionForm f;
    EXPECT_EQ(f.port, "22");
    EXPECT_EQ(f.kind, ConnectionKind::Ssh);
    EXPECT_EQ(f.auth, AuthKind::Password);
    EXPECT_EQ(f.problems(), (Problems{"Name is required", "Host is required"}));
    f.name = " \u3000\t";
    EXPECT_EQ(f.problems(), (Problems{"Name is required", "Host is required"}));
    EXPECT_EQ(f.to_connection(Uuid::nil()).name, "");
}

TEST(ConnectionForm, PortValidation) {
    const std::pair<const char*, bool> cases[] = {
        {"", false},  {"0", false},    {"65536", false}, {"99999999999", false}, {"-1", false},       {"2 2", false},
        {"22", true}, {"00022", true}, {"65535", true},  {"+22", true},          {" 22\u00a0", true}, {"1", true},
    };
    for (const auto& [port, ok] : cases) {
        Problems expected = ok ? Problems{} : Problems{"Port must be 1\u201365535"};
        EXPECT_EQ(form(ConnectionKind::Ssh, port).problems(), expected) << "port " << port;
    }
    // A device form never looks at the port.
    EXPECT_EQ(form(ConnectionKind::Zavo, "abc", AuthKind::DeviceIdentity).problems().size(), 1u);
}

TEST(ConnectionForm, ProblemsInOrderWithCompatibility) {
    ConnectionForm f = form(ConnectionKind::Zavo, "", AuthKind::DeviceIdentity);
    f.name = "";
    f.host = "  ";
    EXPECT_EQ(f.problems(), (Problems{"Name is required", "Host is required"}));
    f.host = "abc";
    EXPECT_EQ(f.problems(), (Problems{"Name is required", "Zavo device node must be an exact certified endpoint id."}));
    f.auth = AuthKind::Password;
    EXPECT_EQ(f.problems(), (Problems{"Name is required", "Zavo device profiles must use Zavo device identity."}));
    ConnectionForm v = form(ConnectionKind::Vnc, "0", AuthKind::PublicKey);
    EXPECT_EQ(v.problems(),
              (Problems{"Port must be 1\u201365535", "VNC profiles support password authentication only."}));
}

TEST(ConnectionForm, ToConnection) {
    struct Case {
        ConnectionKind kind;
        const char* port;
        std::uint16_t expected;
    };
    const Case cases[] = {
        {ConnectionKind::Vnc, "65536", 5900}, {ConnectionKind::Ssh, "0", 0},   {ConnectionKind::Ssh, "", 22},
        {ConnectionKind::Rdp, "x", 3389},     {ConnectionKind::Zavo, "22", 0}, {ConnectionKind::Ssh, "+0080", 80},
    };
    for (const auto& c : cases) EXPECT_EQ(form(c.kind, c.port).to_connection(Uuid::nil()).port, c.expected) << c.port;

    Uuid id = Uuid::new_v4();
    ConnectionForm f{" name ", "\thost\n", "22", " me ", " grp ", AuthKind::PublicKey, ConnectionKind::Ssh};
    SavedConnection r = f.to_connection(id);
    EXPECT_EQ(r.name, "name");
    EXPECT_EQ(r.host, "host");
    EXPECT_EQ(r.user, "me");
    EXPECT_EQ(r.group, "grp");
    EXPECT_EQ(r.auth, AuthKind::PublicKey);
    EXPECT_EQ(r.last_used, "Never");
    EXPECT_EQ(r.presence, Presence::Unknown);
    EXPECT_FALSE(r.favorite);
    EXPECT_EQ(r.id, id);

    f.kind = ConnectionKind::Vnc;
    EXPECT_EQ(f.to_connection(id).user, "");
    f.kind = ConnectionKind::Zavo;
    EXPECT_EQ(f.to_connection(id).user, "");
    f.kind = ConnectionKind::Rdp;
    EXPECT_EQ(f.to_connection(id).user, "me");
}

TEST(ConnectionForm, FromConnection) {
    SavedConnection r = form(ConnectionKind::Ssh, "22", AuthKind::PublicKey).to_connection(Uuid::new_v4());
    r.user = "u";
    r.group = "g";
    EXPECT_EQ(ConnectionForm::from_connection(r),
              (ConnectionForm{"box", "example.org", "22", "u", "g", AuthKind::PublicKey, ConnectionKind::Ssh}));
    r.port = 0;
    EXPECT_EQ(ConnectionForm::from_connection(r).port, "0");
}

TEST(ConnectionForm, PlaceholdersAndDigitFilter) {
    EXPECT_EQ(field_placeholder(InputSlot::Search), "Search machines\u2026  ( / )");
    EXPECT_EQ(field_placeholder(InputSlot::Group), "group (optional)");
    EXPECT_EQ(digits_only("a1-2 b3\u0663"), "123");
    EXPECT_EQ(digits_only(""), "");
}

}  // namespace
