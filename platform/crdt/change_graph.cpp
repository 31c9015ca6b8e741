#include "crdt/change_graph.hpp"

#include <algorithm>
#include <string>

namespace crdt::detail {

namespace {

Error err(std::string message) { return Error{std::move(message)}; }

}  // namespace

ChangePtr ChangeGraph::find(const ChangeHash& hash) const {
    auto it = by_hash_.find(hash);
    return it == by_hash_.end() ? nullptr : history_[it->second];
}

void ChangeGraph::reserve(std::size_t more) {
    history_.reserve(history_.size() + more);
    by_hash_.reserve(by_hash_.size() + more);
}

std::uint64_t ChangeGraph::next_seq(std::uint32_t actor) const {
    return (actor < last_seq_.size() ? last_seq_[actor] : 0) + 1;
}

Result<void> ChangeGraph::check_next(const ChangeData& c, std::uint32_t author, std::size_t op_count) const {
    const std::uint64_t seq = next_seq(author);
    const std::uint64_t prev_op = author < last_op_.size() ? last_op_[author] : 0;
    if (c.seq != seq)
        return std::unexpected(err("change " + c.hash.to_hex() + " has sequence number " + std::to_string(c.seq) +
                                   ", expected " + std::to_string(seq)));
    if (op_count != 0 && (c.start_op <= prev_op || c.start_op > UINT64_MAX - op_count))
        return std::unexpected(err("change " + c.hash.to_hex() + " reuses operation counters"));
    return {};
}

void ChangeGraph::record(ChangePtr data, std::uint32_t author) {
    if (author >= last_seq_.size()) {
        last_seq_.resize(author + 1, 0);
        last_op_.resize(author + 1, 0);
    }
    last_seq_[author] = data->seq;
    if (data->op_count != 0) last_op_[author] = data->start_op + data->op_count - 1;
    for (const auto& d : data->deps) {
        auto it = std::lower_bound(heads_.begin(), heads_.end(), d);
        if (it != heads_.end() && *it == d) heads_.erase(it);
    }
    heads_.insert(std::lower_bound(heads_.begin(), heads_.end(), data->hash), data->hash);
    by_hash_.emplace(data->hash, history_.size());
    history_.push_back(std::move(data));
}

std::vector<std::size_t> ChangeGraph::changes_since(std::span<const ChangeHash> since) const {
    std::vector<bool> known(history_.size(), false);
    std::vector<std::size_t> stack;
    for (const auto& h : since)
        if (auto it = by_hash_.find(h); it != by_hash_.end()) stack.push_back(it->second);
    while (!stack.empty()) {
        auto i = stack.back();
        stack.pop_back();
        if (known[i]) continue;
        known[i] = true;
        for (const auto& d : history_[i]->deps) stack.push_back(by_hash_.at(d));
    }
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < history_.size(); ++i)
        if (!known[i]) out.push_back(i);
    return out;
}

std::vector<ChangePtr> ChangeGraph::queued_changes() const {
    std::vector<ChangePtr> out;
    out.reserve(queued_.size());
    for (const auto& [hash, change] : queued_) out.push_back(change);
    return out;
}

bool ChangeGraph::deps_present(const ChangeData& c) const {
    return std::all_of(c.deps.begin(), c.deps.end(), [&](const ChangeHash& d) { return by_hash_.contains(d); });
}

void ChangeGraph::enqueue(ChangePtr data) {
    for (const auto& d : data->deps)
        if (!by_hash_.contains(d)) waiting_[d].push_back(data->hash);
    queued_.emplace(data->hash, std::move(data));
}

}  // namespace crdt::detail
