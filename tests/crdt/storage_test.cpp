#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <random>

#include "crdt/document.hpp"

namespace {

using crdt::Document;
using crdt::ObjType;
using crdt::ROOT;

// A document with every scalar type, nested objects, text with non-ASCII characters, a
// conflict and a delete.
Document sample() {
    Document a(crdt::ActorId({0xaa}));
    auto conns = a.put_object(ROOT, "connections", ObjType::Map).value();
    auto c = a.put_object(conns, "c1", ObjType::Map).value();
    auto name = a.put_object(c, "name", ObjType::Text).value();
    EXPECT_TRUE(a.splice_text(name, 0, 0, "Caf\xc3\xa9 \xf0\x9f\x98\x80"));
    EXPECT_TRUE(a.put(c, "port", std::int64_t{22}));
    EXPECT_TRUE(a.put(c, "u", std::uint64_t{1} << 63));
    EXPECT_TRUE(a.put(c, "f", -0.5));
    EXPECT_TRUE(a.put(c, "on", true));
    EXPECT_TRUE(a.put(c, "none", crdt::Null{}));
    EXPECT_TRUE(a.put(c, "raw", crdt::Bytes{0, 255}));
    EXPECT_TRUE(a.put(c, "when", crdt::Timestamp{-1}));
    EXPECT_TRUE(a.put(c, "hits", crdt::Counter{3}));
    EXPECT_TRUE(a.put(c, "future", crdt::Unknown{13, {1, 2, 3}}));
    EXPECT_TRUE(a.put(c, "gone", std::string("x")));
    a.commit(std::string("seed"), 1);
    Document b = a.fork();
    b.set_actor(crdt::ActorId({0xbb}));
    EXPECT_TRUE(a.put(c, "host", std::string("a.example")));
    EXPECT_TRUE(b.put(c, "host", std::string("b.example")));
    EXPECT_TRUE(b.increment(c, "hits", 2));
    EXPECT_TRUE(b.delete_key(c, "gone"));
    EXPECT_TRUE(b.splice_text(name, 0, 1, "K"));
    EXPECT_TRUE(a.merge(b));
    return a;
}

void expect_same(Document& x, Document& y) {
    EXPECT_EQ(x.get_heads(), y.get_heads());
    auto conns = x.get(ROOT, "connections").value()->id;
    auto c = x.get(conns, "c1").value()->id;
    auto keys = x.keys(c).value();
    EXPECT_EQ(keys, y.keys(c).value());
    for (const auto& k : keys) EXPECT_EQ(x.get_all(c, k).value(), y.get_all(c, k).value()) << k;
    auto name = x.get(c, "name").value()->id;
    EXPECT_EQ(x.text(name).value(), y.text(name).value());
}

TEST(Storage, SaveThenLoadKeepsValuesConflictsAndHeads) {
    Document a = sample();
    auto bytes = a.save();
    auto loaded = Document::load(bytes);
    ASSERT_TRUE(loaded) << loaded.error().message;
    expect_same(a, *loaded);
    auto conns = a.get(ROOT, "connections").value()->id;
    auto c = a.get(conns, "c1").value()->id;
    EXPECT_EQ(loaded->get_all(c, "host").value().size(), 2u);
    EXPECT_EQ(*loaded->get(c, "hits").value()->value.scalar(), crdt::ScalarValue(crdt::Counter{5}));
    EXPECT_NE(loaded->actor_id(), a.actor_id());
    EXPECT_EQ(loaded->save(), bytes);
}

TEST(Storage, LoadTakesChunksInAnyOrderAndDeflatedChunks) {
    Document a = sample();
    auto changes = a.get_changes({});
    std::vector<std::uint8_t> file;
    std::vector<crdt::Change> order(changes.rbegin(), changes.rend());
    for (std::size_t i = 0; i < order.size(); ++i) {
        auto raw = order[i].raw_bytes();
        if (i % 2 == 1) {
            file.insert(file.end(), raw.begin(), raw.end());
            continue;
        }
        // The deflated form: same magic and checksum, type 2, raw DEFLATE of the contents.
        std::size_t header = 9;
        while (raw[header] & 0x80) ++header;
        ++header;
        std::vector<std::uint8_t> body(raw.begin() + static_cast<std::ptrdiff_t>(header), raw.end());
        z_stream zs{};
        ASSERT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
        std::vector<std::uint8_t> packed(deflateBound(&zs, body.size()));
        zs.next_in = body.data();
        zs.avail_in = static_cast<uInt>(body.size());
        zs.next_out = packed.data();
        zs.avail_out = static_cast<uInt>(packed.size());
        ASSERT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
        packed.resize(zs.total_out);
        deflateEnd(&zs);
        file.insert(file.end(), raw.begin(), raw.begin() + 8);
        file.push_back(2);
        for (std::size_t n = packed.size();; n >>= 7) {
            file.push_back(static_cast<std::uint8_t>((n & 0x7f) | (n >> 7 ? 0x80 : 0)));
            if (!(n >> 7)) break;
        }
        file.insert(file.end(), packed.begin(), packed.end());
    }
    auto loaded = Document::load(file);
    ASSERT_TRUE(loaded) << loaded.error().message;
    expect_same(a, *loaded);
}

TEST(Storage, CorruptOrTruncatedInputIsRefused) {
    Document a = sample();
    auto bytes = a.save();
    auto last = a.get_changes({}).back().raw_bytes().size();
    // A cut inside the last chunk fails; no crash anywhere.
    for (std::size_t cut = bytes.size() - last + 1; cut < bytes.size(); ++cut)
        EXPECT_FALSE(Document::load(std::span(bytes).first(cut))) << cut;
    auto flip = bytes;
    flip[flip.size() / 2] ^= 0x10;
    auto r = Document::load(flip);
    ASSERT_FALSE(r);
    EXPECT_FALSE(r.error().message.empty());
    std::vector<std::uint8_t> garbage{'h', 'e', 'l', 'l', 'o'};
    EXPECT_FALSE(Document::load(garbage));
    // A chunk whose dependencies are missing from the file.
    auto changes = a.get_changes({});
    auto only_last = changes.back().raw_bytes();
    EXPECT_FALSE(Document::load(only_last));
    EXPECT_TRUE(Document::load({}));  // nothing at all is an empty document
}

TEST(Storage, IncrementalLoadKeepsTheWholeChunksBeforeATornTail) {
    Document a = sample();
    auto bytes = a.save();
    auto changes = a.get_changes({});
    auto torn = std::span(bytes).first(bytes.size() - 3);
    EXPECT_FALSE(Document::load(torn));
    Document b;
    auto r = b.load_incremental(torn);
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().message.find("at byte"), std::string::npos);
    EXPECT_EQ(b.get_changes({}).size(), changes.size() - 1);
    // The rest arrives later; what is already there is skipped.
    auto more = b.load_incremental(bytes);
    ASSERT_TRUE(more) << more.error().message;
    EXPECT_EQ(*more, 1u);
    expect_same(a, b);
}

TEST(Storage, EmptyDocumentChunkLoads) {
    // A document chunk without actors, heads or columns.
    std::vector<std::uint8_t> empty{0x85, 0x6f, 0x4a, 0x83, 0xb8, 0x1a, 0x95, 0x44, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00};
    auto doc = Document::load(empty);
    ASSERT_TRUE(doc) << doc.error().message;
    EXPECT_TRUE(doc->get_heads().empty());
}

TEST(Storage, ChangeChunkLayout) {
    Document a(crdt::ActorId({1, 2}));
    ASSERT_TRUE(a.put(ROOT, "k", std::string("v")));
    auto hash = a.commit(std::nullopt, 0).value();
    auto raw = a.get_change(hash)->raw_bytes();
    // clang-format off
    std::vector<std::uint8_t> expected{
        0x85, 0x6f, 0x4a, 0x83, hash.bytes[0], hash.bytes[1], hash.bytes[2], hash.bytes[3], 0x01,
        0,  // length, filled below
        0x00,              // no dependencies
        0x02, 0x01, 0x02,  // actor
        0x01, 0x01, 0x00,  // seq 1, start op 1, time 0
        0x00,              // no message
        0x00,              // no other actors
        0x06,              // columns: key string, insert, action, value meta and raw, predecessor group
        21, 3, 52, 1, 66, 2, 86, 2, 87, 1, 112, 2,
        0x7f, 0x01, 'k',   // key "k"
        0x01,              // one false
        0x7f, 0x01,        // set
        0x7f, 0x16,        // string of length 1
        'v',
        0x7f, 0x00,        // no predecessors
    };
    // clang-format on
    expected[9] = static_cast<std::uint8_t>(expected.size() - 10);
    EXPECT_EQ(std::vector<std::uint8_t>(raw.begin(), raw.end()), expected);
}

}  // namespace
