#pragma once
// The open transaction: this replica's edits since the last commit. Each edit becomes an
// operation by the transaction's author that is applied to the op set at once, so that reads
// see it, and kept until commit() turns the operations into one change.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crdt/op_set.hpp"

namespace crdt::detail {

// An operation of this replica, with op set actor indices.
struct DocOp {
    OpId id;
    OpId obj;
    std::optional<std::string> key_str;
    OpId key_elem;  // counter 0: head
    bool insert = false;
    std::uint64_t action = Set;
    ScalarValue value = Null{};
    std::vector<OpId> pred;
};

class Transaction {
public:
    // The actor that makes the edits; `set` learns it.
    void set_author(OpSet& set, ActorId author);
    const ActorId& author() const { return author_; }
    std::uint32_t author_index() const { return author_index_; }
    // Operations not committed yet.
    std::size_t size() const { return ops_.size(); }

    // Puts a value (action Set, Del or a Make action) at a map key, or at a list or text index.
    // `made`, when given, receives the id of the operation: the object a Make action creates.
    Result<void> put_map(OpSet& set, const ObjId& obj, std::string_view key, std::uint64_t action, ScalarValue value,
                         OpId* made);
    Result<void> put_seq(OpSet& set, const ObjId& obj, std::size_t index, std::uint64_t action, ScalarValue value,
                         OpId* made);
    // Inserts before the visible element `index` (index == length appends).
    Result<void> insert_seq(OpSet& set, const ObjId& obj, std::size_t index, std::uint64_t action, ScalarValue value,
                            OpId* made);
    Result<void> increment_map(OpSet& set, const ObjId& obj, std::string_view key, std::int64_t by);
    Result<void> increment_seq(OpSet& set, const ObjId& obj, std::size_t index, std::int64_t by);
    Result<void> splice_text(OpSet& set, const ObjId& text, std::size_t pos, std::size_t del,
                             std::string_view text_to_insert);

    // The pending operations as one change numbered `seq` that depends on `heads`, encoded;
    // null when nothing is pending. The transaction is empty afterwards.
    std::shared_ptr<const ChangeData> commit(const OpSet& set, std::uint64_t seq, std::vector<ChangeHash> heads,
                                             std::optional<std::string> message, std::optional<std::int64_t> time);

private:
    OpId next_id(const OpSet& set) const { return OpId{set.max_op + 1, author_index_}; }
    // Gives the operation the next id, applies it and keeps it; returns the id.
    OpId add(OpSet& set, DocOp op);

    ActorId author_;
    std::uint32_t author_index_ = 0;
    std::vector<DocOp> ops_;
};

}  // namespace crdt::detail
