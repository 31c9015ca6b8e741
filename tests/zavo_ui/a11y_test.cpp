#include "zavo_ui/a11y.hpp"

#include <gtest/gtest.h>

#include <string>

using zavo_ui::a11y::AccessNode;
using zavo_ui::a11y::AccessRole;
using zavo_ui::a11y::node_id_for;

TEST(NodeId, KnownTexts) {
    EXPECT_EQ(node_id_for("abc"), 0xfc182483ee0806dcull);
    EXPECT_EQ(node_id_for("remote.list"), 0xba95aaa87b281e10ull);
    // The trailing 0xFF byte is always hashed: the empty text is not the offset basis.
    EXPECT_EQ(node_id_for(""), 0xaf64724c8602eb6eull);
    static_assert(node_id_for("abc") == 0xfc182483ee0806dcull);
}

TEST(NodeId, HashesBytesNotCharacters) {
    // Non-ASCII text hashes its UTF-8 bytes; a byte >= 0x80 must not be sign-extended.
    std::string s = "\xc3\xa9";  // é
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char b : {0xc3, 0xa9, 0xff}) {
        h ^= b;
        h *= 0x100000001b3ull;
    }
    EXPECT_EQ(node_id_for(s), h);
}

TEST(AccessNodeBuilders, DefaultsAfterNew) {
    AccessNode n(AccessRole::Button);
    EXPECT_EQ(n.role, AccessRole::Button);
    EXPECT_FALSE(n.label || n.description || n.value || n.node_id || n.element_id || n.bounds);
    EXPECT_TRUE(n.children.empty());
    EXPECT_FALSE(n.focused || n.focusable || n.selected || n.modal);
    EXPECT_FALSE(n.checked || n.expanded || n.live || n.set_size || n.position_in_set);
    EXPECT_TRUE(n.enabled);
}

TEST(AccessNodeBuilders, ElementIdSetsBothFieldsAndReplacesNodeId) {
    auto n = AccessNode(AccessRole::Button).with_node_id("remote.list").with_element_id("remote.nav.list");
    EXPECT_EQ(n.node_id, node_id_for("remote.nav.list"));
    EXPECT_EQ(n.element_id, "remote.nav.list");
    EXPECT_EQ(n.automation_id, "remote.nav.list");

    auto s = AccessNode(AccessRole::List).with_node_id("remote.list");
    EXPECT_EQ(s.node_id, 0xba95aaa87b281e10ull);
    EXPECT_FALSE(s.element_id);

    // Two nodes with the same id text share the node id.
    auto a = AccessNode(AccessRole::Button).with_element_id("remote.connection.new");
    auto b = AccessNode(AccessRole::Button).with_label("other").with_element_id("remote.connection.new");
    EXPECT_EQ(a.node_id, b.node_id);
}

TEST(AccessNodeBuilders, BorrowedAndOwnedTextGiveEqualNodes) {
    const std::string label = "Connect";
    const std::string id = "remote.connection.new";
    auto borrowed =
        AccessNode(AccessRole::Button).with_label(label).with_description(label).with_value(label).with_element_id(id);
    auto owned = AccessNode(AccessRole::Button)
                     .with_label(std::string("Connect"))
                     .with_description(std::string("Connect"))
                     .with_value(std::string("Connect"))
                     .with_element_id(std::string("remote.connection.new"));
    EXPECT_EQ(borrowed, owned);
    EXPECT_EQ(label, "Connect");  // the borrowed text is left alone
}

TEST(AccessNodeBuilders, LaterCallReplacesEarlier) {
    auto n = AccessNode(AccessRole::StaticText)
                 .with_label("a")
                 .with_label("b")
                 .with_children({AccessNode(AccessRole::Button)});
    EXPECT_EQ(n.label, "b");
    ASSERT_EQ(n.children.size(), 1u);
    EXPECT_EQ(n.children[0].role, AccessRole::Button);
}
