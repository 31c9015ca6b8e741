#include "crdt/transaction.hpp"

#include <algorithm>
#include <chrono>
#include <unordered_map>

namespace crdt::detail {

namespace {

Error err(std::string message) { return Error{std::move(message)}; }

// Decodes one UTF-8 scalar at s[i]; returns its length, 0 when invalid.
std::size_t utf8_scalar_length(std::string_view s, std::size_t i) {
    auto b = static_cast<unsigned char>(s[i]);
    std::size_t n;
    std::uint32_t cp;
    if (b < 0x80) return 1;
    // clang-format off
    if ((b & 0xE0) == 0xC0) { n = 2; cp = b & 0x1F; }
    else if ((b & 0xF0) == 0xE0) { n = 3; cp = b & 0x0F; }
    else if ((b & 0xF8) == 0xF0) { n = 4; cp = b & 0x07; }
    else return 0;
    // clang-format on
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

std::int64_t now_seconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::vector<OpId> ids_of(const LiveOps& ops) {
    std::vector<OpId> ids;
    ids.reserve(ops.size());
    for (const auto& o : ops) ids.push_back(o.id);
    return ids;
}

// The counters among the values: what an increment applies to.
Result<std::vector<OpId>> counters_of(const LiveOps* ops) {
    if (!ops || std::none_of(ops->begin(), ops->end(), is_counter))
        return std::unexpected(err("no counter to increment"));
    std::vector<OpId> ids;
    for (const auto& l : *ops)
        if (is_counter(l)) ids.push_back(l.id);
    return ids;
}

OpView view_of(const DocOp& op) {
    return OpView{op.id,   op.obj, op.key_str ? &*op.key_str : nullptr, op.key_elem, op.insert, op.action, &op.value,
                  op.pred, nullptr};
}

}  // namespace

void Transaction::set_author(OpSet& set, ActorId author) {
    author_ = std::move(author);
    author_index_ = set.intern(author_);
}

OpId Transaction::add(OpSet& set, DocOp op) {
    const OpId id = op.id = next_id(set);
    set.apply_op(view_of(op));
    ops_.push_back(std::move(op));
    return id;
}

Result<void> Transaction::put_map(OpSet& set, const ObjId& obj, std::string_view key, std::uint64_t action,
                                  ScalarValue value, OpId* made) {
    auto r = set.lookup_as(obj, true);
    if (!r) return std::unexpected(r.error());
    DocOp op;
    op.obj = r->first;
    op.key_str = std::string(key);
    op.action = action;
    op.value = std::move(value);
    auto it = r->second->map.find(key);
    if (it != r->second->map.end()) op.pred = ids_of(it->second);
    const OpId id = add(set, std::move(op));
    if (made) *made = id;
    return {};
}

Result<void> Transaction::put_seq(OpSet& set, const ObjId& obj, std::size_t index, std::uint64_t action,
                                  ScalarValue value, OpId* made) {
    auto r = set.lookup_as(obj, false);
    if (!r) return std::unexpected(r.error());
    auto raw = OpSet::nth_visible(*r->second, index);
    if (!raw) return std::unexpected(err("index " + std::to_string(index) + " out of bounds"));
    const auto& e = *raw;
    DocOp op;
    op.obj = r->first;
    op.key_elem = e.id;
    op.action = action;
    op.value = std::move(value);
    op.pred = ids_of(e.ops);
    const OpId id = add(set, std::move(op));
    if (made) *made = id;
    return {};
}

Result<void> Transaction::insert_seq(OpSet& set, const ObjId& obj, std::size_t index, std::uint64_t action,
                                     ScalarValue value, OpId* made) {
    auto r = set.lookup_as(obj, false);
    if (!r) return std::unexpected(r.error());
    OpId ref = root_id;
    if (index > 0) {
        auto raw = OpSet::nth_visible(*r->second, index - 1);
        if (!raw) return std::unexpected(err("index " + std::to_string(index) + " out of bounds"));
        ref = raw->id;
    }
    DocOp op;
    op.obj = r->first;
    op.key_elem = ref;
    op.insert = true;
    op.action = action;
    op.value = std::move(value);
    const OpId id = add(set, std::move(op));
    if (made) *made = id;
    return {};
}

Result<void> Transaction::increment_map(OpSet& set, const ObjId& obj, std::string_view key, std::int64_t by) {
    auto r = set.lookup_as(obj, true);
    if (!r) return std::unexpected(r.error());
    auto it = r->second->map.find(key);
    auto counters = counters_of(it == r->second->map.end() ? nullptr : &it->second);
    if (!counters) return std::unexpected(counters.error());
    DocOp op;
    op.obj = r->first;
    op.key_str = std::string(key);
    op.action = Inc;
    op.value = by;
    op.pred = std::move(*counters);
    add(set, std::move(op));
    return {};
}

Result<void> Transaction::increment_seq(OpSet& set, const ObjId& obj, std::size_t index, std::int64_t by) {
    auto r = set.lookup_as(obj, false);
    if (!r) return std::unexpected(r.error());
    auto raw = OpSet::nth_visible(*r->second, index);
    if (!raw) return std::unexpected(err("index " + std::to_string(index) + " out of bounds"));
    auto counters = counters_of(&raw->ops);
    if (!counters) return std::unexpected(counters.error());
    DocOp op;
    op.obj = r->first;
    op.key_elem = raw->id;
    op.action = Inc;
    op.value = by;
    op.pred = std::move(*counters);
    add(set, std::move(op));
    return {};
}

Result<void> Transaction::splice_text(OpSet& set, const ObjId& text, std::size_t pos, std::size_t del,
                                      std::string_view text_to_insert) {
    auto r = set.lookup(text);
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
        std::size_t w = OpSet::width(e, o.type);
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
        op.action = Del;
        op.pred = ids_of(e->ops);
        dels.push_back(std::move(op));
    }
    // Inserts first, then deletes, as the reference library orders a splice.
    for (auto s : *scalars) {
        DocOp op;
        op.obj = obj_id;
        op.key_elem = ref;
        op.insert = true;
        op.value = std::string(s);
        ref = add(set, std::move(op));
    }
    for (auto& op : dels) add(set, std::move(op));
    return {};
}

std::shared_ptr<const ChangeData> Transaction::commit(const OpSet& set, std::uint64_t seq,
                                                      std::vector<ChangeHash> heads, std::optional<std::string> message,
                                                      std::optional<std::int64_t> time) {
    if (ops_.empty()) return nullptr;
    auto data = std::make_shared<ChangeData>();
    // The author first, then every other actor mentioned, in byte order.
    std::vector<std::uint32_t> others;
    auto note = [&](const OpId& id) {
        if (id.counter != 0 && id.actor != author_index_) others.push_back(id.actor);
    };
    for (const auto& op : ops_) {
        note(op.obj);
        if (!op.key_str) note(op.key_elem);
        for (const auto& p : op.pred) note(p);
    }
    std::sort(others.begin(), others.end(), [&](auto a, auto b) { return set.actors[a] < set.actors[b]; });
    others.erase(std::unique(others.begin(), others.end()), others.end());
    std::unordered_map<std::uint32_t, std::uint32_t> local_of{{author_index_, 0}};
    data->actors.push_back(author_);
    for (auto a : others) {
        local_of.emplace(a, static_cast<std::uint32_t>(data->actors.size()));
        data->actors.push_back(set.actors[a]);
    }
    auto ref = [&](const OpId& id) { return id.counter == 0 ? OpRef{} : OpRef{id.counter, local_of.at(id.actor)}; };
    data->seq = seq;
    data->start_op = ops_.front().id.counter;
    data->time = time ? *time : now_seconds();
    data->message = std::move(message);
    data->deps = std::move(heads);
    data->ops.reserve(ops_.size());
    for (auto& op : ops_) {
        ChangeOp c;
        c.obj = ref(op.obj);
        c.key_str = std::move(op.key_str);
        if (!c.key_str) c.key_elem = ref(op.key_elem);
        c.insert = op.insert;
        c.action = op.action;
        c.value = std::move(op.value);
        c.pred.reserve(op.pred.size());
        for (const auto& p : op.pred) c.pred.push_back(ref(p));
        std::sort(c.pred.begin(), c.pred.end(), [&](const OpRef& a, const OpRef& b) {
            if (a.counter != b.counter) return a.counter < b.counter;
            return data->actors[a.actor] < data->actors[b.actor];
        });
        data->ops.push_back(std::move(c));
    }
    ops_.clear();
    encode_change(*data);
    data->ops = {};  // applied already; the bytes keep them
    return data;
}

}  // namespace crdt::detail
