#include "zavo_ui/doc.hpp"

#include <gtest/gtest.h>

namespace {

using crdt::Document;
using zavo_ui::doc::splice_text_diffed;

TEST(SpliceTextDiffed, ReadsTheNewTextAndTouchesOnlyTheMiddle) {
    struct Case {
        std::string from, to;
        std::size_t ops;  // operations recorded: inserted plus deleted scalars
    };
    std::vector<Case> cases{
        {"Workshop", "Workshop", 0},
        {"Workshop", "Workshop Laptop", 7},
        {"Workshop", "shop", 4},
        {"", "abc", 3},
        {"abc", "", 3},
        {"a\xf0\x9f\x98\x80"
         "b",
         "a\xf0\x9f\x98\x80"
         "c",
         2},                                          // astral prefix kept whole
        {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x81", 2},  // same leading bytes, other scalar
        {"aaa", "aa", 1},                             // overlap of prefix and suffix
    };
    for (const auto& c : cases) {
        Document doc;
        auto t = doc.put_object(crdt::ROOT, "t", crdt::ObjType::Text).value();
        ASSERT_TRUE(doc.splice_text(t, 0, 0, c.from));
        doc.commit();
        ASSERT_TRUE(splice_text_diffed(doc, t, c.to));
        EXPECT_EQ(doc.text(t).value(), c.to) << c.from << " -> " << c.to;
        EXPECT_EQ(doc.pending_ops(), c.ops) << c.from << " -> " << c.to;
    }
}

TEST(SpliceTextDiffed, ConcurrentEditElsewhereSurvivesTheMerge) {
    Document a;
    auto t = a.put_object(crdt::ROOT, "name", crdt::ObjType::Text).value();
    ASSERT_TRUE(a.splice_text(t, 0, 0, "Workshop"));
    Document b = a.fork();
    ASSERT_TRUE(splice_text_diffed(a, t, "Workshop Laptop"));
    ASSERT_TRUE(splice_text_diffed(b, t, "Big Workshop"));
    ASSERT_TRUE(a.merge(b));
    ASSERT_TRUE(b.merge(a));
    EXPECT_EQ(a.text(t).value(), "Big Workshop Laptop");
    EXPECT_EQ(b.text(t).value(), "Big Workshop Laptop");
}

TEST(SpliceTextDiffed, RefusesWhatIsNoTextOrNoUtf8) {
    Document doc;
    auto t = doc.put_object(crdt::ROOT, "t", crdt::ObjType::Text).value();
    EXPECT_FALSE(splice_text_diffed(doc, crdt::ROOT, "x"));
    EXPECT_FALSE(splice_text_diffed(doc, t, "\xff"));
    EXPECT_EQ(doc.text(t).value(), "");
}

}  // namespace
