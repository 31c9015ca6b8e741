#include "zavo_ui/qt/accessibility.hpp"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QTextBoundaryFinder>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>

#include "zavo_ui/qt/text_engine.hpp"
#include "zavo_ui/text_render.hpp"

namespace zavo_ui::qt {

using a11y::AccessRole;
using a11y::SemanticActionKind;

namespace {

std::uint64_t mix(std::uint64_t a, std::uint64_t b) {
    // splitmix64 of the pair: keys of nodes without an id of their own.
    std::uint64_t z = a ^ (b + 0x9e3779b97f4a7c15ull + (a << 6) + (a >> 2));
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return (z ^ (z >> 31)) | 1;  // never 0, the "no parent" key
}

const QString& scroll_into_view_action() {
    static const QString name = QStringLiteral("Scroll into view");
    return name;
}

QString qs(const std::optional<std::string>& text) { return text ? QString::fromStdString(*text) : QString(); }

// Nodes whose value is text that assistive technology reads through the text interface: a
// field's, a terminal's screen.
bool has_text(const a11y::AccessNode& node) {
    return node.role == AccessRole::TextField || node.role == AccessRole::Terminal;
}

bool pair_at(QStringView text, qsizetype i) {
    return text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
}

// Characters (code points) in UTF-16 text, and the UTF-16 offset of the character at an offset
// counted in characters (clamped to the text).
int code_points(QStringView text) {
    int n = 0;
    for (qsizetype i = 0; i < text.size(); ++i, ++n)
        if (pair_at(text, i)) ++i;
    return n;
}

qsizetype utf16_offset(QStringView text, int characters) {
    qsizetype i = 0;
    for (int n = 0; n < characters && i < text.size(); ++n) i += pair_at(text, i) ? 2 : 1;
    return i;
}

// Text that came in without the other half of a surrogate pair loses the lone half, which
// would reach the node's UTF-8 text as a replacement character.
QString whole_characters(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (pair_at(text, i)) {
            out += text[i];
            out += text[++i];
        } else if (!text[i].isSurrogate()) {
            out += text[i];
        }
    }
    return out;
}

// Qt's bridge sends a text change with the lengths of its texts in UTF-16 units, where AT-SPI
// counts characters. A change that holds characters outside the BMP goes out as AT-SPI's own
// signals instead, on the connection to the accessibility bus that Qt's bridge opened (it names
// it "a11y") and under the object path that bridge gives the node, after what the bridge sent
// there before. False without that connection, and nothing sent.
bool send_text_changed(QAccessible::Id id, const TextChange& change) {
    QDBusConnection bus(QStringLiteral("a11y"));
    if (!bus.isConnected()) return false;
    QDBusArgument application;
    application.beginStructure();
    application << bus.baseService() << QDBusObjectPath(QStringLiteral("/org/a11y/atspi/accessible/root"));
    application.endStructure();
    const QString path = QStringLiteral("/org/a11y/atspi/accessible/%1").arg(id);
    for (const auto& [kind, text] : {std::pair{QStringLiteral("delete"), &change.removed},
                                     std::pair{QStringLiteral("insert"), &change.inserted}}) {
        if (text->isEmpty()) continue;
        QDBusMessage signal = QDBusMessage::createSignal(path, QStringLiteral("org.a11y.atspi.Event.Object"),
                                                         QStringLiteral("TextChanged"));
        signal << kind << change.position << code_points(*text) << QVariant::fromValue(QDBusVariant(*text))
               << QVariant::fromValue(application);
        bus.send(signal);
    }
    return true;
}

struct Item {
    qsizetype start = 0, end = 0;  // UTF-16 offsets
};

// What a boundary search steps through, in order: characters (a character with its combining
// marks is one), words and the runs between them, sentences, lines (each with its line feed, and
// after a final line feed an empty last line); without a boundary, the whole text.
std::vector<Item> items_of(const QString& text, QAccessible::TextBoundaryType type) {
    std::vector<Item> items;
    if (type == QAccessible::LineBoundary || type == QAccessible::ParagraphBoundary) {
        qsizetype start = 0;
        for (qsizetype nl = text.indexOf(u'\n'); nl >= 0; nl = text.indexOf(u'\n', start)) {
            items.push_back({start, nl + 1});
            start = nl + 1;
        }
        items.push_back({start, text.size()});
        return items;
    }
    if (type == QAccessible::NoBoundary) return {{0, text.size()}};
    const auto kind = type == QAccessible::WordBoundary       ? QTextBoundaryFinder::Word
                      : type == QAccessible::SentenceBoundary ? QTextBoundaryFinder::Sentence
                                                              : QTextBoundaryFinder::Grapheme;
    QTextBoundaryFinder finder(kind, text);
    qsizetype start = 0;
    for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary()) {
        // Words end where a word starts or ends: the signs and blanks between two are one run.
        const bool edge = finder.boundaryReasons() &
                          (QTextBoundaryFinder::StartOfItem | QTextBoundaryFinder::EndOfItem);
        if (kind == QTextBoundaryFinder::Word && !edge && at < text.size()) continue;
        items.push_back({start, at});
        start = at;
    }
    if (start < text.size()) items.push_back({start, text.size()});
    return items;
}

enum class TextSearch { At, Before, After };

// The item at an offset counted in characters (-1: the end), or the one before or after it, with
// where it starts and ends in characters; -1 for both and no text when there is none (an empty
// text, an offset outside it, a search past either end).
QString text_around(const QString& text, TextSearch search, QAccessible::TextBoundaryType type, int offset, int* start,
                    int* end) {
    *start = *end = -1;
    const int count = code_points(text);
    if (offset == -1) offset = count;
    if (text.isEmpty() || offset < 0 || offset > count) return {};
    const qsizetype at = utf16_offset(text, offset);
    const std::vector<Item> items = items_of(text, type);
    std::size_t i = 0;
    while (i < items.size() && items[i].end <= at) ++i;
    // The end of the text is past the last character, word or sentence, but on the last line.
    const bool lines = type == QAccessible::LineBoundary || type == QAccessible::ParagraphBoundary ||
                       type == QAccessible::NoBoundary;
    if (i == items.size() && lines) --i;
    if (search == TextSearch::Before) {
        if (i == 0) return {};
        --i;
    } else if (search == TextSearch::After) {
        ++i;
    }
    if (i >= items.size()) return {};
    const Item& found = items[i];
    *start = code_points(QStringView(text).first(found.start));
    *end = *start + code_points(QStringView(text).sliced(found.start, found.end - found.start));
    return text.mid(found.start, found.end - found.start);
}

}  // namespace

TextChange text_change(const QString& before, const QString& after) {
    qsizetype start = 0;
    const qsizetype shorter = std::min(before.size(), after.size());
    while (start < shorter && before[start] == after[start]) ++start;
    // Never between the halves of a surrogate pair: a character outside the BMP is told whole.
    if (start > 0 && before[start - 1].isHighSurrogate()) --start;
    qsizetype tail = 0;
    while (tail < shorter - start && before[before.size() - 1 - tail] == after[after.size() - 1 - tail]) ++tail;
    if (tail > 0 && before[before.size() - tail].isLowSurrogate()) --tail;
    return {code_points(QStringView(before).first(start)), before.mid(start, before.size() - start - tail),
            after.mid(start, after.size() - start - tail)};
}

namespace {

// Characters before a byte offset into UTF-8 text.
int code_point_of_byte(std::string_view utf8, std::size_t byte) {
    return static_cast<int>(text_render::code_points(utf8.substr(0, std::min(byte, utf8.size()))));
}

// What assistive technology reads as a node's description: a node that is not text tells its
// value there, ahead of its own description.
QString description_of(const a11y::AccessNode& node) {
    if (has_text(node) || !node.value || node.value->empty()) return qs(node.description);
    QString out = qs(node.value);
    if (node.description && !node.description->empty()) out += QStringLiteral(", ") + qs(node.description);
    return out;
}

// A text node's caret and selection in characters.
std::optional<int> caret_of(const a11y::AccessNode& node) {
    if (!node.caret || !node.value) return std::nullopt;
    return code_point_of_byte(*node.value, *node.caret);
}

std::optional<std::pair<int, int>> selection_of(const a11y::AccessNode& node) {
    if (!node.text_selection || !node.value) return std::nullopt;
    const int a = code_point_of_byte(*node.value, node.text_selection->first);
    const int b = code_point_of_byte(*node.value, node.text_selection->second);
    if (a == b) return std::nullopt;
    return std::pair(std::min(a, b), std::max(a, b));
}

}  // namespace

QAccessible::Role qt_role(const a11y::AccessNode& node) {
    if (node.live) return QAccessible::Notification;
    switch (node.role) {
        case AccessRole::Window: return QAccessible::Window;
        case AccessRole::Dialog: return QAccessible::Dialog;
        case AccessRole::Group: return QAccessible::Grouping;
        case AccessRole::Toolbar: return QAccessible::ToolBar;
        case AccessRole::List: return QAccessible::List;
        case AccessRole::ListItem: return QAccessible::ListItem;
        case AccessRole::Button:
        case AccessRole::ToggleButton: return QAccessible::Button;
        case AccessRole::RadioButton: return QAccessible::RadioButton;
        case AccessRole::TextField: return QAccessible::EditableText;
        case AccessRole::StaticText: return QAccessible::StaticText;
        case AccessRole::Heading: return QAccessible::Heading;
        case AccessRole::Terminal: return QAccessible::Terminal;
        case AccessRole::Canvas: return QAccessible::Canvas;
    }
    return QAccessible::Grouping;
}

QAccessible::State qt_state(const a11y::AccessNode& node) {
    QAccessible::State s;
    s.focusable = node.focusable;
    s.focused = node.focused;
    s.selected = node.selected;
    s.selectable = node.role == AccessRole::ListItem;
    s.modal = node.modal;
    s.disabled = !node.enabled;
    s.editable = node.role == AccessRole::TextField;
    s.selectableText = node.role == AccessRole::TextField || node.role == AccessRole::StaticText;
    s.invisible = false;
    if (node.checked || node.role == AccessRole::ToggleButton || node.role == AccessRole::RadioButton) {
        s.checkable = true;
        s.checked = node.checked == a11y::Toggled::True;
    }
    if (node.expanded) {
        s.expandable = true;
        s.expanded = *node.expanded == a11y::Toggled::True;
        s.collapsed = !s.expanded;
    }
    return s;
}

QStringList action_names(const std::vector<SemanticActionKind>& kinds) {
    QStringList names;
    for (SemanticActionKind k : kinds) {
        switch (k) {
            case SemanticActionKind::Activate: names << QAccessibleActionInterface::pressAction(); break;
            case SemanticActionKind::Toggle: names << QAccessibleActionInterface::toggleAction(); break;
            case SemanticActionKind::Focus: names << QAccessibleActionInterface::setFocusAction(); break;
            case SemanticActionKind::ScrollIntoView: names << scroll_into_view_action(); break;
            default: break;  // a value is set through the text, not as an action
        }
    }
    return names;
}

std::optional<SemanticActionKind> action_kind(const QString& name) {
    if (name == QAccessibleActionInterface::pressAction()) return SemanticActionKind::Activate;
    if (name == QAccessibleActionInterface::toggleAction()) return SemanticActionKind::Toggle;
    if (name == QAccessibleActionInterface::setFocusAction()) return SemanticActionKind::Focus;
    if (name == scroll_into_view_action()) return SemanticActionKind::ScrollIntoView;
    return std::nullopt;
}

// One node of the tree as Qt sees it. It looks its data up by key, so a rebuilt tree updates
// it in place.
class NodeInterface : public QAccessibleInterface,
                      public QAccessibleActionInterface,
                      public QAccessibleTextInterface,
                      public QAccessibleEditableTextInterface {
public:
    NodeInterface(AccessBridge& bridge, std::uint64_t key) : bridge_(bridge), key_(key) {}

    bool isValid() const override { return bridge_.entry(key_) != nullptr; }
    QObject* object() const override { return key_ == bridge_.root_key() ? &bridge_.window() : nullptr; }
    QWindow* window() const override { return &bridge_.window(); }

    QAccessibleInterface* parent() const override {
        const auto* e = bridge_.entry(key_);
        if (e == nullptr || e->parent == 0) return QAccessible::queryAccessibleInterface(qApp);
        const auto* p = bridge_.entry(e->parent);
        return p ? p->iface : nullptr;
    }
    QAccessibleInterface* child(int index) const override {
        const auto* e = bridge_.entry(key_);
        if (e == nullptr || index < 0 || index >= int(e->children.size())) return nullptr;
        const auto* c = bridge_.entry(e->children[size_t(index)]);
        return c ? c->iface : nullptr;
    }
    int childCount() const override {
        const auto* e = bridge_.entry(key_);
        return e ? int(e->children.size()) : 0;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (int i = 0; i < childCount(); ++i) {
            if (this->child(i) == child) return i;
        }
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        for (int i = childCount() - 1; i >= 0; --i) {
            QAccessibleInterface* c = child(i);
            if (c != nullptr && c->rect().contains(x, y)) return c;
        }
        return nullptr;
    }
    QAccessibleInterface* focusChild() const override {
        for (int i = 0; i < childCount(); ++i) {
            QAccessibleInterface* c = child(i);
            if (c == nullptr) continue;
            if (c->state().focused) return c;
            if (QAccessibleInterface* inner = c->focusChild()) return inner;
        }
        return nullptr;
    }

    QString text(QAccessible::Text t) const override {
        const auto* e = bridge_.entry(key_);
        if (e == nullptr) return {};
        switch (t) {
            case QAccessible::Name: return qs(e->node.label);
            case QAccessible::Description: return description_of(e->node);
            case QAccessible::Value: return qs(e->edited ? e->edited : e->node.value);
            default: return {};
        }
    }
    void setText(QAccessible::Text t, const QString& text) override {
        if (t == QAccessible::Value) set_value(whole_characters(text));
    }
    QRect rect() const override {
        const auto* e = bridge_.entry(key_);
        return e ? bridge_.global_rect(*e) : QRect();
    }
    QAccessible::Role role() const override {
        const auto* e = bridge_.entry(key_);
        return e ? qt_role(e->node) : QAccessible::NoRole;
    }
    QAccessible::State state() const override {
        const auto* e = bridge_.entry(key_);
        QAccessible::State s;
        if (e == nullptr) {
            s.invalid = true;
            return s;
        }
        s = qt_state(e->node);
        s.focused = key_ == bridge_.focus_key();
        if (key_ == bridge_.root_key()) s.active = bridge_.window().isActive();
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        const auto* e = bridge_.entry(key_);
        if (e == nullptr) return nullptr;
        const bool field = e->node.role == AccessRole::TextField;
        switch (type) {
            case QAccessible::ActionInterface:
                return e->actions.empty() ? nullptr : static_cast<QAccessibleActionInterface*>(this);
            case QAccessible::TextInterface:
                return has_text(e->node) ? static_cast<QAccessibleTextInterface*>(this) : nullptr;
            case QAccessible::EditableTextInterface:
                return field ? static_cast<QAccessibleEditableTextInterface*>(this) : nullptr;
            default: return nullptr;
        }
    }

    // Actions.
    QStringList actionNames() const override {
        const auto* e = bridge_.entry(key_);
        return e ? action_names(e->actions) : QStringList();
    }
    void doAction(const QString& name) override {
        if (auto kind = action_kind(name)) bridge_.perform(key_, a11y::SemanticAction{*kind, std::nullopt});
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

    // Text of a field or a terminal: its value. Offsets count characters (code points), as
    // AT-SPI does; Qt's bridge hands them through as they are.
    QString value() const { return text(QAccessible::Value); }
    void selection(int index, int* start, int* end) const override {
        const auto* e = bridge_.entry(key_);
        const auto range = e != nullptr && index == 0 ? selection_of(e->node) : std::nullopt;
        *start = range ? range->first : -1;
        *end = range ? range->second : -1;
    }
    int selectionCount() const override {
        const auto* e = bridge_.entry(key_);
        return e != nullptr && selection_of(e->node) ? 1 : 0;
    }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    // Without a caret of its own, a text is read from its end.
    int cursorPosition() const override {
        const auto* e = bridge_.entry(key_);
        const auto caret = e != nullptr ? caret_of(e->node) : std::nullopt;
        return caret ? *caret : characterCount();
    }
    void setCursorPosition(int) override {}
    QString text(int start, int end) const override {
        const QString v = value();
        const qsizetype from = utf16_offset(v, start);
        const qsizetype to = end < 0 ? v.size() : utf16_offset(v, end);
        return to > from ? v.mid(from, to - from) : QString();
    }
    int characterCount() const override { return code_points(value()); }
    QRect characterRect(int) const override { return rect(); }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* start, int* end) const override {
        *start = *end = offset;
        return {};
    }
    // -2 stands for the caret.
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int* start, int* end) const override {
        return text_around(value(), TextSearch::Before, type, offset == -2 ? cursorPosition() : offset, start, end);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int* start, int* end) const override {
        return text_around(value(), TextSearch::After, type, offset == -2 ? cursorPosition() : offset, start, end);
    }
    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int* start, int* end) const override {
        return text_around(value(), TextSearch::At, type, offset == -2 ? cursorPosition() : offset, start, end);
    }
    void deleteText(int start, int end) override { replaceText(start, end, QString()); }
    // Qt's bridge cuts or pads the text it hands on to the length the client gave, as UTF-16
    // units, where AT-SPI counts it in UTF-8 bytes and clients also in characters. The padding
    // starts with a NUL, which D-Bus text never holds: the text ends there. A text that ends in
    // half a character arrived cut and is refused whole rather than inserted in part; so is an
    // offset before the start, as Qt's line edits refuse it.
    void insertText(int offset, const QString& text) override {
        const qsizetype nul = text.indexOf(QChar(0));
        const QStringView given = QStringView(text).first(nul < 0 ? text.size() : nul);
        if (offset < 0 || (!given.isEmpty() && given.back().isHighSurrogate())) return;
        replaceText(offset, offset, given.toString());
    }
    void replaceText(int start, int end, const QString& text) override {
        QString v = value();
        const qsizetype from = utf16_offset(v, start);
        const qsizetype to = std::max(from, end < 0 ? v.size() : utf16_offset(v, end));
        v.replace(from, to - from, whole_characters(text));
        set_value(v);
    }

private:
    void set_value(const QString& text) {
        bridge_.perform(key_, a11y::SemanticAction{SemanticActionKind::SetValue, text.toStdString()});
    }
    AccessBridge& bridge_;
    std::uint64_t key_;
};

AccessBridge::AccessBridge(QWindow& window, host::Host& host, std::function<void()> activated)
    : window_(window), host_(host), activated_(std::move(activated)) {
    pending_.setSingleShot(true);
    QObject::connect(&pending_, &QTimer::timeout, &window_, [this] { refresh(); });
}

AccessBridge::~AccessBridge() {
    for (auto& [_, e] : entries_) {
        if (e.id != 0) QAccessible::deleteAccessibleInterface(e.id);
    }
}

const AccessBridge::Entry* AccessBridge::entry(std::uint64_t key) const {
    auto it = entries_.find(key);
    return it == entries_.end() ? nullptr : &it->second;
}

QAccessibleInterface* AccessBridge::root() {
    if (entries_.empty()) refresh(true);
    const Entry* e = entry(root_key_);
    return e ? e->iface : nullptr;
}

QRect AccessBridge::global_rect(const Entry& e) const {
    std::optional<Rect> r = e.node.bounds;
    if (!r && e.parent == 0) {
        return QRect(window_.mapToGlobal(QPoint(0, 0)), window_.size());
    }
    if (!r) return {};
    const QPoint origin = window_.mapToGlobal(QPoint(int(std::floor(r->x0)), int(std::floor(r->y0))));
    return QRect(origin, QSize(int(std::ceil(r->width())), int(std::ceil(r->height()))));
}

NodeInterface* AccessBridge::create(std::uint64_t key) {
    auto* iface = new NodeInterface(*this, key);
    entries_.at(key).iface = iface;
    entries_.at(key).id = QAccessible::registerAccessibleInterface(iface);
    return iface;
}

std::uint64_t AccessBridge::walk(a11y::AccessNode& node, std::uint64_t parent, std::size_t index,
                                 std::vector<Visit>& order) {
    // A node keeps its key from one tree to the next through its node id; nodes that share an
    // id (two controls for one command) are told apart by their order.
    std::uint64_t key = 0;
    auto it = entries_.end();
    if (node.node_id) {
        for (std::uint64_t n = 0;; ++n) {
            key = mix(*node.node_id, n);
            it = entries_.find(key);
            if (it == entries_.end() || it->second.generation != generation_) break;
        }
    } else {
        key = mix(parent, (std::uint64_t(index) << 8) | std::uint64_t(node.role));
        it = entries_.find(key);
    }
    Visit visit;
    if (it == entries_.end()) {
        it = entries_.try_emplace(key).first;  // entries keep their address while the map grows
        visit.created = true;
    } else {
        const a11y::AccessNode& before = it->second.node;
        visit.name = node.label != before.label;
        visit.value = node.value != before.value;
        visit.description = node.description != before.description || (visit.value && !has_text(node));
        if (visit.value && has_text(node)) visit.text_before = qs(before.value);
        visit.caret = caret_of(node) != caret_of(before);
        visit.selection = selection_of(node) != selection_of(before);
        visit.bounds = node.bounds != before.bounds;
        const QAccessible::State was = qt_state(before);
        const QAccessible::State is = qt_state(node);
        visit.state.selected = was.selected != is.selected;
        visit.state.checked = was.checked != is.checked;
        visit.state.expanded = was.expanded != is.expanded;
        visit.state.collapsed = was.collapsed != is.collapsed;
        visit.state.modal = was.modal != is.modal;
    }
    Entry& e = it->second;
    visit.entry = &e;
    e.key = key;
    e.parent = parent;
    e.generation = generation_;
    e.edited.reset();
    e.actions = node.element_id ? widget::semantic_actions(node) : std::vector<a11y::SemanticActionKind>{};
    std::vector<a11y::AccessNode> children = std::move(node.children);
    node.children.clear();
    e.node = std::move(node);
    order.push_back(visit);
    e.children.clear();
    e.children.reserve(children.size());
    for (std::size_t i = 0; i < children.size(); ++i) e.children.push_back(walk(children[i], key, i, order));
    return key;
}

void AccessBridge::refresh_soon() {
    if (pending_.isActive() || !QAccessible::isActive()) return;
    const qint64 left = since_refresh_.isValid() ? pause_ms_ - since_refresh_.elapsed() : 0;
    if (left <= 0) {
        refresh();
    } else {
        pending_.start(int(left));
    }
}

void AccessBridge::refresh(bool force) {
    if (!force && !QAccessible::isActive()) return;
    pending_.stop();
    QElapsedTimer cost;
    cost.start();
    a11y::AccessNode tree = host_.accessibility_tree();
    // The entries are updated in place; what changed is told once the whole tree is current.
    ++generation_;
    std::vector<Visit> order;
    order.reserve(entries_.size());
    root_key_ = walk(tree, 0, 0, order);

    // Gone: announced while they still answer, removed at the end.
    std::vector<std::pair<std::uint64_t, QAccessible::Id>> removed;
    for (auto& [key, old] : entries_) {
        if (old.generation == generation_) continue;
        QAccessibleEvent gone(old.iface, QAccessible::ObjectDestroyed);
        QAccessible::updateAccessibility(&gone);
        removed.emplace_back(key, old.id);
    }

    const std::uint64_t was_focus = focus_key_;
    focus_key_ = focus_in(order);
    const auto tell = [](NodeInterface* iface, QAccessible::Event type) {
        QAccessibleEvent e(iface, type);
        QAccessible::updateAccessibility(&e);
    };
    for (const Visit& visit : order) {
        Entry& now = *visit.entry;
        if (visit.created) {
            tell(create(now.key), QAccessible::ObjectCreated);
            if (now.node.live && now.node.label) tell(now.iface, QAccessible::NameChanged);
            continue;
        }
        if (visit.name) tell(now.iface, QAccessible::NameChanged);
        if (visit.description) tell(now.iface, QAccessible::DescriptionChanged);
        // A text's change, then where its caret and selection are, as a line edit tells them.
        if (visit.value && has_text(now.node)) tell_text_change(now, visit.text_before);
        if (visit.caret) {
            QAccessibleTextCursorEvent moved(now.iface, now.iface->cursorPosition());
            QAccessible::updateAccessibility(&moved);
        }
        if (visit.selection) {
            const auto range = selection_of(now.node).value_or(std::pair(-1, -1));
            QAccessibleTextSelectionEvent selected(now.iface, range.first, range.second);
            QAccessible::updateAccessibility(&selected);
        }
        if (visit.bounds) tell(now.iface, QAccessible::LocationChanged);
        // Qt's bridge tells the selected state through selection events, the others as changes.
        if (visit.state.selected)
            tell(now.iface, now.node.selected ? QAccessible::SelectionAdd : QAccessible::SelectionRemove);
        QAccessible::State changed = visit.state;
        changed.selected = false;
        if (changed.checked || changed.expanded || changed.collapsed || changed.modal) {
            QAccessibleStateChangeEvent e(now.iface, changed);
            QAccessible::updateAccessibility(&e);
        }
    }
    // Some node always holds the focus (the window when no other does).
    if (focus_key_ != was_focus) {
        QAccessibleEvent e(entries_.at(focus_key_).iface, QAccessible::Focus);
        QAccessible::updateAccessibility(&e);
    }
    for (const auto& [key, id] : removed) {
        entries_.erase(key);
        QAccessible::deleteAccessibleInterface(id);
    }
    // Frames may refresh again after four times what this one took (so at most a fifth of the
    // time goes here), and no sooner than 50 ms.
    pause_ms_ = std::max<qint64>(50, 4 * cost.elapsed());
    since_refresh_.start();
}

void AccessBridge::tell_text_change(const Entry& e, const QString& before) {
    const TextChange change = text_change(before, qs(e.node.value));
    const bool counted_alike = change.removed.size() == code_points(change.removed) &&
                               change.inserted.size() == code_points(change.inserted);
    if (counted_alike || !send_text_changed(e.id, change)) {
        QAccessibleTextUpdateEvent changed(e.iface, change.position, change.removed, change.inserted);
        QAccessible::updateAccessibility(&changed);
    }
}

std::uint64_t AccessBridge::focus_in(const std::vector<Visit>& order) const {
    // A modal node holds the focus: the focused node inside it, else the modal node itself.
    // Without one, the focused node anywhere.
    std::uint64_t modal = 0;
    for (const Visit& v : order) {
        if (v.entry->node.modal) modal = v.entry->key;
    }
    std::uint64_t focused = 0;
    for (const Visit& v : order) {
        if (v.entry->node.focused && (modal == 0 || inside(v.entry->key, modal))) focused = v.entry->key;
    }
    if (focused != 0) return focused;
    return modal != 0 ? modal : root_key_;
}

bool AccessBridge::inside(std::uint64_t key, std::uint64_t ancestor) const {
    while (key != 0 && key != ancestor) {
        const Entry* e = entry(key);
        key = e != nullptr ? e->parent : 0;
    }
    return key != 0;
}

bool AccessBridge::perform(std::uint64_t key, const a11y::SemanticAction& action) {
    const Entry* e = entry(key);
    if (e == nullptr || !e->node.element_id) return false;
    const bool accepted = host_.activate(*e->node.element_id, action);
    // Edits can come in pairs (delete, then insert) before the tree is rebuilt: the second one
    // works on the value the first one set.
    if (accepted && action.kind == a11y::SemanticActionKind::SetValue) entries_.at(key).edited = action.text;
    // The tree is rebuilt after the caller (the accessibility bridge) is done with this node, by
    // this bridge while it is there (its timer is the context).
    QTimer::singleShot(0, &pending_, [this] {
        refresh();
        if (activated_) activated_();
    });
    return accepted;
}

}  // namespace zavo_ui::qt
