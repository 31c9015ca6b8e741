#include "crdt/document.hpp"

#include <gtest/gtest.h>

namespace {

using crdt::Document;
using crdt::ObjType;
using crdt::ROOT;
using crdt::ScalarValue;

ScalarValue scalar_at(const Document& doc, const crdt::ObjId& obj, std::string_view key) {
    auto e = doc.get(obj, key);
    EXPECT_TRUE(e.has_value());
    EXPECT_TRUE(e->has_value());
    return *(*e)->value.scalar();
}

TEST(Document, PutGetAndScalarTypesStayDistinct) {
    Document doc;
    std::vector<std::pair<std::string, ScalarValue>> cases{
        {"str", std::string("x")},
        {"int", std::int64_t{1}},
        {"uint", std::uint64_t{1}},
        {"f64", 1.0},
        {"counter", crdt::Counter{1}},
        {"time", crdt::Timestamp{1}},
        {"bool", true},
        {"bytes", crdt::Bytes{1, 2}},
        {"null", crdt::Null{}},
        {"unknown", crdt::Unknown{10, {1}}},
    };
    for (const auto& [k, v] : cases) ASSERT_TRUE(doc.put(ROOT, k, v));
    for (const auto& [k, v] : cases) EXPECT_EQ(scalar_at(doc, ROOT, k), v) << k;
    EXPECT_NE(scalar_at(doc, ROOT, "int"), ScalarValue(std::uint64_t{1}));
    EXPECT_NE(scalar_at(doc, ROOT, "int"), ScalarValue(1.0));
    auto missing = doc.get(ROOT, "missing");
    ASSERT_TRUE(missing);
    EXPECT_FALSE(missing->has_value());
}

TEST(Document, ReadsOfMissingOrMistypedObjectsFail) {
    Document doc;
    auto text = doc.put_object(ROOT, "t", ObjType::Text).value();
    crdt::ObjId bogus{99, crdt::ActorId::random()};
    EXPECT_FALSE(doc.get(bogus, "k"));
    EXPECT_FALSE(doc.keys(bogus));
    EXPECT_FALSE(doc.get(text, "k"));  // a text has no keys
    EXPECT_FALSE(doc.text(ROOT));      // the root is no text
    EXPECT_FALSE(doc.put(text, "k", true));
    EXPECT_FALSE(doc.splice_text(text, 1, 0, "x"));  // past the end
    EXPECT_FALSE(doc.splice_text(text, 0, 0, std::string("\xff")));
    EXPECT_FALSE(doc.increment(ROOT, "none", 1));
}

TEST(Document, KeysInByteOrderWithoutDeleted) {
    Document doc;
    for (std::string k : {"b", "a", "\xc3\xa9", "B", "aa"}) ASSERT_TRUE(doc.put(ROOT, k, true));
    ASSERT_TRUE(doc.delete_key(ROOT, "aa"));
    EXPECT_EQ(doc.keys(ROOT).value(), (std::vector<std::string>{"B", "a", "b", "\xc3\xa9"}));
    EXPECT_EQ(doc.length(ROOT).value(), 4u);
    auto before = doc.get_heads();
    ASSERT_TRUE(doc.delete_key(ROOT, "never-there"));
    EXPECT_EQ(doc.get_heads(), before);  // no change for a missing key
}

TEST(Document, TextCountsUnicodeScalars) {
    Document doc;
    auto t = doc.put_object(ROOT, "t", ObjType::Text).value();
    ASSERT_TRUE(doc.splice_text(t, 0, 0, "h\xc3\xa9llo \xf0\x9f\x98\x80!"));  // "héllo 😀!"
    EXPECT_EQ(doc.length(t).value(), 8u);
    ASSERT_TRUE(doc.splice_text(t, 6, 1, "\xe2\x82\xac"));  // the emoji becomes "€"
    ASSERT_TRUE(doc.splice_text(t, 1, 1, "e"));
    EXPECT_EQ(doc.text(t).value(), "hello \xe2\x82\xac!");
    EXPECT_FALSE(doc.splice_text(t, 7, 2, ""));  // deletes past the end
}

TEST(Document, ConcurrentPutsKeepEveryValueAndGreatestOpIdWins) {
    Document a(crdt::ActorId({1}));
    ASSERT_TRUE(a.put(ROOT, "k", std::string("base")));
    Document b = a.fork();
    b.set_actor(crdt::ActorId({2}));
    ASSERT_TRUE(a.put(ROOT, "k", std::string("from a")));
    ASSERT_TRUE(b.put(ROOT, "k", std::string("from b")));
    ASSERT_TRUE(a.merge(b));
    ASSERT_TRUE(b.merge(a));
    for (Document* d : {&a, &b}) {
        auto all = d->get_all(ROOT, "k").value();
        ASSERT_EQ(all.size(), 2u);
        // Equal counters: actor 02 > 01.
        EXPECT_EQ(*all.back().value.scalar(), ScalarValue(std::string("from b")));
        EXPECT_EQ(scalar_at(*d, ROOT, "k"), ScalarValue(std::string("from b")));
    }
    EXPECT_EQ(a.get_heads(), b.get_heads());
    EXPECT_EQ(a.get_heads().size(), 2u);
    // A put that has seen both values replaces both.
    ASSERT_TRUE(a.put(ROOT, "k", std::string("resolved")));
    EXPECT_EQ(a.get_all(ROOT, "k").value().size(), 1u);
}

// for_each_entry agrees with keys() and get(), and the ids it hands out read the visiting
// document's own objects, also in a fork edited afterwards.
TEST(Document, ForEachEntryVisitsTheWinnersInKeyOrder) {
    Document a(crdt::ActorId({1}));
    auto name = a.put_object(ROOT, "name", ObjType::Text).value();
    ASSERT_TRUE(a.splice_text(name, 0, 0, "first"));
    ASSERT_TRUE(a.put(ROOT, "k", std::string("base")));
    ASSERT_TRUE(a.put(ROOT, "gone", true));
    ASSERT_TRUE(a.delete_key(ROOT, "gone"));
    Document b = a.fork();
    b.set_actor(crdt::ActorId({2}));
    ASSERT_TRUE(a.put(ROOT, "k", std::string("from a")));
    ASSERT_TRUE(b.put(ROOT, "k", std::string("from b")));
    ASSERT_TRUE(a.merge(b));
    Document c = a.fork();
    ASSERT_TRUE(c.splice_text(name, 0, 5, "second"));
    ASSERT_TRUE(c.put_object(ROOT, "list", ObjType::List));

    for (auto [doc, text] : {std::pair<Document*, const char*>{&a, "first"}, {&c, "second"}}) {
        std::vector<std::string> keys;
        auto visited = doc->for_each_entry(
            ROOT, [&](std::string_view key, const crdt::Value& value, const crdt::ObjId* object) {
                keys.emplace_back(key);
                auto expected = doc->get(ROOT, key).value().value();
                EXPECT_EQ(value, expected.value) << key;
                EXPECT_EQ(object != nullptr, value.is_object()) << key;
                if (object) {
                    EXPECT_EQ(*object, expected.id) << key;
                }
                if (value.is_object(ObjType::Text)) {
                    EXPECT_EQ(doc->text(*object).value(), text);
                }
            });
        ASSERT_TRUE(visited);
        EXPECT_EQ(keys, doc->keys(ROOT).value());
    }
    EXPECT_EQ(scalar_at(a, ROOT, "k"), ScalarValue(std::string("from b")));
    EXPECT_FALSE(a.for_each_entry(name, [](std::string_view, const crdt::Value&, const crdt::ObjId*) {}));
}

TEST(Document, DeleteRemovesOnlyWhatItSaw) {
    Document a;
    ASSERT_TRUE(a.put(ROOT, "k", std::int64_t{1}));
    Document b = a.fork();
    ASSERT_TRUE(a.delete_key(ROOT, "k"));
    ASSERT_TRUE(b.put(ROOT, "k", std::int64_t{2}));  // concurrent with the delete
    ASSERT_TRUE(a.merge(b));
    EXPECT_EQ(scalar_at(a, ROOT, "k"), ScalarValue(std::int64_t{2}));
    EXPECT_EQ(a.get_all(ROOT, "k").value().size(), 1u);
}

TEST(Document, ConcurrentCounterIncrementsAdd) {
    Document a;
    ASSERT_TRUE(a.put(ROOT, "c", crdt::Counter{10}));
    Document b = a.fork();
    ASSERT_TRUE(a.increment(ROOT, "c", 5));
    ASSERT_TRUE(b.increment(ROOT, "c", -3));
    ASSERT_TRUE(a.merge(b));
    EXPECT_EQ(scalar_at(a, ROOT, "c"), ScalarValue(crdt::Counter{12}));
    EXPECT_EQ(a.get_all(ROOT, "c").value().size(), 1u);
}

TEST(Document, ConcurrentTextInsertsOrderByOpIdAndMergeOrderDoesNotMatter) {
    Document base(crdt::ActorId({1}));
    auto t = base.put_object(ROOT, "t", ObjType::Text).value();
    ASSERT_TRUE(base.splice_text(t, 0, 0, "ac"));
    Document x = base.fork(), y = base.fork();
    x.set_actor(crdt::ActorId({2}));
    y.set_actor(crdt::ActorId({3}));
    ASSERT_TRUE(x.splice_text(t, 1, 0, "X"));
    ASSERT_TRUE(y.splice_text(t, 1, 0, "Y"));
    ASSERT_TRUE(y.splice_text(t, 0, 1, ""));  // y also deletes "a"
    Document m1 = base.fork(), m2 = base.fork();
    ASSERT_TRUE(m1.merge(x));
    ASSERT_TRUE(m1.merge(y));
    ASSERT_TRUE(m2.merge(y));
    ASSERT_TRUE(m2.merge(x));
    // Same counter: actor 03 sorts after 02 and so comes first.
    EXPECT_EQ(m1.text(t).value(), "YXc");
    EXPECT_EQ(m2.text(t).value(), "YXc");
    EXPECT_EQ(m1.get_heads(), m2.get_heads());
}

TEST(Document, ChangesCarryHistoryAndApplyInAnyOrder) {
    Document a;
    EXPECT_TRUE(a.get_heads().empty());
    ASSERT_TRUE(a.put(ROOT, "one", std::int64_t{1}));
    auto h1 = a.commit(std::string("first"), 1000).value();
    ASSERT_TRUE(a.put(ROOT, "two", std::int64_t{2}));
    ASSERT_TRUE(a.put(ROOT, "three", std::int64_t{3}));  // same transaction
    auto h2 = a.commit().value();
    EXPECT_EQ(a.get_heads(), std::vector<crdt::ChangeHash>{h2});
    EXPECT_FALSE(a.commit().has_value());  // nothing pending

    auto all = a.get_changes({});
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].hash(), h1);
    EXPECT_EQ(all[0].seq(), 1u);
    EXPECT_EQ(all[0].message(), std::optional<std::string>("first"));
    EXPECT_EQ(all[0].time(), 1000);
    EXPECT_EQ(all[1].deps(), std::vector<crdt::ChangeHash>{h1});
    EXPECT_EQ(all[1].start_op(), 2u);
    EXPECT_EQ(all[1].op_count(), 2u);
    std::vector<crdt::ChangeHash> since{h1};
    auto later = a.get_changes(since);
    ASSERT_EQ(later.size(), 1u);
    EXPECT_EQ(later[0].hash(), h2);

    Document b;
    std::vector<crdt::Change> reversed{all[1], all[0]};
    ASSERT_TRUE(b.apply_changes(std::span(reversed).first(1)));
    EXPECT_EQ(b.queued_changes(), 1u);
    EXPECT_FALSE(b.get(ROOT, "two").value().has_value());
    ASSERT_TRUE(b.apply_changes(reversed));  // the first arrives; the duplicate is skipped
    EXPECT_EQ(b.queued_changes(), 0u);
    EXPECT_EQ(b.get_heads(), a.get_heads());
    EXPECT_EQ(b.keys(ROOT).value(), (std::vector<std::string>{"one", "three", "two"}));
}

// A fork at earlier heads holds what the document held then: the changes in their history and
// the changes still waiting for theirs. Taking this replica's actor, it goes on as if the later
// changes had never been made, and the replicas that never saw them accept what it makes next.
TEST(Document, AForkAtEarlierHeadsHoldsWhatTheDocumentHeldThen) {
    Document a(crdt::ActorId({1}));
    Document b(crdt::ActorId({2}));
    ASSERT_TRUE(a.put(ROOT, "name", std::string("one")));
    a.commit();
    ASSERT_TRUE(b.merge(a));
    ASSERT_TRUE(b.put(ROOT, "from b", std::int64_t{1}));
    b.commit();
    ASSERT_TRUE(a.merge(b));
    const auto then = a.get_heads();
    Document c(crdt::ActorId({3}));
    ASSERT_TRUE(c.merge(b));
    ASSERT_TRUE(c.put(ROOT, "from c", std::int64_t{2}));
    c.commit();
    ASSERT_TRUE(c.put(ROOT, "queued", std::int64_t{3}));
    c.commit();
    const auto from_c = c.get_changes(then);
    ASSERT_EQ(from_c.size(), 2u);

    ASSERT_TRUE(a.put(ROOT, "name", std::string("later")));
    ASSERT_TRUE(a.put_object(ROOT, "made later", ObjType::Map));
    a.commit();
    ASSERT_TRUE(a.apply_changes(std::span(from_c).subspan(1)));  // waits for the first
    ASSERT_EQ(a.queued_changes(), 1u);

    Document back = a.fork_at(then);
    EXPECT_NE(back.actor_id(), a.actor_id());
    EXPECT_EQ(back.get_heads(), then);
    EXPECT_EQ(back.keys(ROOT).value(), (std::vector<std::string>{"from b", "name"}));
    EXPECT_EQ(scalar_at(back, ROOT, "name"), ScalarValue(std::string("one")));
    EXPECT_EQ(back.queued_changes(), 1u) << "a change waiting for its dependency waits in the fork too";
    EXPECT_TRUE(a.fork_at({}).get_heads().empty());

    back.set_actor(crdt::ActorId({1}));
    ASSERT_TRUE(back.put(ROOT, "name", std::string("instead")));
    back.commit();
    ASSERT_TRUE(b.merge(back)) << "what it makes next follows what b saw of it";
    EXPECT_EQ(scalar_at(b, ROOT, "name"), ScalarValue(std::string("instead")));
    ASSERT_TRUE(back.apply_changes(std::span(from_c).subspan(0, 1)));
    EXPECT_EQ(back.queued_changes(), 0u);
    EXPECT_EQ(scalar_at(back, ROOT, "queued"), ScalarValue(std::int64_t{3}));
}

TEST(Document, NestedObjectsAndLists) {
    Document doc;
    auto m = doc.put_object(ROOT, "m", ObjType::Map).value();
    auto l = doc.put_object(m, "l", ObjType::List).value();
    ASSERT_TRUE(doc.insert(l, 0, std::int64_t{1}));
    ASSERT_TRUE(doc.insert(l, 1, std::int64_t{3}));
    ASSERT_TRUE(doc.insert(l, 1, std::int64_t{2}));
    ASSERT_TRUE(doc.delete_index(l, 0));
    EXPECT_EQ(doc.length(l).value(), 2u);
    EXPECT_EQ(*doc.get(l, 0).value()->value.scalar(), ScalarValue(std::int64_t{2}));
    EXPECT_FALSE(doc.get(l, 2).value().has_value());
    auto entry = doc.get(m, "l").value();
    ASSERT_TRUE(entry);
    EXPECT_TRUE(entry->value.is_object(ObjType::List));
    EXPECT_EQ(entry->id, l);
    EXPECT_EQ(doc.object_type(l).value(), ObjType::List);
}

}  // namespace
