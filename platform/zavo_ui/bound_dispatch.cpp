#include "zavo_ui/bound_dispatch.hpp"

#include <map>
#include <mutex>

namespace zavo_ui::bound_dispatch {
namespace {

struct Observers {
    std::mutex mutex;
    std::map<const crdt::Document*, Observer> by_document;
};

Observers& observers() {
    static Observers o;
    return o;
}

std::optional<Observer> observer_of(const crdt::Document& document) {
    auto& o = observers();
    std::lock_guard lock(o.mutex);
    auto it = o.by_document.find(&document);
    if (it == o.by_document.end()) return std::nullopt;
    return it->second;
}

}  // namespace

void observe(const crdt::Document& document, Observer observer) {
    auto& o = observers();
    std::lock_guard lock(o.mutex);
    if (observer)
        o.by_document[&document] = std::move(observer);
    else
        o.by_document.erase(&document);
}

std::optional<TypedActionRecord> typed_action_before(crdt::Document& document) {
    if (!observer_of(document)) return std::nullopt;
    return TypedActionRecord{document.get_heads()};
}

void report_typed_action(crdt::Document& document, const TypedActionRecord& before,
                         std::vector<crdt::ChangeHash> heads_after) {
    // Called without the lock held, so an observer may observe or dispatch again.
    if (auto observer = observer_of(document))
        (*observer)(TypedActionReport{before.heads_before, std::move(heads_after)});
}

}  // namespace zavo_ui::bound_dispatch
