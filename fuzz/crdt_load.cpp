// Document files from outside: load must refuse bad input without crashing, and whatever it
// accepts must read back, save and load again to the same heads.
#include <openssl/evp.h>

#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "crdt/document.hpp"

namespace {
void walk(const crdt::Document& doc, const crdt::ObjId& obj, int depth) {
    if (depth > 64) return;
    auto type = doc.object_type(obj);
    if (!type) std::abort();
    auto visit = [&](const crdt::Result<std::vector<crdt::Entry>>& all) {
        if (!all) std::abort();
        for (const auto& e : *all)
            if (e.value.is_object()) walk(doc, e.id, depth + 1);
    };
    if (*type == crdt::ObjType::Map) {
        auto keys = doc.keys(obj);
        if (!keys) std::abort();
        for (const auto& k : *keys) visit(doc.get_all(obj, k));
    } else {
        auto n = doc.length(obj);
        if (!n) std::abort();
        for (std::size_t i = 0; i < *n && i < 4096; ++i) visit(doc.get_all(obj, i));
        if (*type == crdt::ObjType::Text && !doc.text(obj)) std::abort();
    }
}

// A copy of the input with the checksum of every uncompressed chunk made right, so that
// mutations get past the checksum into the decoders.
std::vector<std::uint8_t> with_checksums(std::span<const std::uint8_t> in) {
    std::vector<std::uint8_t> out(in.begin(), in.end());
    std::size_t pos = 0;
    while (pos + 10 <= out.size()) {
        std::size_t p = pos + 9;
        std::uint64_t len = 0;
        for (unsigned shift = 0; p < out.size() && shift < 63; shift += 7) {
            len |= static_cast<std::uint64_t>(out[p] & 0x7f) << shift;
            if (!(out[p++] & 0x80)) break;
        }
        if (len > out.size() - p) break;
        if (out[pos + 8] != 2) {
            unsigned char hash[32];
            EVP_Digest(&out[pos + 8], p - (pos + 8) + len, hash, nullptr, EVP_sha256(), nullptr);
            std::copy(hash, hash + 4, out.begin() + static_cast<std::ptrdiff_t>(pos + 4));
        }
        pos = p + len;
    }
    return out;
}

void check(std::span<const std::uint8_t> input) {
    (void)crdt::Change::from_bytes(input);
    // What an incremental load keeps of bad input must still read back.
    crdt::Document partial;
    (void)partial.load_incremental(input);
    walk(partial, crdt::ROOT, 0);
    auto doc = crdt::Document::load(input);
    if (!doc) return;
    walk(*doc, crdt::ROOT, 0);
    auto heads = doc->get_heads();
    auto again = crdt::Document::load(doc->save());
    if (!again || again->get_heads() != heads) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> input(data, size);
    check(input);
    auto fixed = with_checksums(input);
    check(fixed);
    return 0;
}
