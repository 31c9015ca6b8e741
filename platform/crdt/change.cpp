#include "crdt/change.hpp"

#include <openssl/sha.h>

namespace crdt::detail {

void encode_change(ChangeData& data) {
    std::vector<std::uint8_t> out;
    auto put = [&](std::uint64_t v) {
        do {
            std::uint8_t b = v & 0x7f;
            v >>= 7;
            out.push_back(static_cast<std::uint8_t>(b | (v ? 0x80 : 0)));
        } while (v);
    };
    for (const auto& d : data.deps) out.insert(out.end(), d.bytes.begin(), d.bytes.end());
    for (const auto& a : data.actors) out.insert(out.end(), a.to_bytes().begin(), a.to_bytes().end());
    put(data.seq);
    put(data.start_op);
    put(static_cast<std::uint64_t>(data.time));
    put(data.ops.size());
    for (const auto& op : data.ops) {
        put(op.obj.counter);
        put(op.action);
        put(op.key_elem.counter);
        if (op.key_str) out.insert(out.end(), op.key_str->begin(), op.key_str->end());
        put(op.pred.size());
    }
    SHA256(out.data(), out.size(), data.hash.bytes.data());
    data.bytes = std::move(out);
}

Result<ChunkResult> decode_chunk(std::span<const std::uint8_t>) {
    return std::unexpected(Error{"reading stored changes is not available yet"});
}

}  // namespace crdt::detail
