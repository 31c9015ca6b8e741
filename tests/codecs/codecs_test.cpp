#include "codecs/codecs.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace remote;
using Op = RemoteOperation;

namespace {

const Uuid kId = *Uuid::parse("6f1c2a4e-8d2b-4c1a-9e3f-0a1b2c3d4e5f");

std::vector<Op> every_operation() {
    return {Op{Op::ShowConnections{}},
            Op{Op::NewConnectionForm{}},
            Op{Op::EditConnection{kId}},
            Op{Op::Connect{kId}},
            Op{Op::Disconnect{kId}},
            Op{Op::SendText{kId, "ls -l\n"}},
            Op{Op::TrustSshHostKey{kId, {"ssh-ed25519", "SHA256:x"}}},
            Op{Op::ForgetSshHostKey{kId}}};
}

TEST(Codecs, OperationsRoundTripUnderTheirType) {
    for (const Op& op : every_operation()) {
        auto encoded = encode_remote_operation(op);
        EXPECT_EQ(encoded.type_id, "remote.operation");
        auto decoded = decode_remote_operation(encoded);
        ASSERT_TRUE(decoded && *decoded) << op.serialize_json_writer();
        EXPECT_EQ(**decoded, op);
    }
    EXPECT_EQ(encode_remote_operation(Op{Op::ShowConnections{}}).payload_text(), "\"ShowConnections\"");
    EXPECT_EQ(encode_remote_action(RemoteAction{RemoteAction::DeleteConnection{kId}}).payload_text(),
              R"({"DeleteConnection":{"id":"6f1c2a4e-8d2b-4c1a-9e3f-0a1b2c3d4e5f"}})");
}

TEST(Codecs, DecodeRemoteOperationRefusals) {
    auto bytes = [](std::string_view s) { return std::vector<std::uint8_t>(s.begin(), s.end()); };
    // Another type is not ours, whatever the payload.
    EXPECT_FALSE(decode_remote_operation({"remote.action", bytes("\"ShowConnections\"")}));
    EXPECT_FALSE(decode_remote_operation({"remote.operation2", bytes("\"ShowConnections\"")}));
    auto unknown = decode_remote_operation({"remote.operation", bytes("\"Reboot\"")});
    ASSERT_TRUE(unknown);
    ASSERT_FALSE(*unknown);
    EXPECT_EQ(unknown->error(),
              "unknown variant `Reboot`, expected one of `ShowConnections`, `NewConnectionForm`, `EditConnection`, "
              "`Connect`, `Disconnect`, `SendText`, `TrustSshHostKey`, `ForgetSshHostKey` at line 1 column 8");
    auto trailing = decode_remote_operation({"remote.operation", bytes("\"ShowConnections\" \n\t")});
    ASSERT_TRUE(trailing && *trailing);
}

TEST(Codecs, ActionsCarryTheirPayloads) {
    auto open = operation_action_spec("open", "Open connection settings", OperationKind::View,
                                      Op{Op::EditConnection{kId}});
    EXPECT_EQ(open.kind, 2);
    EXPECT_EQ(open.operation_type, "remote.operation");
    EXPECT_EQ(open.contract.settings, (std::array<std::uint8_t, 5>{0, 0, 0, 0, 1}));
    EXPECT_EQ(open.invoke({}), encode_remote_operation(Op{Op::EditConnection{kId}}));

    auto fav = remote_action_spec("favorite", "Add to favourites", RemoteAction{RemoteAction::SetFavorite{kId, true}});
    EXPECT_EQ(fav.kind, 0);
    EXPECT_FALSE(fav.operation_type);
    EXPECT_EQ(fav.invoke({}), encode_remote_action(RemoteAction{RemoteAction::SetFavorite{kId, true}}));

    EXPECT_EQ(disconnect_encoder(kId)({}), encode_remote_operation(Op{Op::Disconnect{kId}}));
    EXPECT_EQ(send_text_encoder(kId)({}), encode_remote_operation(Op{Op::SendText{kId, ""}}));
    EXPECT_EQ(send_text_encoder(kId)(zavo_actions::params::ActionArgs{{{"text", "pwd"}}}),
              encode_remote_operation(Op{Op::SendText{kId, "pwd"}}));
}

TEST(Codecs, ActionBuildersAndTake) {
    EXPECT_EQ(rename_action(kId, "  spaced  "), (RemoteAction{RemoteAction::RenameConnection{kId, "  spaced  "}}));
    SavedConnection c;
    c.id = kId;
    c.name = "n";
    c.host = "h";
    c.port = 2222;
    c.user = "u";
    c.kind = ConnectionKind::Vnc;
    c.auth = AuthKind::Password;
    c.group = "g";
    c.favorite = true;
    c.last_used = "12m ago";
    EXPECT_EQ(upsert_action(c), (RemoteAction{RemoteAction::UpsertConnection{
                                    kId, "n", "h", 2222, "u", ConnectionKind::Vnc, AuthKind::Password, "g"}}));

    SavedConnection first = c, second = c, other = c;
    first.name = "first";
    second.name = "second";
    other.id = Uuid::new_v4();
    EXPECT_EQ(take_connection_by_id({other, first, second}, kId)->name, "first");
    EXPECT_FALSE(take_connection_by_id({other}, kId));
}

}  // namespace
