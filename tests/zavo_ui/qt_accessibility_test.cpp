#include "zavo_ui/qt/accessibility.hpp"

#include <QCoreApplication>
#include <QWindow>
#include <gtest/gtest.h>

#include <functional>

#include "qt_test_app.hpp"
#include "zavo_ui/qt/frames.hpp"
#include "zavo_ui/theme.hpp"

namespace zavo_ui::qt {
namespace {

using a11y::AccessNode;
using a11y::AccessRole;
using a11y::SemanticActionKind;

// A window node with two buttons sharing one element id, a text field and a live status.
class TreeWidget : public Widget {
public:
    std::optional<AccessNode> accessibility_tree() override {
        std::vector<AccessNode> children;
        for (int i = 0; i < 2; ++i) {
            AccessNode b =
                AccessNode(AccessRole::Button).with_label(i == 0 ? "New" : "Add").with_element_id("demo.new");
            b.bounds = Rect{10.0 + 100 * i, 10, 90.0 + 100 * i, 40};
            b.focusable = true;
            children.push_back(std::move(b));
        }
        AccessNode field =
            AccessNode(AccessRole::TextField).with_label("Name").with_value(value).with_element_id("demo.field");
        if (caret) field = std::move(field).with_caret(*caret, selection);
        field.focusable = true;
        field.focused = focused;
        children.push_back(std::move(field));
        if (show_status) {
            AccessNode status = AccessNode(AccessRole::StaticText).with_label(status_text).with_node_id("demo.status");
            status.live = a11y::Live::Polite;
            children.push_back(std::move(status));
        }
        AccessNode toggle = AccessNode(AccessRole::ToggleButton).with_label("Favourite").with_element_id("demo.fav");
        toggle.checked = a11y::toggled(favourite);
        children.push_back(std::move(toggle));
        if (terminal) children.push_back(AccessNode(AccessRole::Terminal).with_label("Shell").with_value(*terminal));
        if (device)
            children.push_back(AccessNode(AccessRole::ListItem)
                                   .with_label("Studio")
                                   .with_value("1234-abcd")
                                   .with_description(*device));
        if (dialog) {
            AccessNode ok = AccessNode(AccessRole::Button).with_label("OK").with_element_id("demo.ok");
            AccessNode d = AccessNode(AccessRole::Dialog).with_label("Sure?").with_children({std::move(ok)});
            d.modal = true;
            children.push_back(std::move(d));
        }
        return AccessNode(AccessRole::Window).with_label("Demo").with_children(std::move(children));
    }
    bool activate_element(std::string_view id, const a11y::SemanticAction& action, EventContext&) override {
        calls.push_back(std::string(id) + "/" + std::to_string(int(action.kind)) + "/" + action.text.value_or(""));
        if (id == "demo.field" && action.kind == SemanticActionKind::SetValue) value = action.text.value_or("");
        return id.starts_with("demo.");
    }

    std::string value = "box";
    bool focused = false, show_status = true, favourite = false, dialog = false;
    std::string status_text = "Ready";
    std::optional<std::string> terminal;  // the screen's text, when there is a terminal
    std::optional<std::size_t> caret;     // the field's, in bytes
    std::optional<std::pair<std::size_t, std::size_t>> selection;
    std::optional<std::string> device;  // a list item's description, when there is one
    std::vector<std::string> calls;
};

class QtAccessibility : public ::testing::Test {
protected:
    void SetUp() override {
        testing::offscreen_app();
        auto w = std::make_unique<TreeWidget>();
        widget = w.get();
        host = std::make_unique<host::Host>(std::move(w), theme, painting.text, Size{300, 100}, 1.0);
        window = std::make_unique<QWindow>();
        window->resize(300, 100);
        bridge = std::make_unique<AccessBridge>(*window, *host, [this] { ++activations; });
    }
    void TearDown() override { bridge.reset(); }

    QAccessibleInterface* child(int i) { return bridge->root()->child(i); }

    const theme::Theme theme = theme::Theme::dark();
    std::unique_ptr<QWindow> window;
    TreeWidget* widget = nullptr;
    Painting painting;
    std::unique_ptr<host::Host> host;
    std::unique_ptr<AccessBridge> bridge;
    int activations = 0;
};

TEST_F(QtAccessibility, NodesBecomeAccessibleObjects) {
    QAccessibleInterface* root = bridge->root();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->object(), window.get());
    EXPECT_EQ(root->role(), QAccessible::Window);
    EXPECT_EQ(root->text(QAccessible::Name), "Demo");
    ASSERT_EQ(root->childCount(), 5);
    EXPECT_EQ(child(0)->role(), QAccessible::Button);
    EXPECT_EQ(child(1)->text(QAccessible::Name), "Add");
    EXPECT_NE(child(0), child(1)) << "nodes sharing an element id are two objects";
    EXPECT_EQ(child(0)->parent(), root);
    EXPECT_EQ(root->indexOfChild(child(2)), 2);
    EXPECT_EQ(child(2)->role(), QAccessible::EditableText);
    EXPECT_EQ(child(2)->text(QAccessible::Value), "box");
    EXPECT_TRUE(child(2)->state().editable);
    EXPECT_EQ(child(3)->role(), QAccessible::Notification) << "live nodes are announced as notifications";
    EXPECT_TRUE(child(4)->state().checkable);
    EXPECT_FALSE(child(4)->state().checked);
    const QRect r = child(1)->rect();
    EXPECT_EQ(r.size(), QSize(80, 30));
    EXPECT_EQ(r.topLeft(), window->mapToGlobal(QPoint(110, 10)));
    EXPECT_EQ(root->childAt(r.center().x(), r.center().y()), child(1));
}

TEST_F(QtAccessibility, ActionsAndEditsReachTheWidget) {
    auto* press = child(1)->actionInterface();
    ASSERT_NE(press, nullptr);
    EXPECT_TRUE(press->actionNames().contains(QAccessibleActionInterface::pressAction()));
    EXPECT_TRUE(press->actionNames().contains(QAccessibleActionInterface::setFocusAction()));
    press->doAction(QAccessibleActionInterface::pressAction());
    child(4)->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());

    auto* edit = child(2)->editableTextInterface();
    ASSERT_NE(edit, nullptr);
    edit->deleteText(0, 3);
    edit->insertText(0, QStringLiteral("héllo"));
    EXPECT_EQ(widget->calls,
              (std::vector<std::string>{"demo.new/0/", "demo.fav/2/", "demo.field/7/", "demo.field/7/héllo"}));
    EXPECT_EQ(widget->value, "héllo");
    QCoreApplication::processEvents();
    EXPECT_EQ(activations, 4);
    EXPECT_EQ(child(2)->textInterface()->text(0, -1), "héllo");
    EXPECT_EQ(child(3)->actionInterface(), nullptr) << "a status line takes no action";
}

// The rebuild that follows an action is the bridge's: gone with it, it does not run.
TEST_F(QtAccessibility, TheRebuildAfterAnActionGoesWithTheBridge) {
    child(1)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    bridge.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(activations, 0);
}

TEST_F(QtAccessibility, ObjectsKeepTheirIdentityAcrossRebuilds) {
    QAccessibleInterface* field = child(2);
    QAccessibleInterface* status = child(3);
    const QAccessible::Id status_id = QAccessible::uniqueId(status);
    widget->value = "changed";
    widget->favourite = true;
    bridge->refresh(true);
    EXPECT_EQ(child(2), field);
    EXPECT_EQ(field->text(QAccessible::Value), "changed");
    EXPECT_TRUE(child(4)->state().checked);

    widget->show_status = false;
    bridge->refresh(true);
    EXPECT_EQ(bridge->root()->childCount(), 4);
    EXPECT_EQ(QAccessible::accessibleInterface(status_id), nullptr) << "a node that went is unregistered";
    widget->show_status = true;
    bridge->refresh(true);
    EXPECT_EQ(child(3)->text(QAccessible::Name), "Ready");
}

// A terminal's screen is its text, read-only, and follows the screen.
TEST_F(QtAccessibility, ATerminalIsReadAsText) {
    widget->terminal = "$ ls\nnotes.txt";
    bridge->refresh(true);
    QAccessibleInterface* terminal = child(5);
    ASSERT_NE(terminal, nullptr);
    EXPECT_EQ(terminal->role(), QAccessible::Terminal);
    ASSERT_NE(terminal->textInterface(), nullptr);
    EXPECT_EQ(terminal->textInterface()->text(0, -1), "$ ls\nnotes.txt");
    EXPECT_EQ(terminal->textInterface()->characterCount(), 14);
    EXPECT_EQ(terminal->editableTextInterface(), nullptr);
    EXPECT_EQ(terminal->actionInterface(), nullptr);
    widget->terminal = "$ ls\nnotes.txt\n$ 日本";
    bridge->refresh(true);
    EXPECT_EQ(child(5), terminal);
    EXPECT_EQ(terminal->textInterface()->text(15, 19), "$ 日本");
    EXPECT_EQ(child(4)->textInterface(), nullptr) << "a toggle has no text";
}

// Offsets, counts and edits through the text interfaces are in characters (code points), as
// AT-SPI counts them, around characters outside the BMP and CJK ones alike.
TEST_F(QtAccessibility, TextIsCountedAndEditedInCharacters) {
    widget->value = "\U0001F600\u4E2Dab";
    widget->caret = 4;  // bytes: after the emoji
    widget->selection = std::pair<std::size_t, std::size_t>{7, 4};
    bridge->refresh(true);
    QAccessibleTextInterface* text = child(2)->textInterface();
    EXPECT_EQ(text->characterCount(), 4);
    EXPECT_EQ(text->text(0, 1), "\U0001F600");
    EXPECT_EQ(text->text(1, 2), "\u4E2D");
    EXPECT_EQ(text->text(2, -1), "ab");
    EXPECT_EQ(text->cursorPosition(), 1);
    ASSERT_EQ(text->selectionCount(), 1);
    int start = 0, end = 0;
    text->selection(0, &start, &end);
    EXPECT_EQ(std::pair(start, end), std::pair(1, 2));
    text->selection(1, &start, &end);
    EXPECT_EQ(std::pair(start, end), std::pair(-1, -1)) << "one selection only";
    EXPECT_EQ(text->textAtOffset(1, QAccessible::CharBoundary, &start, &end), "\u4E2D");
    EXPECT_EQ(std::pair(start, end), std::pair(1, 2));

    // Each edit works on what the one before it left, until the tree is rebuilt.
    QAccessibleEditableTextInterface* edit = child(2)->editableTextInterface();
    const struct {
        std::function<void()> edit;
        const char* left;
    } edits[] = {
        {[&] { edit->insertText(1, "X"); }, "\U0001F600X\u4E2Dab"},
        {[&] { edit->insertText(3, "Y"); }, "\U0001F600X\u4E2DYab"},
        {[&] { edit->deleteText(1, 2); }, "\U0001F600\u4E2DYab"},
        {[&] { edit->replaceText(0, 1, "\U0001F601"); }, "\U0001F601\u4E2DYab"},
        // Half a character never reaches the text as a replacement character: a lone half is
        // dropped, a text cut inside a character (as Qt's bridge cuts inserted text at its
        // length in characters counted as UTF-16 units) is refused.
        {[&] { edit->replaceText(5, 5, QString("!\U0001F602").first(2)); }, "\U0001F601\u4E2DYab!"},
        {[&] { edit->insertText(0, QString("!\U0001F602").first(2)); }, "\U0001F601\u4E2DYab!"},
        // Given a length in UTF-8 bytes, as AT-SPI counts it, Qt's bridge pads the text with NULs
        // to that many UTF-16 units: the text ends at the first.
        {[&] { edit->insertText(1, QString("\u00E9") + QChar(0)); }, "\U0001F601\u00E9\u4E2DYab!"},
        {[&] { edit->insertText(0, QString("\U0001F602") + QChar(0) + QChar(u'?')); },
         "\U0001F602\U0001F601\u00E9\u4E2DYab!"},
        // An offset before the start inserts nothing, as in Qt's line edits.
        {[&] { edit->insertText(-1, "Z"); }, "\U0001F602\U0001F601\u00E9\u4E2DYab!"},
    };
    for (const auto& e : edits) {
        e.edit();
        EXPECT_EQ(widget->value, e.left);
        EXPECT_EQ(text->text(0, -1), e.left);
    }
}

// Characters, words, sentences and lines around an offset in characters, as a reader steps
// through a text: at the end and past it, before a word and around characters outside the BMP.
// Each search ends (Qt's own loops for ever at the end of a text and before a sign).
TEST_F(QtAccessibility, ItemsAroundAnOffsetAreFoundInCharacters) {
    enum Search { At, Before, After };
    const struct {
        const char* text;
        Search search;
        QAccessible::TextBoundaryType type;
        int offset;
        int start, end;
        const char* found;
    } cases[] = {
        {"\U0001F600\u4E2Dab", At, QAccessible::CharBoundary, 0, 0, 1, "\U0001F600"},
        {"\U0001F600\u4E2Dab", At, QAccessible::CharBoundary, 1, 1, 2, "\u4E2D"},
        {"\U0001F600\u4E2Dab", After, QAccessible::CharBoundary, 1, 2, 3, "a"},
        {"\U0001F600\u4E2Dab", Before, QAccessible::CharBoundary, 1, 0, 1, "\U0001F600"},
        {"\U0001F600\u4E2Dab", Before, QAccessible::CharBoundary, -1, 3, 4, "b"},
        {"\U0001F600\u4E2Dab", Before, QAccessible::CharBoundary, 4, 3, 4, "b"},
        {"\U0001F600\u4E2Dab", At, QAccessible::CharBoundary, 4, -1, -1, ""},
        {"\U0001F600\u4E2Dab", Before, QAccessible::CharBoundary, 5, -1, -1, ""},
        {"\U0001F600\u4E2Dab", At, QAccessible::CharBoundary, -7, -1, -1, ""},
        {"\U0001F600\u4E2Dab", After, QAccessible::CharBoundary, 99, -1, -1, ""},
        // A character with its combining mark is one.
        {"e\u0301x", At, QAccessible::CharBoundary, 1, 0, 2, "e\u0301"},
        {"e\u0301x", After, QAccessible::CharBoundary, 0, 2, 3, "x"},
        {"hello world", At, QAccessible::WordBoundary, 3, 0, 5, "hello"},
        {"hello world", At, QAccessible::WordBoundary, 5, 5, 6, " "},
        {"hello world", At, QAccessible::WordBoundary, 11, -1, -1, ""},
        {"hello world", At, QAccessible::WordBoundary, -1, -1, -1, ""},
        {"hello world", Before, QAccessible::WordBoundary, -1, 6, 11, "world"},
        {"hello world", Before, QAccessible::WordBoundary, 7, 5, 6, " "},
        {"hello world", Before, QAccessible::WordBoundary, 2, -1, -1, ""},
        {"hello world", After, QAccessible::WordBoundary, 0, 5, 6, " "},
        {"hello world", After, QAccessible::WordBoundary, 7, -1, -1, ""},
        {"$ ls", At, QAccessible::WordBoundary, 0, 0, 2, "$ "},
        {"\u4E2D\u6587 \U0001F600 ok", At, QAccessible::WordBoundary, 5, 5, 7, "ok"},
        {"One. Two.", At, QAccessible::SentenceBoundary, 1, 0, 5, "One. "},
        {"One. Two.", At, QAccessible::SentenceBoundary, -1, -1, -1, ""},
        {"One. Two.", Before, QAccessible::SentenceBoundary, -1, 5, 9, "Two."},
        // A line holds its line feed; the end of the text is on the last line.
        {"l1\nl2 \U0001F600\n", At, QAccessible::LineBoundary, 4, 3, 8, "l2 \U0001F600\n"},
        {"l1\nl2 \U0001F600\n", At, QAccessible::LineBoundary, -1, 8, 8, ""},
        {"l1\nl2 \U0001F600\n", Before, QAccessible::LineBoundary, 8, 3, 8, "l2 \U0001F600\n"},
        {"l1\nl2 \U0001F600\n", After, QAccessible::LineBoundary, 0, 3, 8, "l2 \U0001F600\n"},
        {"l1\nl2 \U0001F600\n", Before, QAccessible::LineBoundary, 2, -1, -1, ""},
        {"hello world", At, QAccessible::LineBoundary, 11, 0, 11, "hello world"},
        {"hello world", At, QAccessible::NoBoundary, 4, 0, 11, "hello world"},
        {"", At, QAccessible::LineBoundary, 0, -1, -1, ""},
        {"", Before, QAccessible::CharBoundary, -1, -1, -1, ""},
    };
    for (const auto& c : cases) {
        widget->value = c.text;
        bridge->refresh(true);
        QAccessibleTextInterface* text = child(2)->textInterface();
        int start = -9, end = -9;
        const QString found = c.search == At       ? text->textAtOffset(c.offset, c.type, &start, &end)
                              : c.search == Before ? text->textBeforeOffset(c.offset, c.type, &start, &end)
                                                   : text->textAfterOffset(c.offset, c.type, &start, &end);
        const std::string what = std::string(c.text) + " " + std::to_string(int(c.search)) + "/" +
                                 std::to_string(int(c.type)) + " at " + std::to_string(c.offset);
        EXPECT_EQ(found, QString(c.found)) << what;
        EXPECT_EQ(std::pair(start, end), std::pair(c.start, c.end)) << what;
    }

    // -2 stands for the caret.
    widget->value = "hello world";
    widget->caret = 7;
    bridge->refresh(true);
    int start = 0, end = 0;
    EXPECT_EQ(child(2)->textInterface()->textAtOffset(-2, QAccessible::WordBoundary, &start, &end), "world");
    EXPECT_EQ(std::pair(start, end), std::pair(6, 11));
}

// A node that is not text tells its value in its description, ahead of its own.
TEST_F(QtAccessibility, AValueThatIsNotTextIsReadInTheDescription) {
    widget->device = "Online";
    widget->terminal = "$";
    bridge->refresh(true);
    EXPECT_EQ(child(6)->text(QAccessible::Description), "1234-abcd, Online");
    EXPECT_EQ(child(5)->text(QAccessible::Description), "") << "a terminal's value is its text";
    widget->device = "";
    bridge->refresh(true);
    EXPECT_EQ(child(6)->text(QAccessible::Description), "1234-abcd");
}

// A change of a text is told as the stretch that differs, whole characters only, at a position
// counted in characters.
TEST(QtAccessibilityText, AChangeIsToldAsTheStretchThatDiffers) {
    struct Case {
        const char* before;
        const char* after;
        int position;
        QString removed, inserted;
    };
    const Case cases[] = {
        {"$ ls", "$ ls -l", 4, "", " -l"},
        {"$ echo long\n$", "$ echo\n$", 6, " long", ""},
        // U+1F600 and U+1F601 share their first UTF-16 half, U+1F600 and U+10600 their second.
        {"$ \U0001F600!", "$ \U0001F601!", 2, "\U0001F600", "\U0001F601"},
        {"x\U0001F600", "x\U00010600", 1, "\U0001F600", "\U00010600"},
        // After characters outside the BMP, the position counts each of them once.
        {"\U0001F600\U0001F601 ok", "\U0001F600\U0001F601 okay", 5, "", "ay"},
        {"\U0001F600\u4E2Dab", "\U0001F600X\u4E2Dab", 1, "", "X"},
    };
    for (const Case& c : cases) {
        const TextChange told = text_change(QString(c.before), QString(c.after));
        EXPECT_EQ(told.position, c.position) << c.after;
        EXPECT_EQ(told.removed, c.removed) << c.after;
        EXPECT_EQ(told.inserted, c.inserted) << c.after;
    }
}

// Which object holds the focus; the events that announce changes are checked end to end
// (they reach Qt's update handlers only while a platform bridge is active).
TEST_F(QtAccessibility, TheFocusFollowsTheTreeAndAModalDialogHoldsIt) {
    QAccessibleInterface* field = child(2);
    widget->focused = true;
    bridge->refresh(true);
    EXPECT_TRUE(field->state().focused);
    EXPECT_EQ(bridge->root()->focusChild(), field);

    // A modal dialog takes the focus while it is open, and gives it back when it closes.
    widget->dialog = true;
    bridge->refresh(true);
    QAccessibleInterface* dialog = child(5);
    EXPECT_TRUE(dialog->state().modal);
    EXPECT_TRUE(dialog->state().focused);
    EXPECT_FALSE(field->state().focused);
    EXPECT_EQ(bridge->root()->focusChild(), dialog);

    widget->dialog = false;
    bridge->refresh(true);
    EXPECT_TRUE(field->state().focused);

    // With nothing focused the window holds the focus, so that it stays on an object that exists.
    widget->focused = false;
    bridge->refresh(true);
    EXPECT_FALSE(field->state().focused);
    EXPECT_EQ(bridge->root()->focusChild(), nullptr);
    EXPECT_TRUE(bridge->root()->state().focused);
    EXPECT_EQ(bridge->focus_key(), bridge->root_key());
}

}  // namespace
}  // namespace zavo_ui::qt
