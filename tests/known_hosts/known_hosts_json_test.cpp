#include "known_hosts/known_hosts_json.hpp"

#include <gtest/gtest.h>

#include <string>

namespace remote {
namespace {

const KnownHosts kOnePin{{KnownHostEntry{"abc", 22, HostKeyIdentity{"ssh-ed25519", "SHA256:abc"}}}};

const char* kOnePinText = R"({
  "entries": [
    {
      "host": "abc",
      "port": 22,
      "identity": {
        "algorithm": "ssh-ed25519",
        "fingerprint": "SHA256:abc"
      }
    }
  ]
})";

// The message of a refused store, without its position.
std::string refusal(std::string_view text) {
    auto decoded = KnownHosts::deserialize_json(text);
    if (decoded) return "accepted";
    return decoded.error().message;
}

TEST(KnownHostsJson, WritesTheExactIndentedForm) {
    EXPECT_EQ(KnownHosts{}.serialize(), "{\n  \"entries\": []\n}");
    EXPECT_EQ(KnownHosts{}.serialize().size(), 19u);
    EXPECT_EQ(kOnePin.serialize(), kOnePinText);

    KnownHosts two{{kOnePin.entries[0], KnownHostEntry{"h\r\x1b\"\\/é", 0, {"a", "b"}}}};
    std::string text = two.serialize();
    EXPECT_NE(text.find(R"("host": "h\r\u001b\"\\/é")"), std::string::npos) << text;
    EXPECT_NE(text.find("\"port\": 0,\n"), std::string::npos);
    EXPECT_NE(text.find("    },\n    {\n"), std::string::npos);
    EXPECT_EQ(KnownHosts::deserialize_json(text), two);
}

TEST(KnownHostsJson, AcceptsBothRecordFormsAnyMemberOrderAndUnknownMembers) {
    const std::pair<const char*, KnownHosts> cases[] = {
        {R"({"entries":[]})", KnownHosts{}},
        {"[[]]", KnownHosts{}},
        {" \t\r\n{\"entries\":[]}\n", KnownHosts{}},
        {kOnePinText, kOnePin},
        {R"([[["abc",22,["ssh-ed25519","SHA256:abc"]]]])", kOnePin},
        {R"({"entries":[{"identity":{"fingerprint":"SHA256:abc","algorithm":"ssh-ed25519"},"port":22,"host":"abc"}]})",
         kOnePin},
        {R"({"x":[{"a":null},[null,{}],"}"],"entries":[{"Host":1,"host":"abc","port":22,"identity":{"algorithm":"ssh-ed25519","fingerprint":"SHA256:abc","extra":{"deep":[[[]]]}}}],"y":-1.5e3})",
         kOnePin},
        {R"({"entries":[{"host":"abc","port":65535,"identity":{"algorithm":"\u0061","fingerprint":"\ud83d\ude00"}}]})",
         KnownHosts{{KnownHostEntry{"abc", 65535, {"a", "\xF0\x9F\x98\x80"}}}}},
    };
    for (const auto& [text, expected] : cases) {
        auto decoded = KnownHosts::deserialize_json(text);
        ASSERT_TRUE(decoded) << text << ": " << decoded.error().to_string();
        EXPECT_EQ(*decoded, expected) << text;
    }
}

TEST(KnownHostsJson, RefusesWithTheSchemaTexts) {
    const std::pair<const char*, const char*> cases[] = {
        {"{}", "missing field `entries`"},
        {"[]", "invalid length 0, expected struct KnownHosts with 1 element"},
        {R"([[["abc",22]]])", "invalid length 2, expected struct KnownHostEntry with 3 elements"},
        {R"([[["abc",22,["a"]]]])", "invalid length 1, expected struct HostKeyIdentity with 2 elements"},
        {R"([[],1])", "trailing characters"},
        {R"([[],])", "trailing comma"},
        {R"({"entries":[],"entries":[]})", "duplicate field `entries`"},
        {R"({"entries":[{"host":"a","host":"a"}]})", "duplicate field `host`"},
        {R"({"entries":[{"host":"a","port":1}]})", "missing field `identity`"},
        {R"({"Entries":[]})", "missing field `entries`"},
        {R"("x")", "invalid type: string \"x\", expected struct KnownHosts"},
        {"null", "invalid type: null, expected struct KnownHosts"},
        {R"({"entries":{}})", "invalid type: map, expected a sequence"},
        {R"({"entries":[1]})", "invalid type: integer `1`, expected struct KnownHostEntry"},
        {R"({"entries":[["a",1,"k"]]})", "invalid type: string \"k\", expected struct HostKeyIdentity"},
        {R"([[[null,1,["a","b"]]]])", "invalid type: null, expected a string"},
        {R"([[["a",65536,["a","b"]]]])", "invalid value: integer `65536`, expected u16"},
        {R"([[["a",-1,["a","b"]]]])", "invalid value: integer `-1`, expected u16"},
        {R"([[["a",2.5,["a","b"]]]])", "invalid type: floating point `2.5`, expected u16"},
        {R"([[["a","22",["a","b"]]]])", "invalid type: string \"22\", expected u16"},
        {R"({"entries":[]} x)", "trailing characters"},
        {"\xEF\xBB\xBF{\"entries\":[]}", "expected value"},
        {"", "EOF while parsing a value"},
        {R"({"entries":[)", "EOF while parsing a list"},
        {R"({"entries")", "EOF while parsing an object"},
        {R"({"entries":[],})", "trailing comma"},
        {R"({"x":[1,]})", "trailing comma"},
        {R"({"x":{"a" 1}})", "expected `:`"},
        {R"({"x":{1:2}})", "key must be a string"},
        {R"({"x":[1 2]})", "expected `,` or `]`"},
        {R"({"x":tru})", "expected ident"},
        {R"({"x":01})", "invalid number"},
        {R"({"x":"\q"})", "invalid escape"},
        {"{\"x\":\"a\x01\"}", "control character (\\u0000-\\u001F) found while parsing a string"},
        {"{\"x\":\"\xC3\"}", "invalid unicode code point"},
        {R"({"x":"\udc00"})", "lone leading surrogate in hex escape"},
    };
    for (const auto& [text, message] : cases) EXPECT_EQ(refusal(text), message) << text;
}

TEST(KnownHostsJson, ErrorsCarryTheirPosition) {
    auto decoded = KnownHosts::deserialize_json("{\n  \"entries\": [],\n  \"entries\": []\n}");
    ASSERT_FALSE(decoded);
    EXPECT_EQ(decoded.error().to_string(), "duplicate field `entries` at line 3 column 11");
    decoded = KnownHosts::deserialize_json("{\"entries\":[]} x");
    ASSERT_FALSE(decoded);
    EXPECT_EQ(decoded.error().to_string(), "trailing characters at line 1 column 16");
}

TEST(KnownHostsJson, SkipsDeeplyNestedUnknownMembersWithoutRecursion) {
    constexpr std::size_t depth = 1'000'000;
    std::string text = R"({"deep":)" + std::string(depth, '[') + std::string(depth, ']') + R"(,"entries":[]})";
    auto decoded = KnownHosts::deserialize_json(text);
    ASSERT_TRUE(decoded) << decoded.error().to_string();
    EXPECT_TRUE(decoded->entries.empty());

    std::string objects;
    for (std::size_t i = 0; i < depth; ++i) objects += R"({"a":)";
    EXPECT_EQ(refusal(R"({"deep":)" + objects), "EOF while parsing a value");
    EXPECT_EQ(refusal(R"({"deep":)" + std::string(depth, '[')), "EOF while parsing a value");
}

}  // namespace
}  // namespace remote
