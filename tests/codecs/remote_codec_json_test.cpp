#include "codecs/remote_action.hpp"
#include "codecs/remote_operation.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace remote;

namespace {

const Uuid kZero = Uuid::nil();
constexpr const char* kZ = "00000000-0000-0000-0000-000000000000";
using Op = RemoteOperation;
using Act = RemoteAction;

Act upsert() {
    return Act{Act::UpsertConnection{kZero, "abc", "abc", 22, "abc", ConnectionKind::Ssh, AuthKind::Password, ""}};
}

TEST(RemoteCodecJson, WritesTheWorkedExamplesByteForByte) {
    const std::pair<Act, std::string> actions[] = {
        {upsert(),
         R"({"UpsertConnection":{"id":"00000000-0000-0000-0000-000000000000","name":"abc","host":"abc","port":22,"user":"abc","kind":"Ssh","auth":"Password","group":""}})"},
        {Act{Act::RenameConnection{kZero, "abc"}},
         R"({"RenameConnection":{"id":"00000000-0000-0000-0000-000000000000","name":"abc"}})"},
        {Act{Act::SetFavorite{kZero, true}},
         R"({"SetFavorite":{"id":"00000000-0000-0000-0000-000000000000","favorite":true}})"},
        {Act{Act::DeleteConnection{kZero}}, R"({"DeleteConnection":{"id":"00000000-0000-0000-0000-000000000000"}})"},
    };
    for (const auto& [action, text] : actions) {
        EXPECT_EQ(action.serialize_json_writer(), text);
        EXPECT_EQ(Act::deserialize_json(text), action) << text;
    }
    const std::pair<Op, std::string> operations[] = {
        {Op{Op::ShowConnections{}}, R"("ShowConnections")"},
        {Op{Op::NewConnectionForm{}}, R"("NewConnectionForm")"},
        {Op{Op::Connect{kZero}}, R"({"Connect":{"connection_id":"00000000-0000-0000-0000-000000000000"}})"},
        {Op{Op::EditConnection{kZero}},
         R"({"EditConnection":{"connection_id":"00000000-0000-0000-0000-000000000000"}})"},
        {Op{Op::Disconnect{kZero}}, R"({"Disconnect":{"connection_id":"00000000-0000-0000-0000-000000000000"}})"},
        {Op{Op::ForgetSshHostKey{kZero}},
         R"({"ForgetSshHostKey":{"connection_id":"00000000-0000-0000-0000-000000000000"}})"},
        {Op{Op::SendText{kZero, "abc"}},
         R"({"SendText":{"connection_id":"00000000-0000-0000-0000-000000000000","text":"abc"}})"},
        {Op{Op::TrustSshHostKey{kZero, {"ssh-ed25519", "SHA256:abc"}}},
         R"({"TrustSshHostKey":{"connection_id":"00000000-0000-0000-0000-000000000000","observed":{"algorithm":"ssh-ed25519","fingerprint":"SHA256:abc"}}})"},
    };
    for (const auto& [operation, text] : operations) {
        EXPECT_EQ(operation.serialize_json_writer(), text);
        EXPECT_EQ(Op::deserialize_json(text), operation) << text;
    }
    EXPECT_EQ((Op{Op::ShowConnections{}}).serialize_json_writer().size(), 17u);
}

TEST(RemoteCodecJson, ScalarsRoundTrip) {
    Uuid id = Uuid::new_v4();
    Act odd{Act::UpsertConnection{id, "a\r\x1b\"\\/\x7fé", "h", 0, "", ConnectionKind::Zavo, AuthKind::DeviceIdentity,
                                  "g"}};
    std::string text = odd.serialize_json_writer();
    EXPECT_NE(text.find("\"name\":\"a\\r\\u001b\\\"\\\\/\x7f\u00e9\""), std::string::npos) << text;
    EXPECT_NE(text.find(R"("port":0,)"), std::string::npos);
    EXPECT_NE(text.find(id.to_string()), std::string::npos);
    EXPECT_EQ(Act::deserialize_json(text), odd);
    for (ConnectionKind kind : {ConnectionKind::Ssh, ConnectionKind::Vnc, ConnectionKind::Rdp, ConnectionKind::Zavo})
        for (AuthKind auth : {AuthKind::Password, AuthKind::PublicKey, AuthKind::DeviceIdentity}) {
            Act a{Act::UpsertConnection{id, "n", "h", 65535, "u", kind, auth, ""}};
            EXPECT_EQ(Act::deserialize_json(a.serialize_json_writer()), a);
        }
}

TEST(RemoteCodecJson, AcceptsBothEnumerationAndRecordForms) {
    const std::pair<const char*, Op> operations[] = {
        {R"({"ShowConnections":null})", Op{Op::ShowConnections{}}},
        {" \"NewConnectionForm\"\n", Op{Op::NewConnectionForm{}}},
        {R"({"Connect":["00000000-0000-0000-0000-000000000000"]})", Op{Op::Connect{kZero}}},
        {R"({"Connect":{"x":[{"a":null},null],"connection_id":"00000000-0000-0000-0000-000000000000"}})",
         Op{Op::Connect{kZero}}},
        {R"({"TrustSshHostKey":["00000000-0000-0000-0000-000000000000",["a","b"]]})",
         Op{Op::TrustSshHostKey{kZero, {"a", "b"}}}},
        {R"({"Connect":{"connection_id":"0000000000000000000000000000000A"}})",
         Op{Op::Connect{*Uuid::parse("0000000000000000000000000000000a")}}},
    };
    for (const auto& [text, expected] : operations) {
        auto decoded = Op::deserialize_json(text);
        ASSERT_TRUE(decoded) << text << ": " << decoded.error().to_string();
        EXPECT_EQ(*decoded, expected) << text;
    }
    auto upper = Act::deserialize_json(
        R"({"SetFavorite":{"favorite":false,"id":"ABCDEF00-0000-4000-8000-00000000000A"}})");
    ASSERT_TRUE(upper);
    EXPECT_EQ(std::get<Act::SetFavorite>(upper->value).id.to_string(), "abcdef00-0000-4000-8000-00000000000a");
    auto kinds = Act::deserialize_json(
        R"({"UpsertConnection":["00000000-0000-0000-0000-000000000000","abc","abc",22,"abc",{"Ssh":null},{"Password":null},""]})");
    ASSERT_TRUE(kinds) << kinds.error().to_string();
    EXPECT_EQ(*kinds, upsert());
}

TEST(RemoteCodecJson, RefusesWithTheSchemaTexts) {
    const std::string id = std::string("\"") + kZ + "\"";
    auto upsert_with = [&](std::string field, std::string value) {
        std::string fields = R"("id":)" + id +
                             R"(,"name":"a","host":"a","port":22,"user":"a","kind":"Ssh","auth":"Password","group":"")";
        std::size_t at = fields.find("\"" + field + "\":");
        std::size_t end = fields.find(",\"", at + 1);
        fields.replace(at, (end == std::string::npos ? fields.size() : end) - at, "\"" + field + "\":" + value);
        return R"({"UpsertConnection":{)" + fields + "}}";
    };
    const std::pair<std::string, std::string> actions[] = {
        {upsert_with("kind", R"("SSH")"), "unknown variant `SSH`, expected one of `Ssh`, `Vnc`, `Rdp`, `Zavo`"},
        {upsert_with("auth", R"("Public key")"),
         "unknown variant `Public key`, expected one of `Password`, `PublicKey`, `DeviceIdentity`"},
        {upsert_with("kind", "3"), "expected value"},
        {upsert_with("port", "65536"), "invalid value: integer `65536`, expected u16"},
        {upsert_with("port", "-1"), "invalid value: integer `-1`, expected u16"},
        {upsert_with("port", "22.0"), "invalid type: floating point `22.0`, expected u16"},
        {upsert_with("port", R"("22")"), "invalid type: string \"22\", expected u16"},
        {upsert_with("name", "null"), "invalid type: null, expected a string"},
        {upsert_with("id", "7"), "invalid type: integer `7`, expected a formatted UUID string"},
        {upsert_with("id", R"("xyz")"),
         "UUID parsing failed: invalid character: expected an optional prefix of `urn:uuid:` followed by "
         "[0-9a-fA-F-], found `x` at 1"},
        {R"({"SetFavorite":{"id":)" + id + R"(,"favorite":"true"}})",
         "invalid type: string \"true\", expected a boolean"},
        {R"({"DeleteConnection":{"Id":)" + id + "}}", "missing field `id`"},
        {R"({"DeleteConnection":{"id":)" + id + R"(,"id":)" + id + "}}", "duplicate field `id`"},
        {R"({"DeleteConnection":[]})",
         "invalid length 0, expected struct variant RemoteAction::DeleteConnection with 1 element"},
        {R"({"RenameConnection":[)" + id + "]}",
         "invalid length 1, expected struct variant RemoteAction::RenameConnection with 2 elements"},
        {R"({"DeleteConnection":"x"})",
         "invalid type: string \"x\", expected struct variant RemoteAction::DeleteConnection"},
        {R"("DeleteConnection")", "invalid type: unit variant, expected struct variant"},
        {R"({"Delete":{}})",
         "unknown variant `Delete`, expected one of `UpsertConnection`, `RenameConnection`, `SetFavorite`, "
         "`DeleteConnection`"},
        {R"({"DeleteConnection":{"id":)" + id + R"(}} x)", "trailing characters"},
    };
    for (const auto& [text, message] : actions) {
        auto decoded = Act::deserialize_json(text);
        ASSERT_FALSE(decoded) << text;
        EXPECT_EQ(decoded.error().message, message) << text;
    }
    const std::pair<std::string, std::string> operations[] = {
        {R"("Connect")", "invalid type: unit variant, expected struct variant"},
        {R"({"ShowConnections":{}})", "invalid type: map, expected unit"},
        {R"({"SendText":[)" + id + "]}",
         "invalid length 1, expected struct variant RemoteOperation::SendText with 2 elements"},
        {R"({"SendText":[)" + id + R"(,"a","b"]})", "trailing characters"},
        {R"({"SendText":[)" + id + R"(,"a",]})", "trailing comma"},
        {R"({"TrustSshHostKey":[)" + id + R"(,{"algorithm":"a"}]})", "missing field `fingerprint`"},
        {R"({})", "expected value"},
        {R"({"ShowConnections":null,"NewConnectionForm":null})", "expected value"},
        {R"({1:null})", "invalid type: integer `1`, expected variant identifier"},
        {R"("showConnections")",
         "unknown variant `showConnections`, expected one of `ShowConnections`, `NewConnectionForm`, "
         "`EditConnection`, `Connect`, `Disconnect`, `SendText`, `TrustSshHostKey`, `ForgetSshHostKey`"},
        {"[]", "expected value"},
        {"\xEF\xBB\xBF\"ShowConnections\"", "expected value"},
        {R"("ShowConnections",)", "trailing characters"},
    };
    for (const auto& [text, message] : operations) {
        auto decoded = Op::deserialize_json(text);
        ASSERT_FALSE(decoded) << text;
        EXPECT_EQ(decoded.error().message, message) << text;
    }
}

TEST(RemoteCodecJson, DebugAndValueForms) {
    EXPECT_EQ(upsert().to_debug_string(),
              "UpsertConnection { id: 00000000-0000-0000-0000-000000000000, name: \"abc\", host: \"abc\", port: 22, "
              "user: \"abc\", kind: Ssh, auth: Password, group: \"\" }");
    EXPECT_EQ((Act{Act::RenameConnection{kZero, "a\"b\n"}}).to_debug_string(),
              "RenameConnection { id: 00000000-0000-0000-0000-000000000000, name: \"a\\\"b\\n\" }");
    EXPECT_EQ((Act{Act::SetFavorite{kZero, false}}).to_debug_string(),
              "SetFavorite { id: 00000000-0000-0000-0000-000000000000, favorite: false }");
    EXPECT_EQ((Act{Act::DeleteConnection{kZero}}).to_debug_string(),
              "DeleteConnection { id: 00000000-0000-0000-0000-000000000000 }");
    // The value form keeps the declared order and the same text when dumped compactly.
    EXPECT_EQ(upsert().serialize().dump(), upsert().serialize_json_writer());
    EXPECT_EQ(upsert().serialize().begin().key(), "UpsertConnection");
}

TEST(RemoteCodecJson, OperationKindFollowsTheVariant) {
    EXPECT_EQ((Op{Op::ShowConnections{}}).kind(), OperationKind::View);
    EXPECT_EQ((Op{Op::EditConnection{kZero}}).kind(), OperationKind::View);
    EXPECT_EQ((Op{Op::SendText{kZero, ""}}).kind(), OperationKind::Session);
    EXPECT_EQ((Op{Op::ForgetSshHostKey{kZero}}).kind(), OperationKind::Session);
}

}  // namespace
