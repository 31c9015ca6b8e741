// Our files against the reference library, run by node from tests/interop (installed by
// scripts/install-deps with npm ci).
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <bit>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "crdt/document.hpp"
#include "doc/profile_document.hpp"

namespace {

namespace fs = std::filesystem;
using crdt::Document;
using crdt::ObjType;
using crdt::ROOT;
using nlohmann::json;

const fs::path interop_dir = fs::path(REMOTE_SOURCE_DIR) / "tests" / "interop";

struct TempDir {
    fs::path path;
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "crdt-interop-XXXXXX").string();
        path = mkdtemp(tmpl.data());
    }
    ~TempDir() { fs::remove_all(path); }
};

// Runs the library's side; fails the test when node or the library is missing.
json node(const std::string& args) {
    if (!fs::exists(interop_dir / "node_modules" / "@automerge" / "automerge")) {
        ADD_FAILURE() << "the reference library is not installed: run scripts/install-deps";
        return {};
    }
    std::string cmd = "node '" + (interop_dir / "check.mjs").string() + "' " + args;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) {
        ADD_FAILURE() << "cannot run " << cmd;
        return {};
    }
    std::string out;
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    int rc = pclose(p);
    if (rc != 0) {
        ADD_FAILURE() << cmd << " exited with " << rc;
        return {};
    }
    return json::parse(out);
}

std::string hex(std::span<const std::uint8_t> bytes) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (auto b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

json describe_object(const Document& doc, const crdt::ObjId& obj);

json describe_values(const Document& doc, const std::vector<crdt::Entry>& entries) {
    json out = json::array();
    for (const auto& e : entries) {
        if (e.value.is_object()) {
            json o = describe_object(doc, e.id);
            o["id"] = e.id.to_string();
            out.push_back(o);
            continue;
        }
        struct V {
            json operator()(crdt::Null) const { return {{"type", "null"}, {"value", ""}}; }
            json operator()(const std::string& s) const { return {{"type", "str"}, {"value", s}}; }
            json operator()(std::int64_t i) const { return {{"type", "int"}, {"value", std::to_string(i)}}; }
            json operator()(std::uint64_t u) const { return {{"type", "uint"}, {"value", std::to_string(u)}}; }
            json operator()(double d) const {
                auto bits = std::bit_cast<std::uint64_t>(d);
                std::uint8_t le[8];
                for (int k = 0; k < 8; ++k) le[k] = static_cast<std::uint8_t>(bits >> (8 * k));
                return {{"type", "f64"}, {"value", hex(le)}};
            }
            json operator()(crdt::Counter c) const { return {{"type", "counter"}, {"value", std::to_string(c.value)}}; }
            json operator()(crdt::Timestamp t) const {
                return {{"type", "timestamp"}, {"value", std::to_string(t.millis)}};
            }
            json operator()(bool b) const { return {{"type", "boolean"}, {"value", b ? "true" : "false"}}; }
            json operator()(const crdt::Bytes& b) const { return {{"type", "bytes"}, {"value", hex(b)}}; }
            json operator()(const crdt::Unknown& u) const {
                return {{"type", "unknown" + std::to_string(u.type_code)}, {"value", hex(u.bytes)}};
            }
        };
        out.push_back(std::visit(V{}, *e.value.scalar()));
    }
    return out;
}

json describe_object(const Document& doc, const crdt::ObjId& obj) {
    switch (doc.object_type(obj).value()) {
        case ObjType::Text: return {{"text", doc.text(obj).value()}};
        case ObjType::List: {
            json list = json::array();
            for (std::size_t i = 0; i < doc.length(obj).value(); ++i)
                list.push_back(describe_values(doc, doc.get_all(obj, i).value()));
            return {{"list", list}};
        }
        case ObjType::Map: break;
    }
    json map = json::object();
    auto keys = doc.keys(obj).value();
    for (const auto& k : keys) map[k] = describe_values(doc, doc.get_all(obj, k).value());
    return {{"map", map}};
}

json describe(Document& doc) {
    json heads = json::array();
    for (const auto& h : doc.get_heads()) heads.push_back(h.to_hex());
    return {{"heads", heads}, {"root", describe_object(doc, ROOT)}};
}

void write_file(const fs::path& p, std::span<const std::uint8_t> bytes) {
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(Interop, OurDocumentLoadsInTheLibraryWithEqualValuesConflictsAndHeads) {
    Document a(crdt::ActorId::from_hex("aa01").value());
    auto conns = a.put_object(ROOT, "connections", ObjType::Map).value();
    auto c = a.put_object(conns, "3f2504e0-4f89-11d3-9a0c-0305e82c3301", ObjType::Map).value();
    auto name = a.put_object(c, "name", ObjType::Text).value();
    ASSERT_TRUE(a.splice_text(name, 0, 0, "Caf\xc3\xa9 \xf0\x9f\x98\x80 d\xc3\xb8r"));
    ASSERT_TRUE(a.put(c, "port", std::int64_t{22}));
    ASSERT_TRUE(a.put(c, "uint", std::uint64_t{1} << 63));
    ASSERT_TRUE(a.put(c, "f64", 0.1));
    ASSERT_TRUE(a.put(c, "neg", std::int64_t{-9000000000}));
    ASSERT_TRUE(a.put(c, "favorite", false));
    ASSERT_TRUE(a.put(c, "nothing", crdt::Null{}));
    ASSERT_TRUE(a.put(c, "bytes", crdt::Bytes{0, 1, 254}));
    ASSERT_TRUE(a.put(c, "ts", crdt::Timestamp{1700000000123}));
    ASSERT_TRUE(a.put(c, "hits", crdt::Counter{10}));
    ASSERT_TRUE(a.put(c, "future", crdt::Unknown{13, {1, 2, 3}}));
    ASSERT_TRUE(a.put(c, "gone", std::string("soon")));
    auto list = a.put_object(ROOT, "list", ObjType::List).value();
    ASSERT_TRUE(a.insert(list, 0, std::string("one")));
    ASSERT_TRUE(a.insert(list, 1, std::int64_t{2}));
    a.commit(std::string("seed"), 1);
    Document b = a.fork();
    b.set_actor(crdt::ActorId::from_hex("bb02").value());
    ASSERT_TRUE(a.put(c, "host", std::string("from a")));
    ASSERT_TRUE(b.put(c, "host", std::string("from b")));
    ASSERT_TRUE(a.increment(c, "hits", 5));
    ASSERT_TRUE(b.increment(c, "hits", -2));
    ASSERT_TRUE(b.delete_key(c, "gone"));
    ASSERT_TRUE(a.splice_text(name, 0, 1, "K"));
    ASSERT_TRUE(b.splice_text(name, 5, 1, "\xf0\x9f\x9a\x80"));  // the emoji, one scalar
    ASSERT_TRUE(b.delete_index(list, 0));
    ASSERT_TRUE(a.insert(list, 0, true));
    ASSERT_TRUE(a.merge(b));

    TempDir dir;
    write_file(dir.path / "ours.bin", a.save());
    json theirs = node("describe '" + (dir.path / "ours.bin").string() + "'");
    json ours = describe(a);
    EXPECT_EQ(theirs["root"], ours["root"])
        << "library: " << theirs["root"].dump() << "\nours:    " << ours["root"].dump();
    EXPECT_EQ(theirs["heads"], ours["heads"]);
    EXPECT_EQ(theirs["resaved_heads"], ours["heads"]);
    EXPECT_EQ(
        ours["root"]["map"]["connections"][0]["map"]["3f2504e0-4f89-11d3-9a0c-0305e82c3301"][0]["map"]["host"].size(),
        2u);
}

TEST(Interop, LibraryFilesLoadInOursWithEqualValuesAndHeads) {
    TempDir dir;
    json theirs = node("make '" + dir.path.string() + "'");
    ASSERT_FALSE(theirs.is_null());
    for (const char* file : {"doc.bin", "changes.bin"}) {
        auto loaded = Document::load(read_file(dir.path / file));
        ASSERT_TRUE(loaded) << file << ": " << loaded.error().message;
        json ours = describe(*loaded);
        EXPECT_EQ(ours["root"], theirs["root"])
            << file << "\nlibrary: " << theirs["root"].dump() << "\nours:    " << ours["root"].dump();
        EXPECT_EQ(ours["heads"], theirs["heads"]) << file;
    }
}

TEST(Interop, SameEditsGiveTheSameChangeBytes) {
    std::vector<std::string> ours;
    auto last = [&](Document& d, std::optional<std::string> message, std::int64_t time) {
        auto h = d.commit(std::move(message), time);
        ASSERT_TRUE(h);
        ours.push_back(hex(d.get_change(*h)->raw_bytes()));
    };
    Document d(crdt::ActorId({1, 2}));
    ASSERT_TRUE(d.put(ROOT, "k", std::string("v")));
    last(d, std::nullopt, 0);
    auto t = d.put_object(ROOT, "t", ObjType::Text).value();
    ASSERT_TRUE(d.splice_text(t, 0, 0, "ab\xf0\x9f\x98\x80"));
    last(d, std::string("m"), 5);
    ASSERT_TRUE(d.splice_text(t, 1, 2, "c\xc3\xa9"));
    last(d, std::nullopt, 6);
    ASSERT_TRUE(d.put(ROOT, "c", crdt::Counter{1}));
    ASSERT_TRUE(d.put(ROOT, "d", true));
    ASSERT_TRUE(d.put(ROOT, "f", 1.5));
    ASSERT_TRUE(d.put(ROOT, "n", crdt::Null{}));
    ASSERT_TRUE(d.put(ROOT, "u", std::uint64_t{7}));
    ASSERT_TRUE(d.put(ROOT, "ts", crdt::Timestamp{5}));
    ASSERT_TRUE(d.put(ROOT, "b", crdt::Bytes{1, 2}));
    ASSERT_TRUE(d.put(ROOT, "i", std::int64_t{-3}));
    last(d, std::nullopt, 0);
    ASSERT_TRUE(d.increment(ROOT, "c", 2));
    ASSERT_TRUE(d.delete_key(ROOT, "d"));
    auto m = d.put_object(ROOT, "m", ObjType::Map).value();
    auto l = d.put_object(m, "l", ObjType::List).value();
    ASSERT_TRUE(d.insert(l, 0, std::int64_t{1}));
    last(d, std::nullopt, 0);

    Document p(crdt::ActorId({2})), q(crdt::ActorId({1}));
    ASSERT_TRUE(p.put(ROOT, "p", std::int64_t{1}));
    p.commit(std::nullopt, 0);
    ASSERT_TRUE(q.put(ROOT, "q", std::int64_t{1}));
    q.commit(std::nullopt, 0);
    Document r = p.fork();
    r.set_actor(crdt::ActorId({3}));
    ASSERT_TRUE(r.merge(q));
    ASSERT_TRUE(r.put(ROOT, "p", std::int64_t{2}));
    ASSERT_TRUE(r.put(ROOT, "q", std::int64_t{2}));
    last(r, std::nullopt, 0);
    Document map;  // the connections map, made as every replica makes it
    remote::ensure_connections_map(map);
    ours.push_back(hex(map.get_changes({}).front().raw_bytes()));

    json theirs = node("edits");
    ASSERT_EQ(theirs.size(), ours.size());
    for (std::size_t i = 0; i < ours.size(); ++i) EXPECT_EQ(ours[i], theirs[i].get<std::string>()) << "change " << i;
}

remote::SavedConnection connection(const char* id, const char* name) {
    remote::SavedConnection c;
    c.id = *remote::Uuid::parse(id);
    c.name = name;
    c.host = std::string(name) + ".lan";
    return c;
}

// The library's view of our replicas' files merged in the given order, next to ours; the map
// it shows holds `expected_ids`.
void expect_same_merge(std::vector<Document>& replicas, const std::vector<std::string>& expected_ids,
                       std::size_t maps) {
    TempDir dir;
    std::string files;
    for (std::size_t i = 0; i < replicas.size(); ++i) {
        const fs::path file = dir.path / ("r" + std::to_string(i) + ".bin");
        write_file(file, replicas[i].save());
        files += " '" + file.string() + "'";
    }
    json theirs = node("merge" + files);
    for (std::size_t i = 1; i < replicas.size(); ++i) ASSERT_TRUE(replicas[0].merge(replicas[i]));
    json ours = describe(replicas[0]);
    EXPECT_EQ(theirs["root"], ours["root"])
        << "library: " << theirs["root"].dump() << "\nours:    " << ours["root"].dump();
    EXPECT_EQ(theirs["heads"], ours["heads"]);
    const json& connections = theirs["root"]["map"]["connections"];
    ASSERT_EQ(connections.size(), maps) << connections.dump();
    std::vector<std::string> ids;
    for (const auto& [id, value] : connections.back()["map"].items()) ids.push_back(id);
    EXPECT_EQ(ids, expected_ids);
}

TEST(Interop, ReplicasThatStartApartShowEveryConnectionInTheLibrary) {
    std::vector<Document> replicas;
    replicas.emplace_back(crdt::ActorId::from_hex("aa01").value());
    replicas.emplace_back(crdt::ActorId::from_hex("bb02").value());
    replicas.emplace_back(crdt::ActorId::from_hex("cc03").value());
    ASSERT_TRUE(replicas[2].put(ROOT, "settings", true));  // history before its first connection
    replicas[2].commit(std::nullopt, 1);
    remote::store_connection(replicas[0], connection("11111111-1111-4111-8111-111111111111", "a"));
    remote::store_connection(replicas[1], connection("22222222-2222-4222-8222-222222222222", "b"));
    remote::store_connection(replicas[2], connection("33333333-3333-4333-8333-333333333333", "c"));
    for (auto& r : replicas) r.commit(std::nullopt, 2);
    expect_same_merge(replicas,
                      {"11111111-1111-4111-8111-111111111111", "22222222-2222-4222-8222-222222222222",
                       "33333333-3333-4333-8333-333333333333"},
                      1);
}

TEST(Interop, RepairedConcurrentMapsShowEveryConnectionInTheLibrary) {
    // Two replicas that each made a map of their own before they met.
    std::vector<Document> replicas;
    for (const char* actor : {"aa01", "bb02"}) {
        Document& r = replicas.emplace_back(crdt::ActorId::from_hex(actor).value());
        ASSERT_TRUE(r.put_object(ROOT, "connections", ObjType::Map));
    }
    remote::store_connection(replicas[0], connection("11111111-1111-4111-8111-111111111111", "a"));
    remote::store_connection(replicas[1], connection("22222222-2222-4222-8222-222222222222", "b"));
    for (auto& r : replicas) r.commit(std::nullopt, 1);
    ASSERT_TRUE(replicas[0].merge(replicas[1]));
    ASSERT_TRUE(remote::repair_connections_map(replicas[0]));
    replicas[0].commit(std::nullopt, 2);
    // The emptied map stays in conflict, hidden; the one shown holds both connections.
    expect_same_merge(replicas, {"11111111-1111-4111-8111-111111111111", "22222222-2222-4222-8222-222222222222"}, 2);
}

}  // namespace
