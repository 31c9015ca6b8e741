// Random edits on three replicas: every merge order, every delivery order and a save/load
// round trip give the same document.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "crdt/document.hpp"

namespace {

using crdt::Document;
using crdt::ObjId;
using crdt::ObjType;
using crdt::ROOT;

void dump(const Document& doc, const ObjId& obj, std::string& out);

void dump_entries(const Document& doc, const std::vector<crdt::Entry>& all, std::string& out) {
    out += "[";
    for (const auto& e : all) {
        out += e.id.to_string() + "=";
        if (e.value.is_object())
            dump(doc, e.id, out);
        else
            out += crdt::to_debug_string(*e.value.scalar());
        out += ",";
    }
    out += "]";
}

void dump(const Document& doc, const ObjId& obj, std::string& out) {
    switch (doc.object_type(obj).value()) {
        case ObjType::Text: out += "text(" + doc.text(obj).value() + ")"; return;
        case ObjType::List: {
            out += "list(";
            auto n = doc.length(obj).value();
            for (std::size_t i = 0; i < n; ++i) dump_entries(doc, doc.get_all(obj, i).value(), out);
            out += ")";
            return;
        }
        case ObjType::Map: {
            out += "map(";
            auto keys = doc.keys(obj).value();
            for (const auto& k : keys) {
                out += k + ":";
                dump_entries(doc, doc.get_all(obj, k).value(), out);
            }
            out += ")";
            return;
        }
    }
}

std::string state(Document& doc) {
    std::string out;
    for (const auto& h : doc.get_heads()) out += h.to_hex().substr(0, 8) + " ";
    dump(doc, ROOT, out);
    return out;
}

// The objects reachable from the root, by type.
void reachable(const Document& doc, const ObjId& obj, std::vector<std::pair<ObjId, ObjType>>& out) {
    auto type = doc.object_type(obj).value();
    out.emplace_back(obj, type);
    auto visit = [&](const std::vector<crdt::Entry>& all) {
        for (const auto& e : all)
            if (e.value.is_object()) reachable(doc, e.id, out);
    };
    if (type == ObjType::Map) {
        auto keys = doc.keys(obj).value();
        for (const auto& k : keys) visit(doc.get_all(obj, k).value());
    } else if (type == ObjType::List) {
        auto n = doc.length(obj).value();
        for (std::size_t i = 0; i < n; ++i) visit(doc.get_all(obj, i).value());
    }
}

void random_edit(Document& doc, std::mt19937& rng) {
    std::vector<std::pair<ObjId, ObjType>> objs;
    reachable(doc, ROOT, objs);
    auto [obj, type] = objs[rng() % objs.size()];
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const std::string keys[] = {"a", "b", "c", "\xc3\xa9"};
    if (type == ObjType::Map) {
        const std::string& key = keys[pick(4)];
        switch (pick(8)) {
            case 0: (void)doc.put_object(obj, key, ObjType::Map); break;
            case 1: (void)doc.put_object(obj, key, ObjType::Text); break;
            case 2: (void)doc.put_object(obj, key, ObjType::List); break;
            case 3: (void)doc.delete_key(obj, key); break;
            case 4: (void)doc.put(obj, key, crdt::Counter{pick(10)}); break;
            case 5:
                if (!doc.increment(obj, key, pick(7) - 3)) (void)doc.put(obj, key, std::int64_t{pick(100)});
                break;
            case 6: (void)doc.put(obj, key, std::string(1, static_cast<char>('x' + pick(3)))); break;
            default: (void)doc.put(obj, key, pick(2) == 0); break;
        }
    } else if (type == ObjType::Text) {
        auto len = doc.length(obj).value();
        auto pos = len ? static_cast<std::size_t>(rng() % (len + 1)) : 0;
        auto del = pos < len ? static_cast<std::size_t>(rng() % std::min<std::size_t>(3, len - pos + 1)) : 0;
        const char* inserts[] = {"", "q", "\xf0\x9f\x98\x80", "ab"};
        (void)doc.splice_text(obj, pos, del, inserts[pick(4)]);
    } else {
        auto len = doc.length(obj).value();
        switch (len ? pick(3) : 0) {
            case 0: (void)doc.insert(obj, static_cast<std::size_t>(rng() % (len + 1)), std::int64_t{pick(100)}); break;
            case 1: (void)doc.delete_index(obj, static_cast<std::size_t>(rng() % len)); break;
            default: (void)doc.put(obj, static_cast<std::size_t>(rng() % len), std::string("p")); break;
        }
    }
    if (pick(3) == 0) doc.commit();
}

TEST(Property, ThreeReplicasConvergeInEveryMergeOrder) {
    for (unsigned seed = 1; seed <= 200; ++seed) {
        std::mt19937 rng(seed);
        Document base(crdt::ActorId({0}));
        (void)base.put_object(ROOT, "m", ObjType::Map);
        (void)base.put_object(ROOT, "t", ObjType::Text);
        base.commit();
        std::vector<Document> replicas;
        for (std::uint8_t r = 1; r <= 3; ++r) {
            replicas.push_back(base.fork());
            // Equal actor prefixes make op id ties compare on the last byte.
            replicas.back().set_actor(crdt::ActorId({9, r}));
        }
        for (int step = 0; step < 80; ++step) {
            auto& d = replicas[rng() % 3];
            random_edit(d, rng);
            if (rng() % 10 == 0) (void)d.merge(replicas[rng() % 3]);
        }
        std::vector<int> order{0, 1, 2};
        std::string expected;
        do {
            Document merged;
            for (int i : order) ASSERT_TRUE(merged.merge(replicas[static_cast<std::size_t>(i)]));
            auto s = state(merged);
            if (expected.empty()) expected = s;
            EXPECT_EQ(s, expected) << "seed " << seed;
        } while (std::next_permutation(order.begin(), order.end()));

        Document merged;
        for (auto& r : replicas) ASSERT_TRUE(merged.merge(r));
        // Every change delivered alone, in a shuffled order.
        auto changes = merged.get_changes({});
        std::shuffle(changes.begin(), changes.end(), rng);
        Document shuffled;
        for (const auto& c : changes) ASSERT_TRUE(shuffled.apply_changes(std::span(&c, 1)));
        EXPECT_EQ(shuffled.queued_changes(), 0u);
        EXPECT_EQ(state(shuffled), expected) << "seed " << seed;
        // Each replica that merges the others reaches the same state.
        for (std::size_t i = 0; i < 3; ++i) {
            for (std::size_t j = 0; j < 3; ++j) ASSERT_TRUE(replicas[i].merge(replicas[j]));
            EXPECT_EQ(state(replicas[i]), expected) << "seed " << seed << " replica " << i;
        }
        auto loaded = Document::load(merged.save());
        ASSERT_TRUE(loaded) << loaded.error().message;
        EXPECT_EQ(state(*loaded), expected) << "seed " << seed;
    }
}

}  // namespace
