#include "doc/profile_document.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

using namespace remote;

namespace {

const Uuid kId = *Uuid::parse("0f8fad5b-d9cb-469f-a165-70867728950e");
const Uuid kOther = *Uuid::parse("7c9e6679-7425-40de-944b-e07fc1f90ae7");

SavedConnection sample(const Uuid& id = kId) {
    SavedConnection c;
    c.name = "Build Box";
    c.host = "build.lab";
    c.port = 2222;
    c.user = "admin";
    c.kind = ConnectionKind::Vnc;
    c.auth = AuthKind::PublicKey;
    c.last_used = "12m ago";
    c.presence = Presence::Online;
    c.group = "lab";
    c.id = id;
    c.favorite = true;
    return c;
}

std::size_t history(ProfileDocument& doc) { return doc.get_changes({}).size(); }

crdt::ObjId connection_map(ProfileDocument& doc, std::string_view key) {
    auto connections = doc.get(crdt::ROOT, "connections");
    auto map = doc.put_object((*connections)->id, key, crdt::ObjType::Map);
    return *map;
}

// A document whose connections map holds one map under `key`, filled by `fill`.
ProfileDocument with_entry(std::string_view key,
                           const std::function<void(ProfileDocument&, const crdt::ObjId&)>& fill) {
    ProfileDocument doc;
    ensure_connections_map(doc);
    const crdt::ObjId map = connection_map(doc, key);
    fill(doc, map);
    return doc;
}

}  // namespace

TEST(ProfileDocument, StoreThenLoadRoundTripsEveryField) {
    ProfileDocument doc;
    store_connection(doc, sample());
    store_connection(doc, sample(kOther));
    const auto loaded = load_connections(doc);
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[0], sample()) << "keys load in byte order";
    EXPECT_EQ(loaded[1], sample(kOther));
}

TEST(ProfileDocument, StoringAnUnchangedConnectionAddsNoHistory) {
    ProfileDocument doc;
    store_connection(doc, sample());
    const std::size_t before = history(doc);
    store_connection(doc, sample());
    EXPECT_EQ(history(doc), before);
    SavedConnection renamed = sample();
    renamed.name = "Build Box 2";
    store_connection(doc, renamed);
    EXPECT_EQ(history(doc), before + 1);
    EXPECT_EQ(load_connections(doc)[0].name, "Build Box 2");
}

TEST(ProfileDocument, MissingOrMistypedConnectionsLoadEmptyAndAreReplacedByTheFirstWrite) {
    const std::function<void(ProfileDocument&)> writes[] = {
        [](ProfileDocument& d) { store_connection(d, sample()); },
        [](ProfileDocument& d) { rename_connection(d, kId, "x"); },
        [](ProfileDocument& d) { set_favorite(d, kId, true); },
        [](ProfileDocument& d) { delete_connection(d, kId); },
    };
    for (const auto& write : writes) {
        for (bool string_there : {false, true}) {
            ProfileDocument doc;
            if (string_there) {
                ASSERT_TRUE(doc.put(crdt::ROOT, "connections", crdt::ScalarValue(std::string("x"))));
            }
            EXPECT_TRUE(load_connections(doc).empty());
            write(doc);
            auto entry = doc.get(crdt::ROOT, "connections");
            ASSERT_TRUE(entry && *entry);
            EXPECT_TRUE((*entry)->value.is_object(crdt::ObjType::Map));
        }
    }
}

TEST(ProfileDocument, LoadReadsWrongShapesAsDefaults) {
    using Fill = std::function<void(ProfileDocument&, const crdt::ObjId&)>;
    const auto scalar = [](std::string key, crdt::ScalarValue v) -> Fill {
        return [key, v](ProfileDocument& d, const crdt::ObjId& m) { ASSERT_TRUE(d.put(m, key, v)); };
    };
    struct Case {
        const char* what;
        Fill fill;
        std::function<void(SavedConnection&)> expect;  // applied to the all-default record
    };
    const Case cases[] = {
        {"only kind VNC", scalar("kind", std::string("VNC")), [](SavedConnection& c) { c.kind = ConnectionKind::Vnc; }},
        {"kind as a label", scalar("kind", std::string("Zavo device")), [](SavedConnection&) {}},
        {"name as a string scalar", scalar("name", std::string("Box")), [](SavedConnection&) {}},
        {"host as a number", scalar("host", std::int64_t{5}), [](SavedConnection&) {}},
        {"favorite as text", scalar("favorite", std::string("true")), [](SavedConnection&) {}},
        {"favorite true", scalar("favorite", true), [](SavedConnection& c) { c.favorite = true; }},
        {"port float 22.9", scalar("port", 22.9), [](SavedConnection& c) { c.port = 22; }},
        {"port 70000", scalar("port", std::int64_t{70000}), [](SavedConnection& c) { c.port = 4464; }},
        {"port -1", scalar("port", std::int64_t{-1}), [](SavedConnection& c) { c.port = 65535; }},
        {"port unsigned", scalar("port", std::uint64_t{5900}), [](SavedConnection& c) { c.port = 5900; }},
        {"port counter", scalar("port", crdt::Counter{22}), [](SavedConnection& c) { c.port = 22; }},
        {"port timestamp", scalar("port", crdt::Timestamp{65536 + 80}), [](SavedConnection& c) { c.port = 80; }},
        {"port huge float", scalar("port", 1e300), [](SavedConnection& c) { c.port = 65535; }},
        {"port NaN", scalar("port", std::nan("")), [](SavedConnection&) {}},
        {"port as text", scalar("port", std::string("22")), [](SavedConnection&) {}},
        {"port as bool", scalar("port", true), [](SavedConnection&) {}},
        {"name as a text object",
         [](ProfileDocument& d, const crdt::ObjId& m) {
             auto t = d.put_object(m, "name", crdt::ObjType::Text);
             ASSERT_TRUE(d.splice_text(*t, 0, 0, "Café"));
         },
         [](SavedConnection& c) { c.name = "Café"; }},
        {"user as a map object",
         [](ProfileDocument& d, const crdt::ObjId& m) { ASSERT_TRUE(d.put_object(m, "user", crdt::ObjType::Map)); },
         [](SavedConnection&) {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProfileDocument doc = with_entry(kId.to_string(), c.fill);
        SavedConnection expected;
        expected.id = kId;
        c.expect(expected);
        const auto loaded = load_connections(doc);
        ASSERT_EQ(loaded.size(), 1u);
        EXPECT_EQ(loaded[0], expected);
    }
}

TEST(ProfileDocument, MalformedEntriesAreSkippedAndTheRestLoad) {
    ProfileDocument doc;
    store_connection(doc, sample());
    const auto connections = (*doc.get(crdt::ROOT, "connections"))->id;
    ASSERT_TRUE(doc.put_object(connections, "not-a-uuid", crdt::ObjType::Map));
    ASSERT_TRUE(doc.put(connections, kOther.to_string(), crdt::ScalarValue(std::string("scalar"))));
    const auto loaded = load_connections(doc);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0], sample());
}

TEST(ProfileDocument, AnUpperCaseKeyLoadsButWritesGoToTheCanonicalKey) {
    std::string upper = kId.to_string();
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    ProfileDocument doc = with_entry(upper, [](ProfileDocument& d, const crdt::ObjId& m) {
        ASSERT_TRUE(d.put(m, "host", crdt::ScalarValue(std::string("old"))));
    });
    auto loaded = load_connections(doc);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].id, kId);
    store_connection(doc, sample());
    loaded = load_connections(doc);
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[0].id, kId);
    EXPECT_EQ(loaded[1].id, kId);
}

TEST(ProfileDocument, StoreReplacesAStringNameAndKeepsUnknownKeys) {
    ProfileDocument doc = with_entry(kId.to_string(), [](ProfileDocument& d, const crdt::ObjId& m) {
        ASSERT_TRUE(d.put(m, "name", crdt::ScalarValue(std::string("scalar name"))));
        ASSERT_TRUE(d.put(m, "note", crdt::ScalarValue(std::string("from a newer version"))));
    });
    ASSERT_TRUE(doc.put(crdt::ROOT, "settings", crdt::ScalarValue(true)));
    store_connection(doc, sample());
    EXPECT_EQ(load_connections(doc)[0], sample());
    const auto connections = (*doc.get(crdt::ROOT, "connections"))->id;
    const auto map = (*doc.get(connections, kId.to_string()))->id;
    EXPECT_TRUE((*doc.get(map, "name"))->value.is_object(crdt::ObjType::Text));
    EXPECT_EQ(read_string_property(doc, map, "note"), "from a newer version");
    EXPECT_TRUE(*doc.get(crdt::ROOT, "settings"));
}

TEST(ProfileDocument, RenameFavoriteAndDeleteOfAMissingIdChangeNoConnection) {
    ProfileDocument doc;
    store_connection(doc, sample());
    const auto before = load_connections(doc);
    const std::size_t changes = history(doc);
    rename_connection(doc, kOther, "x");
    set_favorite(doc, kOther, true);
    delete_connection(doc, kOther);
    EXPECT_EQ(load_connections(doc), before);
    EXPECT_EQ(history(doc), changes);
}

TEST(ProfileDocument, RenameFavoriteAndDeleteChangeTheStoredConnection) {
    ProfileDocument doc;
    store_connection(doc, sample());
    rename_connection(doc, kId, "Build Box (old)");
    set_favorite(doc, kId, false);
    SavedConnection expected = sample();
    expected.name = "Build Box (old)";
    expected.favorite = false;
    EXPECT_EQ(load_connections(doc), std::vector<SavedConnection>{expected});
    const std::size_t changes = history(doc);
    set_favorite(doc, kId, false);
    EXPECT_EQ(history(doc), changes) << "an unchanged favourite is not written";
    delete_connection(doc, kId);
    EXPECT_TRUE(load_connections(doc).empty());
}

TEST(ProfileDocument, ReadStringPropertyIsEmptyForEverythingButAString) {
    ProfileDocument doc;
    ASSERT_TRUE(doc.put(crdt::ROOT, "s", crdt::ScalarValue(std::string("text"))));
    ASSERT_TRUE(doc.put(crdt::ROOT, "n", crdt::ScalarValue(std::int64_t{1})));
    ASSERT_TRUE(doc.put_object(crdt::ROOT, "t", crdt::ObjType::Text));
    EXPECT_EQ(read_string_property(doc, crdt::ROOT, "s"), "text");
    for (const char* key : {"n", "t", "absent"}) EXPECT_EQ(read_string_property(doc, crdt::ROOT, key), "") << key;
    auto list = doc.put_object(crdt::ROOT, "l", crdt::ObjType::List);
    EXPECT_EQ(read_string_property(doc, *list, "s"), "") << "a failed read";
}

namespace {

// Two documents that each made their own connections map with a plain put_object, as replicas
// did before the map was made alike everywhere, merged into one with both maps in conflict.
// The second replica's map wins (equal counters, greater actor); the first one's is hidden.
ProfileDocument concurrent_maps(const std::vector<SavedConnection>& first, const std::vector<SavedConnection>& second) {
    ProfileDocument merged;
    std::uint8_t actor = 1;
    for (const auto* list : {&first, &second}) {
        ProfileDocument replica(crdt::ActorId({actor++}));
        EXPECT_TRUE(replica.put_object(crdt::ROOT, "connections", crdt::ObjType::Map));
        for (const auto& c : *list) store_connection(replica, c);
        EXPECT_TRUE(merged.merge(replica));
    }
    return merged;
}

std::vector<Uuid> ids_of(const std::vector<SavedConnection>& list) {
    std::vector<Uuid> ids;
    for (const auto& c : list) ids.push_back(c.id);
    return ids;
}

}  // namespace

TEST(ProfileDocument, ReplicasThatStartApartShareOneConnectionsMap) {
    ProfileDocument a, b;
    ASSERT_TRUE(b.put(crdt::ROOT, "settings", crdt::ScalarValue(true)));  // a history of its own first
    store_connection(a, sample(kId));
    store_connection(b, sample(kOther));
    ASSERT_TRUE(a.merge(b));
    ASSERT_TRUE(b.merge(a));
    EXPECT_EQ(ids_of(load_connections(a)), (std::vector<Uuid>{kId, kOther}));
    EXPECT_EQ(load_connections(a), load_connections(b));
    EXPECT_EQ(a.get_all(crdt::ROOT, "connections")->size(), 1u) << "one map, made by the same change on both";
    EXPECT_FALSE(repair_connections_map(a));
}

TEST(ProfileDocument, ConcurrentConnectionsMapsReadAsOneAndRepairStably) {
    SavedConnection both = sample(kId);
    const Uuid third = *Uuid::parse("3f2504e0-4f89-11d3-9a0c-0305e82c3301");
    SavedConnection renamed = sample(kId);
    renamed.name = "Renamed elsewhere";
    ProfileDocument doc = concurrent_maps({both, sample(kOther)}, {renamed, sample(third)});
    ASSERT_EQ(doc.get_all(crdt::ROOT, "connections")->size(), 2u);
    const auto before = load_connections(doc);
    EXPECT_EQ(ids_of(before), (std::vector<Uuid>{kId, third, kOther})) << "each id once, in key order";

    // Two replicas repair apart, then meet: the same list, once, and nothing left to repair.
    ProfileDocument other = doc.fork();
    EXPECT_TRUE(repair_connections_map(doc));
    EXPECT_TRUE(repair_connections_map(other));
    EXPECT_EQ(load_connections(doc), before);
    ASSERT_TRUE(doc.merge(other));
    ASSERT_TRUE(other.merge(doc));
    EXPECT_EQ(load_connections(doc), before);
    EXPECT_EQ(load_connections(other), before);
    const std::size_t changes = history(doc);
    EXPECT_FALSE(repair_connections_map(doc));
    EXPECT_EQ(history(doc), changes);

    // The map that wins holds everything now, as any reader of the document sees it.
    const auto winner = (*doc.get(crdt::ROOT, "connections"))->id;
    EXPECT_EQ(doc.length(winner).value(), 3u);
    // A connection that came from the hidden map stays deleted.
    for (const Uuid& id : {kOther, third}) delete_connection(doc, id);
    EXPECT_EQ(ids_of(load_connections(doc)), std::vector<Uuid>{kId});
}

TEST(ProfileDocument, WritesRepairConcurrentMapsFirst) {
    ProfileDocument doc = concurrent_maps({sample(kId)}, {sample(kOther)});
    rename_connection(doc, kId, "Renamed");  // kId sits in the hidden map
    auto loaded = load_connections(doc);
    ASSERT_EQ(ids_of(loaded), (std::vector<Uuid>{kId, kOther}));
    EXPECT_EQ(loaded[0].name, "Renamed");
    EXPECT_FALSE(repair_connections_map(doc)) << "the write repaired it";
    delete_connection(doc, kId);
    EXPECT_EQ(ids_of(load_connections(doc)), std::vector<Uuid>{kOther});
}

TEST(ProfileDocument, TheChangeThatMakesTheConnectionsMapNeverChanges) {
    // Replicas of every version make this very change: its bytes, and so its hash, are fixed.
    ProfileDocument doc;
    ensure_connections_map(doc);
    const auto changes = doc.get_changes({});
    ASSERT_EQ(changes.size(), 1u);
    const crdt::Change& made = changes[0];
    EXPECT_EQ(made.actor_id().to_hex(), "7a61766f2f636f6e6e656374696f6e73");  // "zavo/connections"
    EXPECT_EQ(made.seq(), 1u);
    EXPECT_EQ(made.time(), 0);
    EXPECT_TRUE(made.deps().empty());
    EXPECT_EQ(made.hash().to_hex(), "208de1dafa013bfc048dcbd22f93cf0424af7bc99af5b9008ce53e16fa06dc78");
}
