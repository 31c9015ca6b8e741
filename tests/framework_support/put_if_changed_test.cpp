#include "framework_support/put_if_changed.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using zavo_ui::doc::put_scalar_if_changed;

namespace {

// Number of changes a write adds to the document's history.
std::size_t changes_added(crdt::Document& doc, const std::function<void()>& write) {
    const std::size_t before = doc.get_changes({}).size();
    write();
    return doc.get_changes({}).size() - before;
}

crdt::ScalarValue stored(crdt::Document& doc, std::string_view key) {
    auto entry = doc.get(crdt::ROOT, key);
    EXPECT_TRUE(entry && *entry);
    return *(*entry)->value.scalar();
}

}  // namespace

TEST(PutScalarIfChanged, WritesOnlyWhatDiffersInTypeOrValue) {
    struct Case {
        const char* what;
        std::function<void(crdt::Document&)> before;  // what is stored under "k" first
        std::function<void(crdt::Document&)> write;
        bool writes;
        crdt::ScalarValue after;
    };
    const auto put = [](crdt::ScalarValue v) {
        return [v](crdt::Document& d) { ASSERT_TRUE(d.put(crdt::ROOT, "k", v)); };
    };
    const auto text = [](std::string_view v) {
        return [v](crdt::Document& d) { put_scalar_if_changed(d, crdt::ROOT, "k", v); };
    };
    const auto boolean = [](bool v) {
        return [v](crdt::Document& d) { put_scalar_if_changed(d, crdt::ROOT, "k", v); };
    };
    const auto integer = [](std::int64_t v) {
        return [v](crdt::Document& d) { put_scalar_if_changed(d, crdt::ROOT, "k", v); };
    };
    const Case cases[] = {
        {"same text", put(std::string("a")), text("a"), false, std::string("a")},
        {"other text", put(std::string("a")), text("b"), true, std::string("b")},
        {"false where nothing is stored", [](crdt::Document&) {}, boolean(false), true, false},
        {"same bool", put(true), boolean(true), false, true},
        {"unsigned 22 becomes signed 22", put(std::uint64_t{22}), integer(22), true, std::int64_t{22}},
        {"float 22 becomes signed 22", put(22.0), integer(22), true, std::int64_t{22}},
        {"counter 22 becomes signed 22", put(crdt::Counter{22}), integer(22), true, std::int64_t{22}},
        {"same signed integer", put(std::int64_t{22}), integer(22), false, std::int64_t{22}},
        {"text digits are not a number", put(std::string("22")), integer(22), true, std::int64_t{22}},
        {"text object replaced by a scalar",
         [](crdt::Document& d) {
             auto t = d.put_object(crdt::ROOT, "k", crdt::ObjType::Text);
             ASSERT_TRUE(t);
             ASSERT_TRUE(d.splice_text(*t, 0, 0, "a"));
         },
         text("a"), true, std::string("a")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        crdt::Document doc;
        c.before(doc);
        EXPECT_EQ(changes_added(doc, [&] { c.write(doc); }), c.writes ? 1u : 0u);
        EXPECT_EQ(stored(doc, "k"), c.after);
        // Writing the same value again never adds history.
        EXPECT_EQ(changes_added(doc, [&] { c.write(doc); }), 0u);
    }
}

TEST(PutScalarIfChanged, FailedReadOrWriteIsIgnored) {
    crdt::Document doc;
    auto list = doc.put_object(crdt::ROOT, "l", crdt::ObjType::List);
    ASSERT_TRUE(list);
    // A list has no keys: the read fails, the write is tried and its failure ignored.
    put_scalar_if_changed(doc, *list, "k", std::string_view("x"));
    EXPECT_EQ(*doc.length(*list), 0u);
}
