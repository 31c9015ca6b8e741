#pragma once
// The parsed form of one change and its chunk encoding. Actor references inside a change are
// indices into its own actor table: the author first, then every other actor it mentions in
// byte order.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "crdt/document.hpp"

namespace crdt::detail {

enum Action : std::uint64_t {
    MakeMap = 0,
    Set = 1,
    MakeList = 2,
    Del = 3,
    MakeText = 4,
    Inc = 5,
    MakeTable = 6,
};

// counter@actor with the actor as an index into the change's actor table.
struct OpRef {
    std::uint64_t counter = 0;
    std::uint32_t actor = 0;
    friend bool operator==(const OpRef&, const OpRef&) = default;
};

struct ChangeOp {
    OpRef obj;                           // counter 0: the root map
    std::optional<std::string> key_str;  // map key; when absent, key_elem is the list element
    OpRef key_elem;                      // counter 0: the head of the list
    bool insert = false;
    std::uint64_t action = Set;
    ScalarValue value = Null{};
    std::vector<OpRef> pred;
};

struct ChangeData {
    std::vector<ActorId> actors;  // [0] is the author
    std::uint64_t seq = 0;
    std::uint64_t start_op = 0;
    std::int64_t time = 0;
    std::optional<std::string> message;
    std::vector<ChangeHash> deps;
    // The operations while the change is being built or applied; a document keeps only the
    // bytes and decodes them again when the change goes to another document.
    std::vector<ChangeOp> ops;
    std::uint64_t op_count = 0;
    std::vector<std::uint8_t> extra;  // trailing header bytes kept as they came
    std::vector<std::uint8_t> bytes;  // the uncompressed chunk
    ChangeHash hash;
};

// Fills data.bytes, data.hash and data.op_count from the other fields.
void encode_change(ChangeData& data);

// One chunk from the front of `input`: a change (type 1 or deflated type 2), its length in
// bytes consumed, or an error. Document chunks (type 0) yield their changes. Decoding stops
// with an error once more than `op_budget` operations have been read (the budget shrinks by
// what was read), so that a small hostile input cannot make the reader allocate without bound.
struct ChunkResult {
    std::vector<ChangeData> changes;
    std::size_t consumed = 0;
};
Result<ChunkResult> decode_chunk(std::span<const std::uint8_t> input, std::size_t& op_budget);
// The one change, with its operations, of a chunk that fills `bytes`.
Result<ChangeData> decode_change(std::span<const std::uint8_t> bytes);

// The hash and length of the change chunk (type 1) at the front of `input`, from its framing
// alone; nullopt for other chunks or malformed framing.
std::optional<std::pair<ChangeHash, std::size_t>> peek_change_hash(std::span<const std::uint8_t> input);

// How many operations an input of `size` bytes may decode to.
inline std::size_t op_budget_for(std::size_t size) { return 65536 + 32 * size; }

}  // namespace crdt::detail
