#pragma once
// The change graph: every change a document has applied, in the order applied and by hash, the
// heads, and each actor's last sequence number and op counter; and the waiting queue of
// changes whose dependencies have not arrived yet. Changes are kept without their operations.
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

#include "crdt/change.hpp"

namespace crdt::detail {

struct ChangeHashHash {
    std::size_t operator()(const ChangeHash& h) const noexcept {
        std::size_t v;
        std::memcpy(&v, h.bytes.data(), sizeof v);
        return v;
    }
};

using ChangePtr = std::shared_ptr<const ChangeData>;

class ChangeGraph {
public:
    const std::vector<ChangePtr>& history() const { return history_; }
    const std::vector<ChangeHash>& heads() const { return heads_; }  // sorted
    bool contains(const ChangeHash& hash) const { return by_hash_.contains(hash); }
    // The change with the hash, or null.
    ChangePtr find(const ChangeHash& hash) const;
    void reserve(std::size_t more);

    // The sequence number of the actor's next change.
    std::uint64_t next_seq(std::uint32_t actor) const;
    // Whether a change by `author` with `op_count` operations follows the author's last one:
    // the next sequence number, and op counters past those already used.
    Result<void> check_next(const ChangeData& c, std::uint32_t author, std::size_t op_count) const;
    // Adds an applied change by the actor `author`.
    void record(ChangePtr data, std::uint32_t author);
    // The indices into history() of the changes not in the history of `since`, in history order.
    std::vector<std::size_t> changes_since(std::span<const ChangeHash> since) const;

    // --- the waiting queue

    std::size_t queued() const { return queued_.size(); }
    std::vector<ChangePtr> queued_changes() const;
    // Applies the change through `apply` (which records it) once its dependencies are here, then
    // every queued change that waited for it; a change already seen is skipped, one whose
    // dependencies are missing waits. The first failure of `apply` is the result.
    template <class Apply>
    Result<void> receive(ChangePtr data, Apply&& apply);

private:
    bool deps_present(const ChangeData& c) const;
    // Queues a change until its missing dependencies arrive.
    void enqueue(ChangePtr data);

    std::vector<ChangePtr> history_;  // in the order applied
    std::unordered_map<ChangeHash, std::size_t, ChangeHashHash> by_hash_;
    std::vector<ChangeHash> heads_;
    std::vector<std::uint64_t> last_seq_;  // by actor index
    std::vector<std::uint64_t> last_op_;   // by actor index: counter of its last op

    std::unordered_map<ChangeHash, ChangePtr, ChangeHashHash> queued_;
    std::unordered_map<ChangeHash, std::vector<ChangeHash>, ChangeHashHash> waiting_;  // missing dep -> changes
};

template <class Apply>
Result<void> ChangeGraph::receive(ChangePtr data, Apply&& apply) {
    if (by_hash_.contains(data->hash) || queued_.contains(data->hash)) return {};
    const ChangeHash hash = data->hash;
    if (!deps_present(*data)) {
        enqueue(std::move(data));
        return {};
    }
    if (auto r = apply(std::move(data)); !r) return r;
    if (waiting_.empty()) return {};
    // Changes that waited for this one, each applied as soon as its last dependency is.
    std::vector<ChangeHash> ready{hash};
    while (!ready.empty()) {
        const ChangeHash h = ready.back();
        ready.pop_back();
        auto w = waiting_.find(h);
        if (w == waiting_.end()) continue;
        auto waiters = std::move(w->second);
        waiting_.erase(w);
        for (const auto& q : waiters) {
            auto it = queued_.find(q);
            if (it == queued_.end() || !deps_present(*it->second)) continue;
            auto change = std::move(it->second);
            queued_.erase(it);
            if (auto r = apply(std::move(change)); !r) return r;
            ready.push_back(q);
        }
    }
    return {};
}

}  // namespace crdt::detail
