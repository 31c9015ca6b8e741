#pragma once
// The op set: every object of a document with the values that no later operation has
// overwritten or deleted, and the table of actors that op ids point into. Operations arrive
// checked (a remote change's by apply_change, a local edit's by the transaction) and are
// applied in place.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "crdt/change.hpp"

namespace crdt::detail {

// An op id with the actor as an index into the op set's actor table.
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

inline constexpr OpId root_id{0, 0};

struct Object;

// An operation to apply, pointing into the change or transaction that holds its data.
struct OpView {
    OpId id;
    OpId obj;
    const std::string* key_str = nullptr;  // null: key_elem is the list element
    OpId key_elem;
    bool insert = false;
    std::uint64_t action = Set;
    const ScalarValue* value = nullptr;
    std::span<const OpId> pred;
    Object* object = nullptr;  // the target when already known
};

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

inline std::optional<ObjType> made_type(std::uint64_t action) {
    switch (action) {
        case MakeMap:
        case MakeTable: return ObjType::Map;
        case MakeList: return ObjType::List;
        case MakeText: return ObjType::Text;
        default: return std::nullopt;
    }
}

inline bool is_counter(const LiveOp& op) {
    auto s = op.value.scalar();
    return s && std::holds_alternative<Counter>(*s);
}

struct OpSet {
    OpSet();

    // --- actors and op ids

    std::vector<ActorId> actors;
    std::unordered_map<std::string, std::uint32_t> actor_index;  // actor bytes -> index

    // The actor's index, added to the table when new.
    std::uint32_t intern(const ActorId& a);
    std::optional<std::uint32_t> find_actor(const ActorId& a) const;
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
    Result<OpId> internal_id(const ObjId& obj) const;

    // --- objects

    std::unordered_map<OpId, Object, OpIdHash> objects;
    std::uint64_t max_op = 0;  // the greatest counter applied

    Result<std::pair<OpId, const Object*>> lookup(const ObjId& obj) const;
    // A map (want_map) or a list or text.
    Result<std::pair<OpId, const Object*>> lookup_as(const ObjId& obj, bool want_map) const;

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

    // --- sequences

    // How many positions an element takes: Unicode scalar values in a text, else one.
    static std::size_t width(const Element& e, ObjType type);
    // The visible element number `index`, or null when out of range.
    static Element* nth_visible(const Object& o, std::size_t index);
    static std::size_t visible_count(const Object& o);

    // --- applying

    // Applies one checked operation; returns the object it made, if it made one.
    Object* apply_op(const OpView& op);
    // Maps the change's actor table onto this one (into scratch.doc_actor): actors not known yet
    // are listed in `fresh` and get the indices they will have once added. Returns the author's
    // index; fails on a change without an author or one that names an actor twice.
    Result<std::uint32_t> map_actors(const ChangeData& c, std::vector<ActorId>& fresh);
    // Checks the operations of a change against the document and applies them, adding the
    // `fresh` actors of map_actors, or fails without changing anything.
    Result<void> apply_change(const ChangeData& c, const std::vector<ChangeOp>& change_ops,
                              std::span<const ActorId> fresh);
    // After copying: values that are objects point at this op set's objects.
    void relink_objects();

    // Buffers reused from change to change while applying.
    struct Scratch {
        std::vector<std::uint32_t> doc_actor;
        std::vector<OpId> preds;
        std::vector<Object*> targets;
        std::vector<Object*> made;
    } scratch;

private:
    void update(LiveOps& ops, const OpView& op, Object* made_object);
    // Where an element inserted after `ref` with id `id` goes: after the reference, past every
    // element with a greater id (later concurrent inserts at the same place come first).
    Sequence::List::iterator insert_position(const Object& o, const OpId& ref, const OpId& id) const;
};

}  // namespace crdt::detail
