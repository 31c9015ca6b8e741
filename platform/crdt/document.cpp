#include "crdt/document.hpp"

#include <openssl/rand.h>

#include <algorithm>
#include <chrono>

#include "crdt/change.hpp"
#include "crdt/change_graph.hpp"
#include "crdt/op_set.hpp"
#include "crdt/transaction.hpp"

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
    auto c = detail::decode_change(bytes);
    if (!c) return std::unexpected(c.error());
    c->ops = {};  // decoded again by the document it is applied to
    return Change(std::make_shared<const detail::ChangeData>(std::move(*c)));
}

// ---------------------------------------------------------------- the engine

using detail::ChangeGraph;
using detail::ChangePtr;
using detail::LiveOp;
using detail::Object;
using detail::OpId;
using detail::OpSet;
using detail::Transaction;

// The op set holds the state, the change graph the history and the changes still waiting for
// their dependencies, and the transaction the edits not committed yet.
struct Document::Impl {
    OpSet op_set;
    ChangeGraph graph;
    Transaction tx;

    explicit Impl(ActorId a) { tx.set_author(op_set, std::move(a)); }

    std::optional<ChangeHash> commit(std::optional<std::string> message, std::optional<std::int64_t> time) {
        auto data = tx.commit(op_set, graph.next_seq(tx.author_index()), graph.heads(), std::move(message), time);
        if (!data) return std::nullopt;
        const ChangeHash hash = data->hash;
        graph.record(std::move(data), tx.author_index());
        return hash;
    }

    // Checks a remote change against the document and applies it, or fails without changing
    // anything. `change_ops` are its operations (decoded again from its bytes when it came
    // without). Returns the author's index.
    Result<std::uint32_t> apply_remote(const detail::ChangeData& c, const std::vector<detail::ChangeOp>& change_ops) {
        std::vector<ActorId> fresh;
        auto author = op_set.map_actors(c, fresh);
        if (!author) return std::unexpected(author.error());
        if (auto r = graph.check_next(c, *author, change_ops.size()); !r) return std::unexpected(r.error());
        if (auto r = op_set.apply_change(c, change_ops, fresh); !r) return std::unexpected(r.error());
        return author;
    }

    // Applies a change whose dependencies are present and records it without its operations.
    Result<void> apply_one(ChangePtr data) {
        std::optional<detail::ChangeData> decoded;
        if (data->ops.size() != data->op_count) {
            auto d = detail::decode_change(data->bytes);
            if (!d) return std::unexpected(d.error());
            decoded = std::move(*d);
        }
        auto author = apply_remote(*data, decoded ? decoded->ops : data->ops);
        if (!author) return std::unexpected(author.error());
        if (!decoded && !data->ops.empty()) {
            if (data.use_count() == 1) {
                // Only this document holds it, and it was made mutable: drop the ops in place.
                const_cast<detail::ChangeData&>(*data).ops = {};
            } else {
                auto copy = std::make_shared<detail::ChangeData>(*data);
                copy->ops = {};
                data = std::move(copy);
            }
        }
        graph.record(std::move(data), *author);
        return {};
    }

    Result<void> receive(ChangePtr data) {
        return graph.receive(std::move(data), [this](ChangePtr d) { return apply_one(std::move(d)); });
    }
};

// ---------------------------------------------------------------- Document

Document::Document() : Document(ActorId::random()) {}
Document::Document(ActorId actor) : impl_(std::make_unique<Impl>(std::move(actor))) {}
Document::Document(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Document::~Document() = default;
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;

const ActorId& Document::actor_id() const { return impl_->tx.author(); }

void Document::set_actor(ActorId actor) {
    commit();
    impl_->tx.set_author(impl_->op_set, std::move(actor));
}

Result<ObjType> Document::object_type(const ObjId& obj) const {
    auto r = impl_->op_set.lookup(obj);
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
    auto r = impl_->op_set.lookup_as(obj, true);
    if (!r) return std::unexpected(r.error());
    std::vector<Entry> out;
    auto it = r->second->map.find(key);
    if (it == r->second->map.end()) return out;
    for (const auto& op : it->second) out.push_back(Entry{op.value, impl_->op_set.public_id(op.id)});
    return out;
}

Result<std::vector<Entry>> Document::get_all(const ObjId& obj, std::size_t index) const {
    auto r = impl_->op_set.lookup_as(obj, false);
    if (!r) return std::unexpected(r.error());
    std::vector<Entry> out;
    auto raw = OpSet::nth_visible(*r->second, index);
    if (!raw) return out;
    for (const auto& op : raw->ops) out.push_back(Entry{op.value, impl_->op_set.public_id(op.id)});
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
    auto r = impl_->op_set.lookup_as(obj, true);
    if (!r) return std::unexpected(r.error());
    std::vector<std::string> out;
    out.reserve(r->second->map.size());
    for (const auto& [k, ops] : r->second->map) out.push_back(k);
    return out;
}

Result<void> Document::for_each_entry(const ObjId& map, EntryVisitor visit) const {
    auto r = impl_->op_set.lookup_as(map, true);
    if (!r) return std::unexpected(r.error());
    const OpSet& set = impl_->op_set;
    if (set.visit_depth == set.visit_ids.size()) set.visit_ids.emplace_back();
    ObjId& id = set.visit_ids[set.visit_depth];
    struct Nesting {
        std::size_t& depth;
        explicit Nesting(std::size_t& d) : depth(d) { ++depth; }
        ~Nesting() { --depth; }
    } nesting(set.visit_depth);
    for (const auto& [k, ops] : r->second->map) {
        const LiveOp& win = ops.back();
        if (win.value.is_object()) {
            id.counter = win.id.counter;
            id.actor = set.actors[win.id.actor];
            set.recent.id = win.id;
            set.recent.object = win.object;
            visit(k, win.value, &id);
        } else {
            visit(k, win.value, nullptr);
        }
    }
    return {};
}

Result<std::size_t> Document::length(const ObjId& obj) const {
    auto r = impl_->op_set.lookup(obj);
    if (!r) return std::unexpected(r.error());
    const Object& o = *r->second;
    if (o.type == ObjType::Map) return o.map.size();
    if (o.type == ObjType::List) return OpSet::visible_count(o);
    std::size_t n = 0;
    for (const auto& e : o.seq)
        if (!e.ops.empty()) n += OpSet::width(e, o.type);
    return n;
}

Result<std::string> Document::text(const ObjId& obj) const {
    auto r = impl_->op_set.lookup(obj);
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
    return impl_->tx.put_map(impl_->op_set, obj, key, detail::Set, std::move(value), nullptr);
}

Result<void> Document::put(const ObjId& obj, std::size_t index, ScalarValue value) {
    return impl_->tx.put_seq(impl_->op_set, obj, index, detail::Set, std::move(value), nullptr);
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
    if (auto r = impl_->tx.put_map(impl_->op_set, obj, key, make_action(type), Null{}, &made); !r)
        return std::unexpected(r.error());
    return impl_->op_set.public_id(made);
}

Result<ObjId> Document::put_object(const ObjId& obj, std::size_t index, ObjType type) {
    OpId made;
    if (auto r = impl_->tx.put_seq(impl_->op_set, obj, index, make_action(type), Null{}, &made); !r)
        return std::unexpected(r.error());
    return impl_->op_set.public_id(made);
}

Result<void> Document::insert(const ObjId& list, std::size_t index, ScalarValue value) {
    return impl_->tx.insert_seq(impl_->op_set, list, index, detail::Set, std::move(value), nullptr);
}

Result<ObjId> Document::insert_object(const ObjId& list, std::size_t index, ObjType type) {
    OpId made;
    if (auto r = impl_->tx.insert_seq(impl_->op_set, list, index, make_action(type), Null{}, &made); !r)
        return std::unexpected(r.error());
    return impl_->op_set.public_id(made);
}

Result<void> Document::delete_key(const ObjId& map, std::string_view key) {
    auto r = impl_->op_set.lookup_as(map, true);
    if (!r) return std::unexpected(r.error());
    if (!r->second->map.contains(key)) return {};
    return impl_->tx.put_map(impl_->op_set, map, key, detail::Del, Null{}, nullptr);
}

Result<void> Document::delete_index(const ObjId& list, std::size_t index) {
    return impl_->tx.put_seq(impl_->op_set, list, index, detail::Del, Null{}, nullptr);
}

Result<void> Document::increment(const ObjId& obj, std::string_view key, std::int64_t by) {
    return impl_->tx.increment_map(impl_->op_set, obj, key, by);
}

Result<void> Document::increment(const ObjId& obj, std::size_t index, std::int64_t by) {
    return impl_->tx.increment_seq(impl_->op_set, obj, index, by);
}

Result<void> Document::splice_text(const ObjId& text, std::size_t pos, std::size_t del,
                                   std::string_view text_to_insert) {
    return impl_->tx.splice_text(impl_->op_set, text, pos, del, text_to_insert);
}

std::optional<ChangeHash> Document::commit(std::optional<std::string> message, std::optional<std::int64_t> time) {
    return impl_->commit(std::move(message), time);
}

std::size_t Document::pending_ops() const { return impl_->tx.size(); }

std::vector<ChangeHash> Document::get_heads() {
    commit();
    return impl_->graph.heads();
}

std::vector<Change> Document::get_changes(std::span<const ChangeHash> since) {
    commit();
    std::vector<Change> out;
    if (std::vector<ChangeHash>(since.begin(), since.end()) == impl_->graph.heads()) return out;
    for (auto i : impl_->graph.changes_since(since)) out.push_back(Change(impl_->graph.history()[i]));
    return out;
}

std::optional<Change> Document::get_change(const ChangeHash& hash) const {
    auto data = impl_->graph.find(hash);
    if (!data) return std::nullopt;
    return Change(std::move(data));
}

Result<void> Document::apply_changes(std::span<const Change> changes) {
    commit();
    for (const auto& c : changes)
        if (auto r = impl_->receive(c.data_); !r) return r;
    return {};
}

std::size_t Document::queued_changes() const { return impl_->graph.queued(); }

Document Document::fork() {
    commit();
    auto copy = std::make_unique<Impl>(*impl_);
    copy->op_set.relink_objects();
    copy->tx.set_author(copy->op_set, ActorId::random());
    return Document(std::move(copy));
}

Document Document::fork_at(std::span<const ChangeHash> heads) {
    commit();
    const auto& history = impl_->graph.history();
    std::vector<bool> later(history.size(), false);
    for (auto i : impl_->graph.changes_since(heads)) later[i] = true;
    Document copy;
    // In the order this document applied them, each one fits what came before.
    for (std::size_t i = 0; i < history.size(); ++i)
        if (!later[i]) (void)copy.impl_->receive(history[i]);
    for (auto& waiting : impl_->graph.queued_changes()) (void)copy.impl_->receive(std::move(waiting));
    return copy;
}

Result<void> Document::merge(Document& other) {
    commit();
    other.commit();
    std::vector<Change> missing;
    for (const auto& c : other.impl_->graph.history())
        if (!impl_->graph.contains(c->hash)) missing.push_back(Change(c));
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
    std::size_t before = impl_->graph.history().size();
    std::size_t offset = 0;
    std::size_t budget = detail::op_budget_for(bytes.size());
    std::vector<std::shared_ptr<const detail::ChangeData>> changes;
    std::optional<Error> failure;
    while (offset < bytes.size()) {
        auto rest = bytes.subspan(offset);
        // A change chunk already here is skipped on its hash, without decoding it.
        if (auto known = impl_->graph.history().empty() ? std::nullopt : detail::peek_change_hash(rest);
            known && impl_->graph.contains(known->first)) {
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
    impl_->graph.reserve(changes.size());
    for (auto& c : changes)
        if (auto r = impl_->receive(std::move(c)); !r) return std::unexpected(r.error());
    if (failure) return std::unexpected(*failure);
    return impl_->graph.history().size() - before;
}

std::vector<std::uint8_t> Document::save() {
    commit();
    std::vector<std::uint8_t> out;
    for (const auto& c : impl_->graph.history()) out.insert(out.end(), c->bytes.begin(), c->bytes.end());
    return out;
}

}  // namespace crdt
