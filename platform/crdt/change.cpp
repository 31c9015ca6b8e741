#include "crdt/change.hpp"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "crdt/encoding.hpp"

namespace crdt::detail {

namespace {

Error err(std::string m) { return Error{std::move(m)}; }

constexpr std::uint8_t magic[4] = {0x85, 0x6f, 0x4a, 0x83};
constexpr std::uint8_t chunk_document = 0, chunk_change = 1, chunk_compressed = 2;

// Operation column specifications: id << 4 | deflate bit << 3 | type.
enum ColumnSpec : std::uint32_t {
    ObjActor = 1,
    ObjCtr = 2,
    KeyActor = 17,
    KeyCtr = 19,
    KeyStr = 21,
    IdActor = 33,
    IdCtr = 35,
    Insert = 52,
    ActionCol = 66,
    ValMeta = 86,
    ValRaw = 87,
    PredGroup = 112,
    PredActor = 113,
    PredCtr = 115,
    SuccGroup = 128,
    SuccActor = 129,
    SuccCtr = 131,
};
constexpr std::uint32_t deflate_bit = 8;

ChangeHash sha256(std::uint8_t type, std::span<const std::uint8_t> body) {
    std::vector<std::uint8_t> head{type};
    write_uleb(head, body.size());
    ChangeHash h;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
    EVP_DigestUpdate(ctx, head.data(), head.size());
    EVP_DigestUpdate(ctx, body.data(), body.size());
    EVP_DigestFinal_ex(ctx, h.bytes.data(), nullptr);
    EVP_MD_CTX_free(ctx);
    return h;
}

std::vector<std::uint8_t> frame(std::uint8_t type, std::span<const std::uint8_t> body, const ChangeHash& hash) {
    std::vector<std::uint8_t> out(magic, magic + 4);
    out.insert(out.end(), hash.bytes.begin(), hash.bytes.begin() + 4);
    out.push_back(type);
    write_uleb(out, body.size());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

void write_bytes(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> b) {
    write_uleb(out, b.size());
    out.insert(out.end(), b.begin(), b.end());
}

struct Columns {
    std::vector<std::pair<std::uint32_t, std::span<const std::uint8_t>>> list;
    std::span<const std::uint8_t> get(std::uint32_t spec) const {
        for (const auto& [s, d] : list)
            if ((s & ~deflate_bit) == spec) return d;
        return {};
    }
};

Result<std::vector<std::uint8_t>> inflate_raw(std::span<const std::uint8_t> in, std::size_t limit) {
    z_stream zs{};
    if (inflateInit2(&zs, -15) != Z_OK) return std::unexpected(err("cannot start decompression"));
    std::vector<std::uint8_t> out;
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        if (out.size() >= limit) {
            inflateEnd(&zs);
            return std::unexpected(err("compressed data expands too far"));
        }
        std::size_t chunk = std::min<std::size_t>(std::max<std::size_t>(out.size(), 4096), limit - out.size());
        std::size_t old = out.size();
        out.resize(old + chunk);
        zs.next_out = out.data() + old;
        zs.avail_out = static_cast<uInt>(chunk);
        rc = inflate(&zs, Z_NO_FLUSH);
        out.resize(old + chunk - zs.avail_out);
        if (rc != Z_OK && rc != Z_STREAM_END) {
            inflateEnd(&zs);
            return std::unexpected(err("corrupt compressed data"));
        }
        if (rc == Z_OK && zs.avail_in == 0 && zs.avail_out != 0) {
            inflateEnd(&zs);
            return std::unexpected(err("truncated compressed data"));
        }
    }
    inflateEnd(&zs);
    return out;
}

// Reads column metadata and slices the column data that follows it.
Result<Columns> read_columns(Reader& r, bool allow_deflate) {
    auto n = r.uleb();
    if (!n) return std::unexpected(n.error());
    if (*n > r.remaining() / 2) return std::unexpected(err("too many columns"));
    std::vector<std::pair<std::uint32_t, std::uint64_t>> specs;
    std::uint64_t total = 0;
    for (std::uint64_t i = 0; i < *n; ++i) {
        auto spec = r.uleb();
        if (!spec) return std::unexpected(spec.error());
        auto len = r.uleb();
        if (!len) return std::unexpected(len.error());
        if (*spec > UINT32_MAX) return std::unexpected(err("column specification out of range"));
        auto s = static_cast<std::uint32_t>(*spec);
        if ((s & deflate_bit) && !allow_deflate) return std::unexpected(err("compressed column in a change chunk"));
        if (!specs.empty() && (specs.back().first & ~deflate_bit) >= (s & ~deflate_bit))
            return std::unexpected(err("columns not in order"));
        if (*len > r.remaining()) return std::unexpected(err("column data too short"));
        total += *len;
        specs.emplace_back(s, *len);
    }
    if (total > r.remaining()) return std::unexpected(err("column data too short"));
    Columns cols;
    for (const auto& [s, len] : specs) cols.list.emplace_back(s, *r.bytes(len));
    return cols;
}

// An actor index, refusing nulls and indices outside the table.
Result<std::uint32_t> actor_of(const Result<std::optional<std::uint64_t>>& v, std::size_t actors, const char* what) {
    if (!v) return std::unexpected(v.error());
    if (!*v) return std::unexpected(err(std::string("missing ") + what));
    if (**v >= actors) return std::unexpected(err(std::string(what) + " out of range"));
    return static_cast<std::uint32_t>(**v);
}

Result<std::uint64_t> counter_of(const Result<std::optional<std::int64_t>>& v, const char* what) {
    if (!v) return std::unexpected(v.error());
    if (!*v) return std::unexpected(err(std::string("missing ") + what));
    if (**v <= 0) return std::unexpected(err(std::string(what) + " is not positive"));
    return static_cast<std::uint64_t>(**v);
}

#define TRY(var, expr)                                            \
    auto var = (expr);                                            \
    if (!var) return std::unexpected(var.error())

Result<ChangeData> decode_change_body(std::span<const std::uint8_t> body, std::size_t& op_budget) {
    Reader r(body);
    ChangeData c;
    TRY(ndeps, r.uleb());
    if (*ndeps > r.remaining() / 32) return std::unexpected(err("dependency list too short"));
    for (std::uint64_t i = 0; i < *ndeps; ++i) {
        ChangeHash h;
        auto b = *r.bytes(32);
        std::copy(b.begin(), b.end(), h.bytes.begin());
        c.deps.push_back(h);
    }
    TRY(alen, r.uleb());
    TRY(abytes, r.bytes(*alen));
    if (abytes->empty()) return std::unexpected(err("change without an actor"));
    c.actors.emplace_back(std::vector<std::uint8_t>(abytes->begin(), abytes->end()));
    TRY(seq, r.uleb());
    TRY(start, r.uleb());
    TRY(time, r.sleb());
    TRY(mlen, r.uleb());
    TRY(mbytes, r.bytes(*mlen));
    c.seq = *seq;
    c.start_op = *start;
    c.time = *time;
    if (!mbytes->empty()) c.message = std::string(mbytes->begin(), mbytes->end());
    TRY(nactors, r.uleb());
    if (*nactors > r.remaining()) return std::unexpected(err("actor list too short"));
    for (std::uint64_t i = 0; i < *nactors; ++i) {
        TRY(len, r.uleb());
        TRY(bytes, r.bytes(*len));
        if (bytes->empty()) return std::unexpected(err("empty actor id"));
        c.actors.emplace_back(std::vector<std::uint8_t>(bytes->begin(), bytes->end()));
    }
    TRY(cols, read_columns(r, false));
    auto rest = r.rest();
    c.extra.assign(rest.begin(), rest.end());

    RleDecoder<std::uint64_t> obj_actor(cols->get(ObjActor)), obj_ctr(cols->get(ObjCtr)), key_actor(cols->get(KeyActor)),
        action(cols->get(ActionCol)), pred_group(cols->get(PredGroup)), pred_actor(cols->get(PredActor));
    DeltaDecoder key_ctr(cols->get(KeyCtr)), pred_ctr(cols->get(PredCtr));
    RleDecoder<std::string> key_str(cols->get(KeyStr));
    BooleanDecoder insert(cols->get(Insert));
    ValueDecoder value(cols->get(ValMeta), cols->get(ValRaw));
    const std::size_t nact = c.actors.size();
    auto more = [&] {
        return !(obj_actor.done() && obj_ctr.done() && key_actor.done() && key_ctr.done() && key_str.done() &&
                 insert.done() && action.done() && value.done() && pred_group.done() && pred_actor.done() &&
                 pred_ctr.done());
    };
    while (more()) {
        if (op_budget == 0) return std::unexpected(err("too many operations for the size of the input"));
        --op_budget;
        ChangeOp op;
        TRY(oa, obj_actor.next());
        TRY(oc, obj_ctr.next());
        if (oa->has_value() != oc->has_value()) return std::unexpected(err("half an object id"));
        if (oa->has_value()) {
            if (**oa >= nact) return std::unexpected(err("object actor out of range"));
            if (**oc == 0) return std::unexpected(err("object counter is zero"));
            op.obj = OpRef{**oc, static_cast<std::uint32_t>(**oa)};
        }
        TRY(ks, key_str.next());
        TRY(ka, key_actor.next());
        TRY(kc, key_ctr.next());
        if (ks->has_value()) {
            if (ka->has_value() || kc->has_value()) return std::unexpected(err("key is both a string and an element"));
            op.key_str = std::move(**ks);
        } else {
            if (!kc->has_value()) return std::unexpected(err("operation without a key"));
            if (**kc == 0) {
                if (ka->has_value()) return std::unexpected(err("head element with an actor"));
            } else {
                if (**kc < 0) return std::unexpected(err("negative element counter"));
                if (!ka->has_value() || **ka >= nact) return std::unexpected(err("element actor out of range"));
                op.key_elem = OpRef{static_cast<std::uint64_t>(**kc), static_cast<std::uint32_t>(**ka)};
            }
        }
        TRY(ins, insert.next());
        op.insert = *ins;
        TRY(act, action.next());
        if (!act->has_value()) return std::unexpected(err("operation without an action"));
        op.action = **act;
        TRY(val, value.next());
        op.value = std::move(*val);
        TRY(np, pred_group.next());
        std::uint64_t n = np->value_or(0);
        if (n > op_budget) return std::unexpected(err("too many predecessors for the size of the input"));
        op_budget -= static_cast<std::size_t>(n);
        for (std::uint64_t k = 0; k < n; ++k) {
            TRY(pa, actor_of(pred_actor.next(), nact, "predecessor actor"));
            TRY(pc, counter_of(pred_ctr.next(), "predecessor counter"));
            op.pred.push_back(OpRef{*pc, *pa});
        }
        c.ops.push_back(std::move(op));
    }
    return c;
}

}  // namespace

void encode_change(ChangeData& c) {
    RleEncoder<std::uint64_t> obj_actor, obj_ctr, key_actor, action, pred_group, pred_actor;
    DeltaEncoder key_ctr, pred_ctr;
    RleEncoder<std::string> key_str;
    BooleanEncoder insert;
    ValueEncoder value;
    for (const auto& op : c.ops) {
        if (op.obj.counter == 0) {
            obj_actor.append_null();
            obj_ctr.append_null();
        } else {
            obj_actor.append(op.obj.actor);
            obj_ctr.append(op.obj.counter);
        }
        if (op.key_str) {
            key_actor.append_null();
            key_ctr.append_null();
            key_str.append(*op.key_str);
        } else {
            if (op.key_elem.counter == 0) key_actor.append_null();
            else key_actor.append(op.key_elem.actor);
            key_ctr.append(static_cast<std::int64_t>(op.key_elem.counter));
            key_str.append_null();
        }
        insert.append(op.insert);
        action.append(op.action);
        value.append(op.value);
        pred_group.append(op.pred.size());
        for (const auto& p : op.pred) {
            pred_actor.append(p.actor);
            pred_ctr.append(static_cast<std::int64_t>(p.counter));
        }
    }
    std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> cols;
    cols.emplace_back(ObjActor, obj_actor.finish());
    cols.emplace_back(ObjCtr, obj_ctr.finish());
    cols.emplace_back(KeyActor, key_actor.finish());
    cols.emplace_back(KeyCtr, key_ctr.finish());
    cols.emplace_back(KeyStr, key_str.finish());
    cols.emplace_back(Insert, insert.finish());
    cols.emplace_back(ActionCol, action.finish());
    cols.emplace_back(ValMeta, value.finish_meta());
    cols.emplace_back(ValRaw, value.finish_raw());
    cols.emplace_back(PredGroup, pred_group.finish());
    cols.emplace_back(PredActor, pred_actor.finish());
    cols.emplace_back(PredCtr, pred_ctr.finish());
    std::erase_if(cols, [](const auto& col) { return col.second.empty(); });

    std::vector<std::uint8_t> body;
    write_uleb(body, c.deps.size());
    for (const auto& d : c.deps) body.insert(body.end(), d.bytes.begin(), d.bytes.end());
    write_bytes(body, c.actors.front().to_bytes());
    write_uleb(body, c.seq);
    write_uleb(body, c.start_op);
    write_sleb(body, c.time);
    if (c.message) write_bytes(body, std::span(reinterpret_cast<const std::uint8_t*>(c.message->data()), c.message->size()));
    else write_uleb(body, 0);
    write_uleb(body, c.actors.size() - 1);
    for (std::size_t i = 1; i < c.actors.size(); ++i) write_bytes(body, c.actors[i].to_bytes());
    write_uleb(body, cols.size());
    for (const auto& [spec, data] : cols) {
        write_uleb(body, spec);
        write_uleb(body, data.size());
    }
    for (const auto& [spec, data] : cols) body.insert(body.end(), data.begin(), data.end());
    body.insert(body.end(), c.extra.begin(), c.extra.end());
    c.hash = sha256(chunk_change, body);
    c.bytes = frame(chunk_change, body, c.hash);
}

Result<std::vector<ChangeData>> decode_document(std::span<const std::uint8_t> body, std::size_t& op_budget);

Result<ChunkResult> decode_chunk(std::span<const std::uint8_t> input, std::size_t& op_budget) {
    Reader r(input);
    TRY(m, r.bytes(4));
    if (!std::equal(m->begin(), m->end(), magic)) return std::unexpected(err("not an automerge chunk (bad magic bytes)"));
    TRY(checksum, r.bytes(4));
    TRY(type, r.byte());
    TRY(len, r.uleb());
    TRY(body, r.bytes(*len));
    ChunkResult out;
    out.consumed = r.pos();
    auto check = [&](const ChangeHash& h) { return std::equal(checksum->begin(), checksum->end(), h.bytes.begin()); };
    switch (*type) {
        case chunk_change:
        case chunk_compressed: {
            std::vector<std::uint8_t> inflated;
            std::span<const std::uint8_t> plain = *body;
            if (*type == chunk_compressed) {
                // Deflate expands at most about 1032 times.
                std::size_t limit = std::min<std::size_t>(body->size() * 1032 + 64, std::size_t{1} << 28);
                TRY(z, inflate_raw(*body, limit));
                inflated = std::move(*z);
                plain = inflated;
            }
            auto hash = sha256(chunk_change, plain);
            if (!check(hash)) return std::unexpected(err("checksum mismatch"));
            TRY(c, decode_change_body(plain, op_budget));
            c->hash = hash;
            c->bytes = frame(chunk_change, plain, hash);
            out.changes.push_back(std::move(*c));
            return out;
        }
        case chunk_document: {
            if (!check(sha256(chunk_document, *body))) return std::unexpected(err("checksum mismatch"));
            TRY(changes, decode_document(*body, op_budget));
            out.changes = std::move(*changes);
            return out;
        }
        default: return std::unexpected(err("unknown chunk type " + std::to_string(*type)));
    }
}

Result<std::vector<ChangeData>> decode_document(std::span<const std::uint8_t>, std::size_t&) {
    return std::unexpected(err("document chunks are not supported yet"));
}

}  // namespace crdt::detail
