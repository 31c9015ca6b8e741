#include "crdt/document.hpp"

#include <openssl/rand.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <list>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "crdt/change.hpp"

namespace crdt {

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

std::string to_hex(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (auto b : bytes) {
        out.push_back(hex_digits[b >> 4]);
        out.push_back(hex_digits[b & 15]);
    }
    return out;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::vector<std::uint8_t>> from_hex(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    std::vector<std::uint8_t> out(hex.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        int hi = hex_value(hex[2 * i]), lo = hex_value(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    return out;
}

// Decodes one UTF-8 scalar at s[i]; returns its length, 0 when invalid.
std::size_t utf8_scalar_length(std::string_view s, std::size_t i) {
    auto b = static_cast<unsigned char>(s[i]);
    std::size_t n;
    std::uint32_t cp;
    if (b < 0x80) return 1;
    if ((b & 0xE0) == 0xC0) { n = 2; cp = b & 0x1F; }
    else if ((b & 0xF0) == 0xE0) { n = 3; cp = b & 0x0F; }
    else if ((b & 0xF8) == 0xF0) { n = 4; cp = b & 0x07; }
    else return 0;
    if (i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000)) return 0;
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

// Splits valid UTF-8 into scalars; nullopt when invalid.
std::optional<std::vector<std::string_view>> split_scalars(std::string_view s) {
    std::vector<std::string_view> out;
    for (std::size_t i = 0; i < s.size();) {
        std::size_t n = utf8_scalar_length(s, i);
        if (n == 0) return std::nullopt;
        out.push_back(s.substr(i, n));
        i += n;
    }
    return out;
}

std::size_t count_scalars(std::string_view s) {
    std::size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

Error err(std::string message) { return Error{std::move(message)}; }

}  // namespace

// ---------------------------------------------------------------- small value types

ActorId ActorId::random() {
    std::vector<std::uint8_t> bytes(16);
    if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
        // The system random source is gone; fall back to the clock and the address space so
        // that two replicas still differ.
        auto seed = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                    reinterpret_cast<std::uintptr_t>(&bytes);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
            bytes[i] = static_cast<std::uint8_t>(seed >> 56);
        }
    }
    return ActorId(std::move(bytes));
}

Result<ActorId> ActorId::from_hex(std::string_view hex) {
    auto bytes = crdt::from_hex(hex);
    if (!bytes || bytes->empty()) return std::unexpected(err("invalid actor id"));
    return ActorId(std::move(*bytes));
}

std::string ActorId::to_hex() const { return crdt::to_hex(bytes_); }

std::string ChangeHash::to_hex() const { return crdt::to_hex(bytes); }

Result<ChangeHash> ChangeHash::from_hex(std::string_view hex) {
    auto b = crdt::from_hex(hex);
    if (!b || b->size() != 32) return std::unexpected(err("invalid change hash"));
    ChangeHash h;
    std::copy(b->begin(), b->end(), h.bytes.begin());
    return h;
}

std::string ObjId::to_string() const {
    if (is_root()) return "_root";
    return std::to_string(counter) + "@" + actor.to_hex();
}

std::string to_debug_string(const ScalarValue& value) {
    struct Visitor {
        std::string operator()(Null) const { return "null"; }
        std::string operator()(const std::string& s) const { return "\"" + s + "\""; }
        std::string operator()(std::int64_t v) const { return std::to_string(v); }
        std::string operator()(std::uint64_t v) const { return std::to_string(v) + "u"; }
        std::string operator()(double v) const {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.17g", v);
            return buf;
        }
        std::string operator()(Counter c) const { return "counter(" + std::to_string(c.value) + ")"; }
        std::string operator()(Timestamp t) const { return "timestamp(" + std::to_string(t.millis) + ")"; }
        std::string operator()(bool b) const { return b ? "true" : "false"; }
        std::string operator()(const Bytes& b) const { return "bytes(" + crdt::to_hex(b) + ")"; }
        std::string operator()(const Unknown& u) const {
            return "unknown(" + std::to_string(u.type_code) + ":" + crdt::to_hex(u.bytes) + ")";
        }
    };
    return std::visit(Visitor{}, value);
}

// ---------------------------------------------------------------- Change

const ActorId& Change::actor_id() const { return data_->actors.front(); }
std::uint64_t Change::seq() const { return data_->seq; }
std::uint64_t Change::start_op() const { return data_->start_op; }
std::size_t Change::op_count() const { return static_cast<std::size_t>(data_->op_count); }
std::int64_t Change::time() const { return data_->time; }
const std::optional<std::string>& Change::message() const { return data_->message; }
const std::vector<ChangeHash>& Change::deps() const { return data_->deps; }
const ChangeHash& Change::hash() const { return data_->hash; }
std::span<const std::uint8_t> Change::raw_bytes() const { return data_->bytes; }

Result<Change> Change::from_bytes(std::span<const std::uint8_t> bytes) {
    std::size_t budget = detail::op_budget_for(bytes.size());
    auto chunk = detail::decode_chunk(bytes, budget);
    if (!chunk) return std::unexpected(chunk.error());
    if (chunk->consumed != bytes.size()) return std::unexpected(err("trailing bytes after the change chunk"));
    if (chunk->changes.size() != 1) return std::unexpected(err("not a single change chunk"));
    auto& c = chunk->changes.front();
    c.ops = {};  // decoded again by the document it is applied to
    return Change(std::make_shared<const detail::ChangeData>(std::move(c)));
}

// ---------------------------------------------------------------- the engine

namespace {

// An op id with the actor as an index into the document's actor table.
struct OpId {
    std::uint64_t counter = 0;
    std::uint32_t actor = 0;
    friend bool operator==(const OpId&, const OpId&) = default;
};

struct OpIdHash {
    std::size_t operator()(const OpId& id) const noexcept {
        return std::hash<std::uint64_t>{}(id.counter * 0x9E3779B97F4A7C15ULL ^ id.actor);
    }
};

struct ChangeHashHash {
    std::size_t operator()(const ChangeHash& h) const noexcept {
        std::size_t v;
        std::memcpy(&v, h.bytes.data(), sizeof v);
        return v;
    }
};

constexpr OpId root_id{0, 0};

// An operation with document actor indices.
struct DocOp {
    OpId id;
    OpId obj;
    std::optional<std::string> key_str;
    OpId key_elem;  // counter 0: head
    bool insert = false;
    std::uint64_t action = detail::Set;
    ScalarValue value = Null{};
    std::vector<OpId> pred;
};

struct Object;

// An operation to apply, pointing into the change or transaction that holds its data.
struct OpView {
    OpId id;
    OpId obj;
    const std::string* key_str = nullptr;  // null: key_elem is the list element
    OpId key_elem;
    bool insert = false;
    std::uint64_t action = detail::Set;
    const ScalarValue* value = nullptr;
    std::span<const OpId> pred;
    Object* object = nullptr;  // the target when already known
};

OpView view_of(const DocOp& op) {
    return OpView{op.id, op.obj, op.key_str ? &*op.key_str : nullptr, op.key_elem, op.insert, op.action, &op.value,
                  op.pred, nullptr};
}

// A value that no later operation has overwritten or deleted.
struct LiveOp {
    OpId id;
    Value value;
    Object* object = nullptr;  // the object when the value is one
};

// The live values at one key or element, sorted by op id. Almost always one: that one is kept
// inline, more go to the heap.
class LiveOps {
public:
    std::size_t size() const { return heap_.empty() ? has_one_ : heap_.size(); }
    bool empty() const { return size() == 0; }
    LiveOp* begin() { return heap_.empty() ? &one_ : heap_.data(); }
    LiveOp* end() { return begin() + size(); }
    const LiveOp* begin() const { return heap_.empty() ? &one_ : heap_.data(); }
    const LiveOp* end() const { return begin() + size(); }
    const LiveOp& back() const { return *(end() - 1); }

    template <class Pred>
    void erase_if(Pred pred) {
        if (heap_.empty()) {
            if (has_one_ && pred(one_)) has_one_ = false;
            return;
        }
        std::erase_if(heap_, pred);
        if (heap_.size() == 1) {
            one_ = std::move(heap_.front());
            heap_.clear();
            has_one_ = true;
        }
    }

    // Inserts before the first value for which `before(value)` holds.
    template <class Before>
    void insert(LiveOp op, Before before) {
        if (heap_.empty() && !has_one_) {
            one_ = std::move(op);
            has_one_ = true;
            return;
        }
        if (heap_.empty()) {
            heap_.push_back(std::move(one_));
            has_one_ = false;
        }
        auto pos = std::find_if(heap_.begin(), heap_.end(), before);
        heap_.insert(pos, std::move(op));
    }

private:
    LiveOp one_;
    bool has_one_ = false;
    std::vector<LiveOp> heap_;  // used for two or more
};

struct Element {
    OpId id;      // the inserting operation
    LiveOps ops;  // empty once deleted
};

// The elements of a list or text in order, deleted ones included (they anchor inserts). Lookup
// by element id goes through a hash index once the sequence is longer than a few elements, so
// that applying n operations stays linear.
class Sequence {
public:
    using List = std::list<Element>;

    Sequence() = default;
    Sequence(const Sequence& other) : list_(other.list_) {}
    Sequence& operator=(const Sequence& other) {
        if (this != &other) {
            list_ = other.list_;
            index_.clear();
            indexed_ = false;
        }
        return *this;
    }
    Sequence(Sequence&&) noexcept = default;  // list nodes, and so the index, move along
    Sequence& operator=(Sequence&&) noexcept = default;

    List::iterator begin() const { return list_.begin(); }
    List::iterator end() const { return list_.end(); }
    std::size_t size() const { return list_.size(); }

    List::iterator find(const OpId& id) const {
        if (!indexed_ && list_.size() > 16) {
            index_.reserve(list_.size());
            for (auto it = list_.begin(); it != list_.end(); ++it) index_.emplace(it->id, it);
            indexed_ = true;
        }
        if (indexed_) {
            auto it = index_.find(id);
            return it == index_.end() ? list_.end() : it->second;
        }
        return std::find_if(list_.begin(), list_.end(), [&](const Element& e) { return e.id == id; });
    }

    List::iterator insert(List::iterator pos, Element e) {
        auto it = list_.insert(pos, std::move(e));
        if (indexed_) index_.emplace(it->id, it);
        return it;
    }

private:
    // Mutable so that reads may build the index.
    mutable List list_;
    mutable std::unordered_map<OpId, List::iterator, OpIdHash> index_;
    mutable bool indexed_ = false;
};

struct Object {
    ObjType type = ObjType::Map;
    std::map<std::string, LiveOps, std::less<>> map;
    Sequence seq;
};

std::optional<ObjType> made_type(std::uint64_t action) {
    switch (action) {
        case detail::MakeMap:
        case detail::MakeTable: return ObjType::Map;
        case detail::MakeList: return ObjType::List;
        case detail::MakeText: return ObjType::Text;
        default: return std::nullopt;
    }
}

std::int64_t now_seconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool is_counter(const LiveOp& op) {
    auto s = op.value.scalar();
    return s && std::holds_alternative<Counter>(*s);
}

}  // namespace

struct Document::Impl {
    ActorId actor;
    std::uint32_t actor_idx = 0;
    std::vector<ActorId> actors;
    std::unordered_map<std::string, std::uint32_t> actor_index;  // actor bytes -> index

    std::unordered_map<OpId, Object, OpIdHash> objects;
    std::uint64_t max_op = 0;

    std::vector<std::shared_ptr<const detail::ChangeData>> history;  // in the order applied
    std::unordered_map<ChangeHash, std::size_t, ChangeHashHash> by_hash;
    std::vector<ChangeHash> heads;  // sorted
    std::vector<std::uint64_t> last_seq;     // by actor index
    std::vector<std::uint64_t> last_op;      // by actor index: counter of its last op

    std::unordered_map<ChangeHash, std::shared_ptr<const detail::ChangeData>, ChangeHashHash> queued;
    std::unordered_map<ChangeHash, std::vector<ChangeHash>, ChangeHashHash> waiting;  // missing dep -> changes

    std::vector<DocOp> tx;

    // The object a read last handed out, so that reading it next skips the table. Not copied.
    struct Recent {
        OpId id;
        const Object* object = nullptr;
        Recent() = default;
        Recent(const Recent&) {}
        Recent& operator=(const Recent&) {
            object = nullptr;
            return *this;
        }
    };
    mutable Recent recent;
    // Ids handed to map visitors, one per nesting level: reusing them keeps their actor buffers.
    mutable std::deque<ObjId> visit_ids;
    mutable std::size_t visit_depth = 0;

    // Buffers reused from change to change while applying.
    struct Scratch {
        std::vector<std::uint32_t> doc_actor;
        std::vector<OpId> preds;
        std::vector<Object*> targets;
        std::vector<Object*> made;
    } scratch;

    explicit Impl(ActorId a) {
        objects.emplace(root_id, Object{});
        set_actor(std::move(a));
    }

    // --- actors and op ids

    static std::string key_of(const ActorId& a) {
        const auto& b = a.to_bytes();
        return std::string(b.begin(), b.end());
    }

    std::uint32_t intern(const ActorId& a) {
        if (auto known = find_actor(a)) return *known;
        actor_index.emplace(key_of(a), static_cast<std::uint32_t>(actors.size()));
        actors.push_back(a);
        last_seq.push_back(0);
        last_op.push_back(0);
        return static_cast<std::uint32_t>(actors.size() - 1);
    }

    std::optional<std::uint32_t> find_actor(const ActorId& a) const {
        // Documents have few actors: a scan beats building a key to hash.
        if (actors.size() <= 16) {
            for (std::size_t i = 0; i < actors.size(); ++i)
                if (actors[i] == a) return static_cast<std::uint32_t>(i);
            return std::nullopt;
        }
        auto it = actor_index.find(key_of(a));
        if (it == actor_index.end()) return std::nullopt;
        return it->second;
    }

    void set_actor(ActorId a) {
        actor = std::move(a);
        actor_idx = intern(actor);
    }

    // Greater counter wins; equal counters order by actor bytes.
    bool op_less(const OpId& a, const OpId& b) const {
        if (a.counter != b.counter) return a.counter < b.counter;
        if (a.actor == b.actor) return false;
        return actors[a.actor] < actors[b.actor];
    }

    ObjId public_id(const OpId& id) const {
        if (id.counter == 0) return ROOT;
        return ObjId{id.counter, actors[id.actor]};
    }

    Result<OpId> internal_id(const ObjId& obj) const {
        if (obj.is_root()) return root_id;
        auto a = find_actor(obj.actor);
        if (!a) return std::unexpected(err("object " + obj.to_string() + " not found"));
        return OpId{obj.counter, *a};
    }

    Result<std::pair<OpId, const Object*>> lookup(const ObjId& obj) const {
        auto id = internal_id(obj);
        if (!id) return std::unexpected(id.error());
        if (recent.object && recent.id == *id) return std::pair{*id, recent.object};
        auto it = objects.find(*id);
        if (it == objects.end()) return std::unexpected(err("object " + obj.to_string() + " not found"));
        return std::pair{*id, &it->second};
    }

    Result<std::pair<OpId, const Object*>> lookup_as(const ObjId& obj, bool want_map) const {
        auto r = lookup(obj);
        if (!r) return r;
        bool is_map = r->second->type == ObjType::Map;
        if (want_map != is_map)
            return std::unexpected(err("object " + obj.to_string() + (want_map ? " is not a map" : " is not a list or text")));
        return r;
    }

    // --- sequences

    static std::size_t width(const Element& e, ObjType type) {
        if (type != ObjType::Text) return 1;
        auto s = e.ops.back().value.scalar();
        if (s) {
            if (auto str = std::get_if<std::string>(s)) return count_scalars(*str);
        }
        return 1;
    }

    // The visible element number `index`, or null when out of range.
    static Element* nth_visible(const Object& o, std::size_t index) {
        for (auto& e : o.seq) {
            if (e.ops.empty()) continue;
            if (index-- == 0) return &e;
        }
        return nullptr;
    }

    static std::size_t visible_count(const Object& o) {
        std::size_t n = 0;
        for (const auto& e : o.seq) n += !e.ops.empty();
        return n;
    }

    // Where an element inserted after `ref` with id `id` goes: after the reference, past every
    // element with a greater id (later concurrent inserts at the same place come first).
    Sequence::List::iterator insert_position(const Object& o, const OpId& ref, const OpId& id) const {
        auto it = o.seq.begin();
        if (ref.counter != 0) it = std::next(o.seq.find(ref));
        while (it != o.seq.end() && op_less(id, it->id)) ++it;
        return it;
    }

    // --- applying operations (already checked)

    void update(LiveOps& ops, const OpView& op, Object* made_object) {
        auto in_pred = [&](const OpId& id) {
            return std::find(op.pred.begin(), op.pred.end(), id) != op.pred.end();
        };
        if (op.action == detail::Inc) {
            std::int64_t by = 0;
            if (auto i = std::get_if<std::int64_t>(op.value)) by = *i;
            else if (auto u = std::get_if<std::uint64_t>(op.value)) by = static_cast<std::int64_t>(*u);
            for (auto& live : ops) {
                if (!in_pred(live.id) || !is_counter(live)) continue;
                auto& c = std::get<Counter>(std::get<ScalarValue>(live.value.data));
                c.value = static_cast<std::int64_t>(static_cast<std::uint64_t>(c.value) + static_cast<std::uint64_t>(by));
            }
            return;
        }
        if (!op.pred.empty()) ops.erase_if([&](const LiveOp& live) { return in_pred(live.id); });
        if (op.action == detail::Del) return;
        auto made = made_type(op.action);
        ops.insert(LiveOp{op.id, made ? Value{*made} : Value{*op.value}, made_object},
                   [&](const LiveOp& l) { return op_less(op.id, l.id); });
    }

    // Returns the object the operation made, if it made one.
    Object* apply_op(const OpView& op) {
        max_op = std::max(max_op, op.id.counter);
        if (op.action > detail::MakeTable) return nullptr;
        Object* created = nullptr;
        if (auto t = made_type(op.action)) {
            Object fresh;
            fresh.type = *t;
            created = &objects.emplace(op.id, std::move(fresh)).first->second;
        }
        Object& o = op.object ? *op.object : objects.find(op.obj)->second;
        if (op.key_str) {
            auto it = o.map.lower_bound(*op.key_str);
            if (it != o.map.end() && it->first == *op.key_str) {
                update(it->second, op, created);
                if (it->second.empty()) o.map.erase(it);
            } else if (op.action != detail::Del && op.action != detail::Inc) {
                update(o.map.emplace_hint(it, *op.key_str, LiveOps{})->second, op, created);
            }
        } else if (op.insert) {
            auto pos = insert_position(o, op.key_elem, op.id);
            Element e{op.id, {}};
            update(e.ops, op, created);
            o.seq.insert(pos, std::move(e));
        } else {
            update(o.seq.find(op.key_elem)->ops, op, created);
        }
        return created;
    }

    // After copying: values that are objects point at this document's objects.
    void relink_objects() {
        auto relink = [&](LiveOps& ops) {
            for (auto& live : ops)
                if (live.object) live.object = &objects.find(live.id)->second;
        };
        for (auto& [id, o] : objects) {
            for (auto& [k, ops] : o.map) relink(ops);
            for (auto& e : o.seq) relink(e.ops);
        }
    }

    // --- local edits

    OpId next_id() const { return OpId{max_op + 1, actor_idx}; }

    void local(DocOp op) {
        op.id = next_id();
        apply_op(view_of(op));
        tx.push_back(std::move(op));
    }

    static std::vector<OpId> ids_of(const LiveOps& ops) {
        std::vector<OpId> ids;
        ids.reserve(ops.size());
        for (const auto& o : ops) ids.push_back(o.id);
        return ids;
    }

    Result<void> put_map(const ObjId& obj, std::string_view key, std::uint64_t action, ScalarValue value, OpId* made) {
        auto r = lookup_as(obj, true);
        if (!r) return std::unexpected(r.error());
        DocOp op;
        op.obj = r->first;
        op.key_str = std::string(key);
        op.action = action;
        op.value = std::move(value);
        auto it = r->second->map.find(key);
        if (it != r->second->map.end()) op.pred = ids_of(it->second);
        if (made) *made = next_id();
        local(std::move(op));
        return {};
    }

    Result<void> put_seq(const ObjId& obj, std::size_t index, std::uint64_t action, ScalarValue value, OpId* made) {
        auto r = lookup_as(obj, false);
        if (!r) return std::unexpected(r.error());
        auto raw = nth_visible(*r->second, index);
        if (!raw) return std::unexpected(err("index " + std::to_string(index) + " out of bounds"));
        const auto& e = *raw;
        DocOp op;
        op.obj = r->first;
        op.key_elem = e.id;
        op.action = action;
        op.value = std::move(value);
        op.pred = ids_of(e.ops);
        if (made) *made = next_id();
        local(std::move(op));
        return {};
    }

    Result<void> insert_seq(const ObjId& obj, std::size_t index, std::uint64_t action, ScalarValue value, OpId* made) {
        auto r = lookup_as(obj, false);
        if (!r) return std::unexpected(r.error());
        OpId ref = root_id;
        if (index > 0) {
            auto raw = nth_visible(*r->second, index - 1);
            if (!raw) return std::unexpected(err("index " + std::to_string(index) + " out of bounds"));
            ref = raw->id;
        }
        DocOp op;
        op.obj = r->first;
        op.key_elem = ref;
        op.insert = true;
        op.action = action;
        op.value = std::move(value);
        if (made) *made = next_id();
        local(std::move(op));
        return {};
    }

    // --- history

    std::optional<ChangeHash> commit(std::optional<std::string> message, std::optional<std::int64_t> time) {
        if (tx.empty()) return std::nullopt;
        auto data = std::make_shared<detail::ChangeData>();
        // The author first, then every other actor mentioned, in byte order.
        std::vector<std::uint32_t> others;
        auto note = [&](const OpId& id) {
            if (id.counter != 0 && id.actor != actor_idx) others.push_back(id.actor);
        };
        for (const auto& op : tx) {
            note(op.obj);
            if (!op.key_str) note(op.key_elem);
            for (const auto& p : op.pred) note(p);
        }
        std::sort(others.begin(), others.end(), [&](auto a, auto b) { return actors[a] < actors[b]; });
        others.erase(std::unique(others.begin(), others.end()), others.end());
        std::unordered_map<std::uint32_t, std::uint32_t> local_of{{actor_idx, 0}};
        data->actors.push_back(actor);
        for (auto a : others) {
            local_of.emplace(a, static_cast<std::uint32_t>(data->actors.size()));
            data->actors.push_back(actors[a]);
        }
        auto ref = [&](const OpId& id) {
            return id.counter == 0 ? detail::OpRef{} : detail::OpRef{id.counter, local_of.at(id.actor)};
        };
        data->seq = last_seq[actor_idx] + 1;
        data->start_op = tx.front().id.counter;
        data->time = time ? *time : now_seconds();
        data->message = std::move(message);
        data->deps = heads;
        data->ops.reserve(tx.size());
        for (auto& op : tx) {
            detail::ChangeOp c;
            c.obj = ref(op.obj);
            c.key_str = std::move(op.key_str);
            if (!c.key_str) c.key_elem = ref(op.key_elem);
            c.insert = op.insert;
            c.action = op.action;
            c.value = std::move(op.value);
            c.pred.reserve(op.pred.size());
            for (const auto& p : op.pred) c.pred.push_back(ref(p));
            std::sort(c.pred.begin(), c.pred.end(), [&](const detail::OpRef& a, const detail::OpRef& b) {
                if (a.counter != b.counter) return a.counter < b.counter;
                return data->actors[a.actor] < data->actors[b.actor];
            });
            data->ops.push_back(std::move(c));
        }
        tx.clear();
        detail::encode_change(*data);
        data->ops = {};  // applied already; the bytes keep them
        record(data);
        return data->hash;
    }

    void record(std::shared_ptr<const detail::ChangeData> data) {
        auto author = intern(data->actors.front());
        last_seq[author] = data->seq;
        if (data->op_count != 0) last_op[author] = data->start_op + data->op_count - 1;
        for (const auto& d : data->deps) {
            auto it = std::lower_bound(heads.begin(), heads.end(), d);
            if (it != heads.end() && *it == d) heads.erase(it);
        }
        heads.insert(std::lower_bound(heads.begin(), heads.end(), data->hash), data->hash);
        by_hash.emplace(data->hash, history.size());
        history.push_back(std::move(data));
    }

    // Checks a remote change against the document and applies it, or fails without changing
    // anything.
    // `ops` are the change's operations (decoded again from its bytes when it came without).
    Result<void> apply_remote(const detail::ChangeData& c, const std::vector<detail::ChangeOp>& change_ops) {
        if (c.actors.empty() || c.actors.front().to_bytes().empty())
            return std::unexpected(err("change without an actor"));
        // Actors not yet known get the indices they will have once added.
        auto& doc_actor = scratch.doc_actor;
        doc_actor.assign(c.actors.size(), 0);
        std::vector<ActorId> fresh;
        for (std::size_t i = 0; i < c.actors.size(); ++i) {
            if (auto a = find_actor(c.actors[i])) {
                doc_actor[i] = *a;
            } else {
                auto pending = std::find(fresh.begin(), fresh.end(), c.actors[i]);
                if (pending != fresh.end()) return std::unexpected(err("change lists an actor twice"));
                doc_actor[i] = static_cast<std::uint32_t>(actors.size() + fresh.size());
                fresh.push_back(c.actors[i]);
            }
        }
        std::uint32_t author = doc_actor[0];
        std::uint64_t prev_seq = author < last_seq.size() ? last_seq[author] : 0;
        std::uint64_t prev_op = author < last_op.size() ? last_op[author] : 0;
        if (c.seq != prev_seq + 1)
            return std::unexpected(err("change " + c.hash.to_hex() + " has sequence number " + std::to_string(c.seq) +
                                       ", expected " + std::to_string(prev_seq + 1)));
        if (!change_ops.empty() && (c.start_op <= prev_op || c.start_op > UINT64_MAX - change_ops.size()))
            return std::unexpected(err("change " + c.hash.to_hex() + " reuses operation counters"));

        auto map_ref = [&](const detail::OpRef& r) -> Result<OpId> {
            if (r.counter == 0) return root_id;
            if (r.actor >= doc_actor.size()) return std::unexpected(err("actor index out of range"));
            return OpId{r.counter, doc_actor[r.actor]};
        };

        // After the checks below, references resolve without failing.
        auto resolved = [&](const detail::OpRef& r) {
            return r.counter == 0 ? root_id : OpId{r.counter, doc_actor[r.actor]};
        };

        std::size_t npred = 0;
        for (const auto& co : change_ops) npred += co.pred.size();
        auto& preds = scratch.preds;  // every op's predecessors, back to back
        preds.clear();
        preds.reserve(npred);
        // The object each op works on where it exists already; null where this change makes it.
        auto& targets = scratch.targets;
        targets.assign(change_ops.size(), nullptr);
        // The index of the op before `i` in this change that has the id, if any: objects and
        // elements the change makes are found there before they exist, without hashing.
        auto earlier = [&](const OpId& id, std::size_t i) -> std::optional<std::size_t> {
            if (id.actor != author || id.counter < c.start_op || id.counter - c.start_op >= i) return std::nullopt;
            return static_cast<std::size_t>(id.counter - c.start_op);
        };
        std::size_t made_count = 0;
        OpId last_obj;
        Object* last_object = nullptr;
        for (std::size_t i = 0; i < change_ops.size(); ++i) {
            const auto& co = change_ops[i];
            auto obj = map_ref(co.obj);
            if (!obj) return std::unexpected(obj.error());
            // An action from a newer format version: kept in the change, no effect here.
            if (co.action > detail::MakeTable) continue;
            ObjType type;
            if (last_object && last_obj == *obj) {
                // Runs of operations on one object are the rule.
                targets[i] = last_object;
                type = last_object->type;
            } else if (auto maker = earlier(*obj, i)) {
                auto made = made_type(change_ops[*maker].action);
                if (!made) return std::unexpected(err("operation on a missing object"));
                type = *made;
            } else if (auto it = objects.find(*obj); it != objects.end()) {
                targets[i] = &it->second;  // node-based: stays valid while objects are added
                type = it->second.type;
            } else {
                return std::unexpected(err("operation on a missing object"));
            }
            last_obj = *obj;
            last_object = targets[i];
            if (co.key_str) {
                if (type != ObjType::Map || co.insert) return std::unexpected(err("map key on a list or text"));
            } else {
                if (type == ObjType::Map) return std::unexpected(err("list element on a map"));
                auto elem = map_ref(co.key_elem);
                if (!elem) return std::unexpected(elem.error());
                if (elem->counter == 0) {
                    if (!co.insert) return std::unexpected(err("update of the list head"));
                } else {
                    auto inserter = earlier(*elem, i);
                    const auto* by = inserter ? &change_ops[*inserter] : nullptr;
                    bool found = by ? by->insert && by->action <= detail::MakeTable && resolved(by->obj) == *obj
                                    : targets[i] && targets[i]->seq.find(*elem) != targets[i]->seq.end();
                    if (!found) return std::unexpected(err("operation on a missing list element"));
                }
                if (co.insert && (co.action == detail::Del || co.action == detail::Inc))
                    return std::unexpected(err("insert with a delete or increment"));
            }
            if (co.action == detail::Inc && !std::holds_alternative<std::int64_t>(co.value) &&
                !std::holds_alternative<std::uint64_t>(co.value))
                return std::unexpected(err("increment without an integer"));
            for (const auto& p : co.pred) {
                auto id = map_ref(p);
                if (!id) return std::unexpected(id.error());
                preds.push_back(*id);
            }
            made_count += made_type(co.action).has_value();
        }
        for (const auto& a : fresh) intern(a);
        auto& made = scratch.made;  // the object each op made
        made.assign(change_ops.size(), nullptr);
        objects.reserve(objects.size() + made_count);
        std::size_t next_pred = 0;
        for (std::size_t i = 0; i < change_ops.size(); ++i) {
            const auto& co = change_ops[i];
            OpView op;
            op.id = OpId{c.start_op + i, author};
            op.obj = resolved(co.obj);
            op.action = co.action;
            if (co.action <= detail::MakeTable) {
                op.key_str = co.key_str ? &*co.key_str : nullptr;
                if (!co.key_str) op.key_elem = resolved(co.key_elem);
                op.insert = co.insert;
                op.value = &co.value;
                op.pred = std::span<const OpId>(preds).subspan(next_pred, co.pred.size());
                next_pred += co.pred.size();
                op.object = targets[i] ? targets[i] : made[*earlier(op.obj, i)];
            }
            made[i] = apply_op(op);
        }
        return {};
    }

    // Applies a change whose dependencies are present and records it without its operations.
    Result<void> apply_one(std::shared_ptr<const detail::ChangeData> data) {
        if (data->ops.size() != data->op_count) {
            std::size_t budget = detail::op_budget_for(data->bytes.size());
            auto chunk = detail::decode_chunk(data->bytes, budget);
            if (!chunk) return std::unexpected(chunk.error());
            if (chunk->changes.size() != 1) return std::unexpected(err("not a single change chunk"));
            if (auto r = apply_remote(*data, chunk->changes.front().ops); !r) return r;
        } else {
            if (auto r = apply_remote(*data, data->ops); !r) return r;
            if (!data->ops.empty()) {
                if (data.use_count() == 1) {
                    // Only this document holds it, and it was made mutable: drop the ops in place.
                    const_cast<detail::ChangeData&>(*data).ops = {};
                } else {
                    auto copy = std::make_shared<detail::ChangeData>(*data);
                    copy->ops = {};
                    data = std::move(copy);
                }
            }
        }
        record(std::move(data));
        return {};
    }

    bool deps_present(const detail::ChangeData& c) const {
        return std::all_of(c.deps.begin(), c.deps.end(), [&](const ChangeHash& d) { return by_hash.contains(d); });
    }

    Result<void> receive(std::shared_ptr<const detail::ChangeData> data) {
        if (by_hash.contains(data->hash) || queued.contains(data->hash)) return {};
        auto hash = data->hash;
        if (!deps_present(*data)) {
            for (const auto& d : data->deps)
                if (!by_hash.contains(d)) waiting[d].push_back(hash);
            queued.emplace(hash, std::move(data));
            return {};
        }
        if (auto r = apply_one(std::move(data)); !r) return r;
        if (waiting.empty()) return {};
        // Changes that waited for this one.
        std::vector<ChangeHash> ready{hash};
        while (!ready.empty()) {
            auto h = ready.back();
            ready.pop_back();
            auto w = waiting.find(h);
            if (w == waiting.end()) continue;
            auto waiters = std::move(w->second);
            waiting.erase(w);
            for (const auto& q : waiters) {
                auto it = queued.find(q);
                if (it == queued.end() || !deps_present(*it->second)) continue;
                auto change = std::move(it->second);
                queued.erase(it);
                if (auto r = apply_one(std::move(change)); !r) return r;
                ready.push_back(q);
            }
        }
        return {};
    }

    std::vector<std::size_t> changes_since(std::span<const ChangeHash> since) const {
        std::vector<bool> known(history.size(), false);
        std::vector<std::size_t> stack;
        for (const auto& h : since)
            if (auto it = by_hash.find(h); it != by_hash.end()) stack.push_back(it->second);
        while (!stack.empty()) {
            auto i = stack.back();
            stack.pop_back();
            if (known[i]) continue;
            known[i] = true;
            for (const auto& d : history[i]->deps) stack.push_back(by_hash.at(d));
        }
        std::vector<std::size_t> out;
        for (std::size_t i = 0; i < history.size(); ++i)
            if (!known[i]) out.push_back(i);
        return out;
    }
};

// ---------------------------------------------------------------- Document

Document::Document() : Document(ActorId::random()) {}
Document::Document(ActorId actor) : impl_(std::make_unique<Impl>(std::move(actor))) {}
Document::Document(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Document::~Document() = default;
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;

const ActorId& Document::actor_id() const { return impl_->actor; }

void Document::set_actor(ActorId actor) {
    commit();
    impl_->set_actor(std::move(actor));
}

Result<ObjType> Document::object_type(const ObjId& obj) const {
    auto r = impl_->lookup(obj);
    if (!r) return std::unexpected(r.error());
    return r->second->type;
}

namespace {
std::optional<Entry> winner(const std::vector<Entry>& all) {
    if (all.empty()) return std::nullopt;
    return all.back();
}
}  // namespace

Result<std::vector<Entry>> Document::get_all(const ObjId& obj, std::string_view key) const {
    auto r = impl_->lookup_as(obj, true);
    if (!r) return std::unexpected(r.error());
    std::vector<Entry> out;
    auto it = r->second->map.find(key);
    if (it == r->second->map.end()) return out;
    for (const auto& op : it->second) out.push_back(Entry{op.value, impl_->public_id(op.id)});
    return out;
}

Result<std::vector<Entry>> Document::get_all(const ObjId& obj, std::size_t index) const {
    auto r = impl_->lookup_as(obj, false);
    if (!r) return std::unexpected(r.error());
    std::vector<Entry> out;
    auto raw = Impl::nth_visible(*r->second, index);
    if (!raw) return out;
    for (const auto& op : raw->ops) out.push_back(Entry{op.value, impl_->public_id(op.id)});
    return out;
}

Result<std::optional<Entry>> Document::get(const ObjId& obj, std::string_view key) const {
    auto all = get_all(obj, key);
    if (!all) return std::unexpected(all.error());
    return winner(*all);
}

Result<std::optional<Entry>> Document::get(const ObjId& obj, std::size_t index) const {
    auto all = get_all(obj, index);
    if (!all) return std::unexpected(all.error());
    return winner(*all);
}

Result<std::vector<std::string>> Document::keys(const ObjId& obj) const {
    auto r = impl_->lookup_as(obj, true);
    if (!r) return std::unexpected(r.error());
    std::vector<std::string> out;
    out.reserve(r->second->map.size());
    for (const auto& [k, ops] : r->second->map) out.push_back(k);
    return out;
}

Result<void> Document::for_each_entry(const ObjId& map, EntryVisitor visit) const {
    auto r = impl_->lookup_as(map, true);
    if (!r) return std::unexpected(r.error());
    auto& impl = *impl_;
    if (impl.visit_depth == impl.visit_ids.size()) impl.visit_ids.emplace_back();
    ObjId& id = impl.visit_ids[impl.visit_depth];
    struct Nesting {
        std::size_t& depth;
        explicit Nesting(std::size_t& d) : depth(d) { ++depth; }
        ~Nesting() { --depth; }
    } nesting(impl.visit_depth);
    for (const auto& [k, ops] : r->second->map) {
        const LiveOp& win = ops.back();
        if (win.value.is_object()) {
            id.counter = win.id.counter;
            id.actor = impl_->actors[win.id.actor];
            impl_->recent.id = win.id;
            impl_->recent.object = win.object;
            visit(k, win.value, &id);
        } else {
            visit(k, win.value, nullptr);
        }
    }
    return {};
}

Result<std::size_t> Document::length(const ObjId& obj) const {
    auto r = impl_->lookup(obj);
    if (!r) return std::unexpected(r.error());
    const Object& o = *r->second;
    if (o.type == ObjType::Map) return o.map.size();
    if (o.type == ObjType::List) return Impl::visible_count(o);
    std::size_t n = 0;
    for (const auto& e : o.seq)
        if (!e.ops.empty()) n += Impl::width(e, o.type);
    return n;
}

Result<std::string> Document::text(const ObjId& obj) const {
    auto r = impl_->lookup(obj);
    if (!r) return std::unexpected(r.error());
    if (r->second->type != ObjType::Text) return std::unexpected(err("object " + obj.to_string() + " is not a text"));
    std::string out;
    for (const auto& e : r->second->seq) {
        if (e.ops.empty()) continue;
        auto s = e.ops.back().value.scalar();
        const std::string* str = s ? std::get_if<std::string>(s) : nullptr;
        out += str ? *str : std::string("\xEF\xBF\xBC");
    }
    return out;
}

Result<void> Document::put(const ObjId& obj, std::string_view key, ScalarValue value) {
    return impl_->put_map(obj, key, detail::Set, std::move(value), nullptr);
}

Result<void> Document::put(const ObjId& obj, std::size_t index, ScalarValue value) {
    return impl_->put_seq(obj, index, detail::Set, std::move(value), nullptr);
}

namespace {
std::uint64_t make_action(ObjType type) {
    switch (type) {
        case ObjType::Map: return detail::MakeMap;
        case ObjType::List: return detail::MakeList;
        case ObjType::Text: return detail::MakeText;
    }
    return detail::MakeMap;
}
}  // namespace

Result<ObjId> Document::put_object(const ObjId& obj, std::string_view key, ObjType type) {
    OpId made;
    if (auto r = impl_->put_map(obj, key, make_action(type), Null{}, &made); !r) return std::unexpected(r.error());
    return impl_->public_id(made);
}

Result<ObjId> Document::put_object(const ObjId& obj, std::size_t index, ObjType type) {
    OpId made;
    if (auto r = impl_->put_seq(obj, index, make_action(type), Null{}, &made); !r) return std::unexpected(r.error());
    return impl_->public_id(made);
}

Result<void> Document::insert(const ObjId& list, std::size_t index, ScalarValue value) {
    return impl_->insert_seq(list, index, detail::Set, std::move(value), nullptr);
}

Result<ObjId> Document::insert_object(const ObjId& list, std::size_t index, ObjType type) {
    OpId made;
    if (auto r = impl_->insert_seq(list, index, make_action(type), Null{}, &made); !r)
        return std::unexpected(r.error());
    return impl_->public_id(made);
}

Result<void> Document::delete_key(const ObjId& map, std::string_view key) {
    auto r = impl_->lookup_as(map, true);
    if (!r) return std::unexpected(r.error());
    if (!r->second->map.contains(key)) return {};
    return impl_->put_map(map, key, detail::Del, Null{}, nullptr);
}

Result<void> Document::delete_index(const ObjId& list, std::size_t index) {
    return impl_->put_seq(list, index, detail::Del, Null{}, nullptr);
}

namespace {
Result<void> check_counter(const LiveOps* ops) {
    if (!ops || std::none_of(ops->begin(), ops->end(), is_counter)) return std::unexpected(err("no counter to increment"));
    return {};
}
}  // namespace

Result<void> Document::increment(const ObjId& obj, std::string_view key, std::int64_t by) {
    auto r = impl_->lookup_as(obj, true);
    if (!r) return std::unexpected(r.error());
    auto it = r->second->map.find(key);
    if (auto c = check_counter(it == r->second->map.end() ? nullptr : &it->second); !c) return c;
    DocOp op;
    op.obj = r->first;
    op.key_str = std::string(key);
    op.action = detail::Inc;
    op.value = by;
    for (const auto& l : it->second)
        if (is_counter(l)) op.pred.push_back(l.id);
    impl_->local(std::move(op));
    return {};
}

Result<void> Document::increment(const ObjId& obj, std::size_t index, std::int64_t by) {
    auto r = impl_->lookup_as(obj, false);
    if (!r) return std::unexpected(r.error());
    auto raw = Impl::nth_visible(*r->second, index);
    if (!raw) return std::unexpected(err("index " + std::to_string(index) + " out of bounds"));
    const auto& e = *raw;
    if (auto c = check_counter(&e.ops); !c) return c;
    DocOp op;
    op.obj = r->first;
    op.key_elem = e.id;
    op.action = detail::Inc;
    op.value = by;
    for (const auto& l : e.ops)
        if (is_counter(l)) op.pred.push_back(l.id);
    impl_->local(std::move(op));
    return {};
}

Result<void> Document::splice_text(const ObjId& text, std::size_t pos, std::size_t del, std::string_view text_to_insert) {
    auto r = impl_->lookup(text);
    if (!r) return std::unexpected(r.error());
    if (r->second->type != ObjType::Text) return std::unexpected(err("object " + text.to_string() + " is not a text"));
    auto scalars = split_scalars(text_to_insert);
    if (!scalars) return std::unexpected(err("text to insert is not valid UTF-8"));
    const Object& o = *r->second;
    OpId obj_id = r->first;

    // Find the visible elements covering [pos, pos + del) and the one before pos.
    std::size_t at = 0;
    OpId ref = root_id;
    std::vector<const Element*> doomed;
    std::size_t removed = 0;
    for (auto it = o.seq.begin(); it != o.seq.end() && (at < pos || removed < del); ++it) {
        const auto& e = *it;
        if (e.ops.empty()) continue;
        std::size_t w = Impl::width(e, o.type);
        if (at < pos) {
            if (at + w > pos) return std::unexpected(err("position " + std::to_string(pos) + " is inside an element"));
            at += w;
            ref = e.id;
        } else {
            doomed.push_back(&e);
            removed += w;
        }
    }
    if (at < pos) return std::unexpected(err("position " + std::to_string(pos) + " out of bounds"));
    if (removed < del) return std::unexpected(err("deletion past the end of the text"));

    std::vector<DocOp> dels;
    for (const Element* e : doomed) {
        DocOp op;
        op.obj = obj_id;
        op.key_elem = e->id;
        op.action = detail::Del;
        op.pred = Impl::ids_of(e->ops);
        dels.push_back(std::move(op));
    }
    // Inserts first, then deletes, as the reference library orders a splice.
    for (auto s : *scalars) {
        DocOp op;
        op.obj = obj_id;
        op.key_elem = ref;
        op.insert = true;
        op.value = std::string(s);
        ref = impl_->next_id();
        impl_->local(std::move(op));
    }
    for (auto& op : dels) impl_->local(std::move(op));
    return {};
}

std::optional<ChangeHash> Document::commit(std::optional<std::string> message, std::optional<std::int64_t> time) {
    return impl_->commit(std::move(message), time);
}

std::size_t Document::pending_ops() const { return impl_->tx.size(); }

std::vector<ChangeHash> Document::get_heads() {
    commit();
    return impl_->heads;
}

std::vector<Change> Document::get_changes(std::span<const ChangeHash> since) {
    commit();
    std::vector<Change> out;
    if (std::vector<ChangeHash>(since.begin(), since.end()) == impl_->heads) return out;
    for (auto i : impl_->changes_since(since)) out.push_back(Change(impl_->history[i]));
    return out;
}

std::optional<Change> Document::get_change(const ChangeHash& hash) const {
    auto it = impl_->by_hash.find(hash);
    if (it == impl_->by_hash.end()) return std::nullopt;
    return Change(impl_->history[it->second]);
}

Result<void> Document::apply_changes(std::span<const Change> changes) {
    commit();
    for (const auto& c : changes)
        if (auto r = impl_->receive(c.data_); !r) return r;
    return {};
}

std::size_t Document::queued_changes() const { return impl_->queued.size(); }

Document Document::fork() {
    commit();
    auto copy = std::make_unique<Impl>(*impl_);
    copy->relink_objects();
    copy->set_actor(ActorId::random());
    return Document(std::move(copy));
}

Result<void> Document::merge(Document& other) {
    commit();
    other.commit();
    std::vector<Change> missing;
    for (const auto& c : other.impl_->history)
        if (!impl_->by_hash.contains(c->hash)) missing.push_back(Change(c));
    return apply_changes(missing);
}

Result<Document> Document::load(std::span<const std::uint8_t> bytes) {
    Document doc;
    if (auto r = doc.load_incremental(bytes); !r) return std::unexpected(r.error());
    if (doc.queued_changes() != 0) return std::unexpected(err("changes are missing from the file"));
    return doc;
}

Result<std::size_t> Document::load_incremental(std::span<const std::uint8_t> bytes) {
    commit();
    std::size_t before = impl_->history.size();
    std::size_t offset = 0;
    std::size_t budget = detail::op_budget_for(bytes.size());
    std::vector<std::shared_ptr<const detail::ChangeData>> changes;
    std::optional<Error> failure;
    while (offset < bytes.size()) {
        auto rest = bytes.subspan(offset);
        // A change chunk already here is skipped on its hash, without decoding it.
        if (auto known = impl_->by_hash.empty() ? std::nullopt : detail::peek_change_hash(rest);
            known && impl_->by_hash.contains(known->first)) {
            offset += known->second;
            continue;
        }
        auto chunk = detail::decode_chunk(rest, budget);
        if (!chunk) {
            // The chunks before a torn or corrupt one are still applied.
            failure = Error{"at byte " + std::to_string(offset) + ": " + chunk.error().message};
            break;
        }
        for (auto& c : chunk->changes) changes.push_back(std::make_shared<detail::ChangeData>(std::move(c)));
        offset += chunk->consumed;
    }
    impl_->history.reserve(impl_->history.size() + changes.size());
    impl_->by_hash.reserve(impl_->by_hash.size() + changes.size());
    for (auto& c : changes)
        if (auto r = impl_->receive(std::move(c)); !r) return std::unexpected(r.error());
    if (failure) return std::unexpected(*failure);
    return impl_->history.size() - before;
}

std::vector<std::uint8_t> Document::save() {
    commit();
    std::vector<std::uint8_t> out;
    for (const auto& c : impl_->history) out.insert(out.end(), c->bytes.begin(), c->bytes.end());
    return out;
}

}  // namespace crdt
