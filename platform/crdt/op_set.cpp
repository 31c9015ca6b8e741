#include "crdt/op_set.hpp"

namespace crdt::detail {

namespace {

Error err(std::string message) { return Error{std::move(message)}; }

std::size_t count_scalars(std::string_view s) {
    std::size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

std::string key_of(const ActorId& a) {
    const auto& b = a.to_bytes();
    return std::string(b.begin(), b.end());
}

}  // namespace

OpSet::OpSet() { objects.emplace(root_id, Object{}); }

// ---------------------------------------------------------------- actors and op ids

std::uint32_t OpSet::intern(const ActorId& a) {
    if (auto known = find_actor(a)) return *known;
    actor_index.emplace(key_of(a), static_cast<std::uint32_t>(actors.size()));
    actors.push_back(a);
    return static_cast<std::uint32_t>(actors.size() - 1);
}

std::optional<std::uint32_t> OpSet::find_actor(const ActorId& a) const {
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

Result<OpId> OpSet::internal_id(const ObjId& obj) const {
    if (obj.is_root()) return root_id;
    auto a = find_actor(obj.actor);
    if (!a) return std::unexpected(err("object " + obj.to_string() + " not found"));
    return OpId{obj.counter, *a};
}

// ---------------------------------------------------------------- objects

Result<std::pair<OpId, const Object*>> OpSet::lookup(const ObjId& obj) const {
    auto id = internal_id(obj);
    if (!id) return std::unexpected(id.error());
    if (recent.object && recent.id == *id) return std::pair{*id, recent.object};
    auto it = objects.find(*id);
    if (it == objects.end()) return std::unexpected(err("object " + obj.to_string() + " not found"));
    return std::pair{*id, &it->second};
}

Result<std::pair<OpId, const Object*>> OpSet::lookup_as(const ObjId& obj, bool want_map) const {
    auto r = lookup(obj);
    if (!r) return r;
    bool is_map = r->second->type == ObjType::Map;
    if (want_map != is_map)
        return std::unexpected(
            err("object " + obj.to_string() + (want_map ? " is not a map" : " is not a list or text")));
    return r;
}

// ---------------------------------------------------------------- sequences

std::size_t OpSet::width(const Element& e, ObjType type) {
    if (type != ObjType::Text) return 1;
    auto s = e.ops.back().value.scalar();
    if (s) {
        if (auto str = std::get_if<std::string>(s)) return count_scalars(*str);
    }
    return 1;
}

Element* OpSet::nth_visible(const Object& o, std::size_t index) {
    for (auto& e : o.seq) {
        if (e.ops.empty()) continue;
        if (index-- == 0) return &e;
    }
    return nullptr;
}

std::size_t OpSet::visible_count(const Object& o) {
    std::size_t n = 0;
    for (const auto& e : o.seq) n += !e.ops.empty();
    return n;
}

Sequence::List::iterator OpSet::insert_position(const Object& o, const OpId& ref, const OpId& id) const {
    auto it = o.seq.begin();
    if (ref.counter != 0) it = std::next(o.seq.find(ref));
    while (it != o.seq.end() && op_less(id, it->id)) ++it;
    return it;
}

// ---------------------------------------------------------------- applying

void OpSet::update(LiveOps& ops, const OpView& op, Object* made_object) {
    auto in_pred = [&](const OpId& id) { return std::find(op.pred.begin(), op.pred.end(), id) != op.pred.end(); };
    if (op.action == Inc) {
        std::int64_t by = 0;
        if (auto i = std::get_if<std::int64_t>(op.value))
            by = *i;
        else if (auto u = std::get_if<std::uint64_t>(op.value))
            by = static_cast<std::int64_t>(*u);
        for (auto& live : ops) {
            if (!in_pred(live.id) || !is_counter(live)) continue;
            auto& c = std::get<Counter>(std::get<ScalarValue>(live.value.data));
            c.value = static_cast<std::int64_t>(static_cast<std::uint64_t>(c.value) + static_cast<std::uint64_t>(by));
        }
        return;
    }
    if (!op.pred.empty()) ops.erase_if([&](const LiveOp& live) { return in_pred(live.id); });
    if (op.action == Del) return;
    auto made = made_type(op.action);
    ops.insert(LiveOp{op.id, made ? Value{*made} : Value{*op.value}, made_object},
               [&](const LiveOp& l) { return op_less(op.id, l.id); });
}

Object* OpSet::apply_op(const OpView& op) {
    max_op = std::max(max_op, op.id.counter);
    if (op.action > MakeTable) return nullptr;
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
        } else if (op.action != Del && op.action != Inc) {
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

Result<std::uint32_t> OpSet::map_actors(const ChangeData& c, std::vector<ActorId>& fresh) {
    if (c.actors.empty() || c.actors.front().to_bytes().empty()) return std::unexpected(err("change without an actor"));
    auto& doc_actor = scratch.doc_actor;
    doc_actor.assign(c.actors.size(), 0);
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
    return doc_actor[0];
}

Result<void> OpSet::apply_change(const ChangeData& c, const std::vector<ChangeOp>& change_ops,
                                 std::span<const ActorId> fresh) {
    const auto& doc_actor = scratch.doc_actor;
    const std::uint32_t author = doc_actor[0];
    auto map_ref = [&](const OpRef& r) -> Result<OpId> {
        if (r.counter == 0) return root_id;
        if (r.actor >= doc_actor.size()) return std::unexpected(err("actor index out of range"));
        return OpId{r.counter, doc_actor[r.actor]};
    };

    // After the checks below, references resolve without failing.
    auto resolved = [&](const OpRef& r) { return r.counter == 0 ? root_id : OpId{r.counter, doc_actor[r.actor]}; };

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
        if (co.action > MakeTable) continue;
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
                bool found = by ? by->insert && by->action <= MakeTable && resolved(by->obj) == *obj
                                : targets[i] && targets[i]->seq.find(*elem) != targets[i]->seq.end();
                if (!found) return std::unexpected(err("operation on a missing list element"));
            }
            if (co.insert && (co.action == Del || co.action == Inc))
                return std::unexpected(err("insert with a delete or increment"));
        }
        if (co.action == Inc && !std::holds_alternative<std::int64_t>(co.value) &&
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
        if (co.action <= MakeTable) {
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

void OpSet::relink_objects() {
    auto relink = [&](LiveOps& ops) {
        for (auto& live : ops)
            if (live.object) live.object = &objects.find(live.id)->second;
    };
    for (auto& [id, o] : objects) {
        for (auto& [k, ops] : o.map) relink(ops);
        for (auto& e : o.seq) relink(e.ops);
    }
}

}  // namespace crdt::detail
