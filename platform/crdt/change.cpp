#include "crdt/change.hpp"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <utility>

#include "crdt/encoding.hpp"

namespace crdt::detail {

namespace {

Error err(std::string m) { return Error{std::move(m)}; }

constexpr std::uint8_t magic[4] = {0x85, 0x6f, 0x4a, 0x83};
constexpr std::uint8_t chunk_document = 0, chunk_change = 1, chunk_compressed = 2;

// Operation column ids: id << 4 | deflate bit << 3 | type.
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
    // Fetching the algorithm is costly in OpenSSL 3: once per thread, with one context.
    struct Hasher {
        EVP_MD* md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        ~Hasher() {
            EVP_MD_CTX_free(ctx);
            EVP_MD_free(md);
        }
    };
    thread_local Hasher hasher;
    std::uint8_t head[11] = {type};
    std::size_t n = 1;
    for (std::uint64_t v = body.size();; v >>= 7) {
        head[n++] = static_cast<std::uint8_t>((v & 0x7f) | (v >> 7 ? 0x80 : 0));
        if (!(v >> 7)) break;
    }
    ChangeHash h;
    EVP_DigestInit_ex2(hasher.ctx, hasher.md, nullptr);
    EVP_DigestUpdate(hasher.ctx, head, n);
    EVP_DigestUpdate(hasher.ctx, body.data(), body.size());
    EVP_DigestFinal_ex(hasher.ctx, h.bytes.data(), nullptr);
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

struct Columns {
    std::vector<std::pair<std::uint32_t, std::span<const std::uint8_t>>> list;
    std::vector<std::vector<std::uint8_t>> inflated;  // owns the data of deflated columns
    std::span<const std::uint8_t> get(std::uint32_t spec) const {
        for (const auto& [s, d] : list)
            if ((s & ~deflate_bit) == spec) return d;
        return {};
    }
};

using ColumnMeta = std::vector<std::pair<std::uint32_t, std::uint64_t>>;

// Column ids and lengths, unique and in order.
Result<ColumnMeta> read_column_meta(Reader& r, bool allow_deflate) {
    auto n = r.uleb();
    if (!n) return std::unexpected(n.error());
    if (*n > r.remaining() / 2) return std::unexpected(err("too many columns"));
    ColumnMeta specs;
    specs.reserve(static_cast<std::size_t>(*n));
    for (std::uint64_t i = 0; i < *n; ++i) {
        auto spec = r.uleb();
        if (!spec) return std::unexpected(spec.error());
        auto len = r.uleb();
        if (!len) return std::unexpected(len.error());
        if (*spec > UINT32_MAX) return std::unexpected(err("column id out of range"));
        auto s = static_cast<std::uint32_t>(*spec);
        if ((s & deflate_bit) && !allow_deflate) return std::unexpected(err("compressed column in a change chunk"));
        if (!specs.empty() && (specs.back().first & ~deflate_bit) >= (s & ~deflate_bit))
            return std::unexpected(err("columns not in order"));
        if (*len > r.remaining()) return std::unexpected(err("column data too short"));
        specs.emplace_back(s, *len);
    }
    return specs;
}

// The data of the columns described by `meta`, inflating deflated ones.
Result<Columns> read_column_data(Reader& r, const ColumnMeta& meta) {
    Columns cols;
    cols.list.reserve(meta.size());
    for (const auto& [s, len] : meta) {
        auto data = r.bytes(len);
        if (!data) return std::unexpected(err("column data too short"));
        if (s & deflate_bit) {
            auto z = inflate_raw(*data, std::min<std::size_t>(data->size() * 1032 + 64, std::size_t{1} << 28));
            if (!z) return std::unexpected(z.error());
            cols.inflated.push_back(std::move(*z));
            cols.list.emplace_back(s, cols.inflated.back());
        } else {
            cols.list.emplace_back(s, *data);
        }
    }
    // The spans into `inflated` stay valid: its vectors' buffers do not move with the outer vector.
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

#define TRY(var, expr) \
    auto var = (expr); \
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
    TRY(meta, read_column_meta(r, false));
    TRY(cols, read_column_data(r, *meta));
    auto rest = r.rest();
    c.extra.assign(rest.begin(), rest.end());

    RleDecoder<std::uint64_t> obj_actor(cols->get(ObjActor)), obj_ctr(cols->get(ObjCtr)),
        key_actor(cols->get(KeyActor)), action(cols->get(ActionCol)), pred_group(cols->get(PredGroup)),
        pred_actor(cols->get(PredActor));
    DeltaDecoder key_ctr(cols->get(KeyCtr)), pred_ctr(cols->get(PredCtr));
    RleDecoder<std::string> key_str(cols->get(KeyStr));
    BooleanDecoder insert(cols->get(Insert));
    ValueDecoder value(cols->get(ValMeta), cols->get(ValRaw));
    const std::size_t nact = c.actors.size();
    if (auto n = count_uleb_rle(cols->get(ActionCol)); n && *n <= op_budget)
        c.ops.reserve(static_cast<std::size_t>(*n));
    auto more = [&] {
        return !(obj_actor.done() && obj_ctr.done() && key_actor.done() && key_ctr.done() && key_str.done() &&
                 insert.done() && action.done() && value.done() && pred_group.done() && pred_actor.done() &&
                 pred_ctr.done());
    };
    while (more()) {
        if (op_budget == 0) return std::unexpected(err("too many operations for the size of the input"));
        --op_budget;
        ChangeOp& op = c.ops.emplace_back();
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
    }
    c.op_count = c.ops.size();
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
            if (op.key_elem.counter == 0)
                key_actor.append_null();
            else
                key_actor.append(op.key_elem.actor);
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
    if (c.message)
        write_bytes(body, std::span(reinterpret_cast<const std::uint8_t*>(c.message->data()), c.message->size()));
    else
        write_uleb(body, 0);
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
    c.op_count = c.ops.size();
}

Result<std::vector<ChangeData>> decode_document(std::span<const std::uint8_t> body, std::size_t& op_budget);

std::optional<std::pair<ChangeHash, std::size_t>> peek_change_hash(std::span<const std::uint8_t> input) {
    Reader r(input);
    auto m = r.bytes(4);
    if (!m || !std::equal(m->begin(), m->end(), magic)) return std::nullopt;
    auto checksum = r.bytes(4);
    auto type = r.byte();
    if (!checksum || !type || *type != chunk_change) return std::nullopt;
    auto len = r.uleb();
    if (!len) return std::nullopt;
    auto body = r.bytes(*len);
    if (!body) return std::nullopt;
    auto hash = sha256(chunk_change, *body);
    if (!std::equal(checksum->begin(), checksum->end(), hash.bytes.begin())) return std::nullopt;
    return std::pair{hash, r.pos()};
}

Result<ChunkResult> decode_chunk(std::span<const std::uint8_t> input, std::size_t& op_budget) {
    Reader r(input);
    TRY(m, r.bytes(4));
    if (!std::equal(m->begin(), m->end(), magic))
        return std::unexpected(err("not an automerge chunk (bad magic bytes)"));
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

Result<ChangeData> decode_change(std::span<const std::uint8_t> bytes) {
    std::size_t budget = op_budget_for(bytes.size());
    auto chunk = decode_chunk(bytes, budget);
    if (!chunk) return std::unexpected(chunk.error());
    if (chunk->consumed != bytes.size()) return std::unexpected(err("trailing bytes after the change chunk"));
    if (chunk->changes.size() != 1) return std::unexpected(err("not a single change chunk"));
    return std::move(chunk->changes.front());
}

namespace {

enum ChangeColumnSpec : std::uint32_t {
    ChActor = 1,
    ChSeq = 3,
    ChMaxOp = 19,
    ChTime = 35,
    ChMessage = 53,
    ChDepsGroup = 64,
    ChDepsIndex = 67,
    ChExtraMeta = 86,
    ChExtraRaw = 87,
};

struct DocChange {
    std::uint32_t actor = 0;
    std::uint64_t seq = 0, max_op = 0;
    std::int64_t time = 0;
    std::optional<std::string> message;
    std::vector<std::uint64_t> deps;
    std::vector<std::uint8_t> extra;
    std::vector<std::size_t> ops;  // indices into the operation table
};

// An operation of a document chunk, actors as indices into the document's actor table.
struct DocOpRow {
    OpRef id;
    ChangeOp op;
};

struct OpRefHash {
    std::size_t operator()(const OpRef& r) const noexcept {
        return std::hash<std::uint64_t>{}(r.counter * 0x9E3779B97F4A7C15ULL ^ r.actor);
    }
};

bool lamport_less(const OpRef& a, const OpRef& b) {
    // Document actor indices follow the byte order of the actors.
    return a.counter != b.counter ? a.counter < b.counter : a.actor < b.actor;
}

Result<std::vector<DocChange>> read_doc_changes(const Columns& cols, std::size_t nactors, std::size_t& budget) {
    RleDecoder<std::uint64_t> actor(cols.get(ChActor)), deps_group(cols.get(ChDepsGroup));
    DeltaDecoder seq(cols.get(ChSeq)), max_op(cols.get(ChMaxOp)), time(cols.get(ChTime)),
        deps_index(cols.get(ChDepsIndex));
    RleDecoder<std::string> message(cols.get(ChMessage));
    ValueDecoder extra(cols.get(ChExtraMeta), cols.get(ChExtraRaw));
    std::vector<DocChange> out;
    while (!(actor.done() && seq.done() && max_op.done() && time.done() && message.done() && deps_group.done() &&
             deps_index.done() && extra.done())) {
        if (budget == 0) return std::unexpected(err("too many changes for the size of the input"));
        --budget;
        DocChange c;
        TRY(a, actor_of(actor.next(), nactors, "change actor"));
        c.actor = *a;
        TRY(sq, seq.next());
        TRY(mo, max_op.next());
        if (!*sq || **sq <= 0 || !*mo || **mo < 0)
            return std::unexpected(err("change without a sequence number or max op"));
        c.seq = static_cast<std::uint64_t>(**sq);
        c.max_op = static_cast<std::uint64_t>(**mo);
        TRY(t, time.next());
        c.time = t->value_or(0);
        TRY(m, message.next());
        if (*m && !(*m)->empty()) c.message = std::move(**m);
        TRY(nd, deps_group.next());
        std::uint64_t n = nd->value_or(0);
        if (n > budget) return std::unexpected(err("too many dependencies for the size of the input"));
        budget -= static_cast<std::size_t>(n);
        for (std::uint64_t k = 0; k < n; ++k) {
            TRY(d, deps_index.next());
            if (!*d || **d < 0) return std::unexpected(err("missing dependency index"));
            c.deps.push_back(static_cast<std::uint64_t>(**d));
        }
        TRY(x, extra.next());
        if (auto b = std::get_if<Bytes>(&*x))
            c.extra = std::move(*b);
        else if (auto u = std::get_if<Unknown>(&*x))
            c.extra = std::move(u->bytes);
        out.push_back(std::move(c));
    }
    return out;
}

Result<std::vector<DocOpRow>> read_doc_ops(const Columns& cols, std::size_t nactors, std::size_t& budget) {
    RleDecoder<std::uint64_t> obj_actor(cols.get(ObjActor)), obj_ctr(cols.get(ObjCtr)), key_actor(cols.get(KeyActor)),
        id_actor(cols.get(IdActor)), action(cols.get(ActionCol)), succ_group(cols.get(SuccGroup)),
        succ_actor(cols.get(SuccActor));
    DeltaDecoder key_ctr(cols.get(KeyCtr)), id_ctr(cols.get(IdCtr)), succ_ctr(cols.get(SuccCtr));
    RleDecoder<std::string> key_str(cols.get(KeyStr));
    BooleanDecoder insert(cols.get(Insert));
    ValueDecoder value(cols.get(ValMeta), cols.get(ValRaw));
    std::vector<DocOpRow> rows;
    // Successors: pairs of (row, successor id), turned into predecessors by the caller.
    while (!(obj_actor.done() && obj_ctr.done() && key_actor.done() && key_ctr.done() && key_str.done() &&
             id_actor.done() && id_ctr.done() && insert.done() && action.done() && value.done() && succ_group.done() &&
             succ_actor.done() && succ_ctr.done())) {
        if (budget == 0) return std::unexpected(err("too many operations for the size of the input"));
        --budget;
        DocOpRow row;
        auto& op = row.op;
        TRY(oa, obj_actor.next());
        TRY(oc, obj_ctr.next());
        if (oa->has_value() != oc->has_value()) return std::unexpected(err("half an object id"));
        if (oa->has_value()) {
            if (**oa >= nactors || **oc == 0) return std::unexpected(err("bad object id"));
            op.obj = OpRef{**oc, static_cast<std::uint32_t>(**oa)};
        }
        TRY(ks, key_str.next());
        TRY(ka, key_actor.next());
        TRY(kc, key_ctr.next());
        if (ks->has_value()) {
            op.key_str = std::move(**ks);
        } else {
            if (!kc->has_value() || **kc < 0) return std::unexpected(err("operation without a key"));
            if (**kc > 0) {
                if (!ka->has_value() || **ka >= nactors) return std::unexpected(err("element actor out of range"));
                op.key_elem = OpRef{static_cast<std::uint64_t>(**kc), static_cast<std::uint32_t>(**ka)};
            }
        }
        TRY(ia, actor_of(id_actor.next(), nactors, "operation actor"));
        TRY(ic, counter_of(id_ctr.next(), "operation counter"));
        row.id = OpRef{*ic, *ia};
        TRY(ins, insert.next());
        op.insert = *ins;
        TRY(act, action.next());
        if (!*act) return std::unexpected(err("operation without an action"));
        if (**act == Del) return std::unexpected(err("explicit delete in a document chunk"));
        op.action = **act;
        TRY(val, value.next());
        op.value = std::move(*val);
        TRY(ns, succ_group.next());
        std::uint64_t n = ns->value_or(0);
        if (n > budget) return std::unexpected(err("too many successors for the size of the input"));
        budget -= static_cast<std::size_t>(n);
        for (std::uint64_t k = 0; k < n; ++k) {
            TRY(sa, actor_of(succ_actor.next(), nactors, "successor actor"));
            TRY(sc, counter_of(succ_ctr.next(), "successor counter"));
            // Kept in pred until the caller inverts the relation.
            op.pred.push_back(OpRef{*sc, *sa});
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace

// A document chunk stores the operations of all its changes sorted by object and key, with
// successors instead of predecessors and without delete operations; this rebuilds each change
// as its author wrote it, so that re-encoding it gives back its hash.
Result<std::vector<ChangeData>> decode_document(std::span<const std::uint8_t> body, std::size_t& budget) {
    Reader r(body);
    TRY(nactors, r.uleb());
    if (*nactors > r.remaining()) return std::unexpected(err("actor list too short"));
    std::vector<ActorId> actors;
    for (std::uint64_t i = 0; i < *nactors; ++i) {
        TRY(len, r.uleb());
        TRY(bytes, r.bytes(*len));
        if (bytes->empty()) return std::unexpected(err("empty actor id"));
        actors.emplace_back(std::vector<std::uint8_t>(bytes->begin(), bytes->end()));
        if (actors.size() > 1 && !(actors[actors.size() - 2] < actors.back()))
            return std::unexpected(err("document actors not in order"));
    }
    TRY(nheads, r.uleb());
    if (*nheads > r.remaining() / 32) return std::unexpected(err("head list too short"));
    std::vector<ChangeHash> heads(static_cast<std::size_t>(*nheads));
    for (auto& h : heads) {
        auto b = *r.bytes(32);
        std::copy(b.begin(), b.end(), h.bytes.begin());
    }
    TRY(change_meta, read_column_meta(r, true));
    TRY(op_meta, read_column_meta(r, true));
    TRY(change_cols, read_column_data(r, *change_meta));
    TRY(op_cols, read_column_data(r, *op_meta));
    // What follows is the heads index, which is not needed.
    TRY(changes, read_doc_changes(*change_cols, actors.size(), budget));
    TRY(rows, read_doc_ops(*op_cols, actors.size(), budget));

    // Successors to predecessors; a successor that is no operation here is a delete.
    std::unordered_map<OpRef, std::size_t, OpRefHash> by_id;
    by_id.reserve(rows->size());
    for (std::size_t i = 0; i < rows->size(); ++i)
        if (!by_id.emplace((*rows)[i].id, i).second) return std::unexpected(err("operation id appears twice"));
    std::vector<std::vector<OpRef>> succs(rows->size());
    for (std::size_t i = 0; i < rows->size(); ++i) succs[i] = std::exchange((*rows)[i].op.pred, {});
    const std::size_t stored = rows->size();
    for (std::size_t i = 0; i < stored; ++i) {
        for (const auto& s : succs[i]) {
            auto [it, added] = by_id.try_emplace(s, rows->size());
            if (added) {
                if (budget == 0) return std::unexpected(err("too many operations for the size of the input"));
                --budget;
                DocOpRow del;
                del.id = s;
                const auto& target = (*rows)[i].op;
                del.op.obj = target.obj;
                del.op.action = Del;
                if (target.insert)
                    del.op.key_elem = (*rows)[i].id;
                else {
                    del.op.key_str = target.key_str;
                    del.op.key_elem = target.key_elem;
                }
                rows->push_back(std::move(del));
            }
            (*rows)[it->second].op.pred.push_back((*rows)[i].id);
        }
    }

    // Each operation belongs to the change of its actor with the smallest max op >= its counter.
    std::vector<std::vector<std::size_t>> by_actor(actors.size());
    for (std::size_t i = 0; i < changes->size(); ++i) by_actor[(*changes)[i].actor].push_back(i);
    for (auto& list : by_actor) {
        std::sort(list.begin(), list.end(), [&](auto a, auto b) { return (*changes)[a].seq < (*changes)[b].seq; });
        for (std::size_t k = 1; k < list.size(); ++k)
            if ((*changes)[list[k]].max_op <= (*changes)[list[k - 1]].max_op)
                return std::unexpected(err("max op of an actor's changes does not increase"));
    }
    for (std::size_t i = 0; i < rows->size(); ++i) {
        const auto& id = (*rows)[i].id;
        const auto& list = by_actor[id.actor];
        auto it = std::lower_bound(list.begin(), list.end(), id.counter,
                                   [&](std::size_t c, std::uint64_t ctr) { return (*changes)[c].max_op < ctr; });
        if (it == list.end()) return std::unexpected(err("operation outside every change"));
        (*changes)[*it].ops.push_back(i);
    }

    std::vector<ChangeData> out(changes->size());
    std::vector<std::uint8_t> state(changes->size(), 0);  // 0 new, 1 in progress, 2 encoded
    // Hashes need the hashes of the dependencies first: walk the graph depth first.
    for (std::size_t root = 0; root < changes->size(); ++root) {
        std::vector<std::size_t> stack{root};
        while (!stack.empty()) {
            std::size_t i = stack.back();
            auto& dc = (*changes)[i];
            if (state[i] == 2) {
                stack.pop_back();
                continue;
            }
            if (state[i] == 0) {
                state[i] = 1;
                for (auto d : dc.deps) {
                    if (d >= changes->size()) return std::unexpected(err("dependency index out of range"));
                    if (state[d] == 1) return std::unexpected(err("changes depend on each other in a cycle"));
                    if (state[d] == 0) stack.push_back(d);
                }
                continue;
            }
            stack.pop_back();
            state[i] = 2;
            ChangeData& c = out[i];
            std::sort(dc.ops.begin(), dc.ops.end(),
                      [&](auto a, auto b) { return (*rows)[a].id.counter < (*rows)[b].id.counter; });
            std::uint64_t n = dc.ops.size();
            if (n > dc.max_op) return std::unexpected(err("change has more operations than its max op"));
            c.start_op = dc.max_op - n + 1;
            for (std::uint64_t k = 0; k < n; ++k)
                if ((*rows)[dc.ops[k]].id.counter != c.start_op + k)
                    return std::unexpected(err("operations of a change are not consecutive"));
            c.seq = dc.seq;
            c.time = dc.time;
            c.message = dc.message;
            c.extra = dc.extra;
            for (auto d : dc.deps) c.deps.push_back(out[d].hash);
            std::sort(c.deps.begin(), c.deps.end());
            // The change's own actor table: the author, then the others it mentions in order.
            std::vector<std::uint32_t> used;
            auto note = [&](const OpRef& ref) {
                if (ref.counter != 0 && ref.actor != dc.actor) used.push_back(ref.actor);
            };
            for (auto k : dc.ops) {
                auto& op = (*rows)[k].op;
                note(op.obj);
                if (!op.key_str) note(op.key_elem);
                std::sort(op.pred.begin(), op.pred.end(), lamport_less);
                for (const auto& p : op.pred) note(p);
            }
            std::sort(used.begin(), used.end());
            used.erase(std::unique(used.begin(), used.end()), used.end());
            c.actors.push_back(actors[dc.actor]);
            for (auto a : used) c.actors.push_back(actors[a]);
            auto local = [&](const OpRef& ref) -> OpRef {
                if (ref.counter == 0) return ref;
                if (ref.actor == dc.actor) return OpRef{ref.counter, 0};
                auto pos = std::lower_bound(used.begin(), used.end(), ref.actor) - used.begin();
                return OpRef{ref.counter, static_cast<std::uint32_t>(pos + 1)};
            };
            c.ops.reserve(dc.ops.size());
            for (auto k : dc.ops) {
                ChangeOp op = (*rows)[k].op;
                op.obj = local(op.obj);
                if (!op.key_str) op.key_elem = local(op.key_elem);
                for (auto& p : op.pred) p = local(p);
                c.ops.push_back(std::move(op));
            }
            encode_change(c);
        }
    }

    std::vector<bool> depended(out.size(), false);
    for (const auto& dc : *changes)
        for (auto d : dc.deps) depended[d] = true;
    std::vector<ChangeHash> computed;
    for (std::size_t i = 0; i < out.size(); ++i)
        if (!depended[i]) computed.push_back(out[i].hash);
    std::sort(computed.begin(), computed.end());
    std::sort(heads.begin(), heads.end());
    if (computed != heads) return std::unexpected(err("document heads do not match its changes"));
    return out;
}

}  // namespace crdt::detail
