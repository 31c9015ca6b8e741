#include "zavo_ui/operation.hpp"

namespace zavo_ui::operation {

StartOutcome adapt_run(const RunOutcome& run) {
    if (auto* f = std::get_if<RunFailure>(&run)) return start::Refused{f->message};
    if (std::get<RunResult>(run).handled) return start::Completed{};
    return start::NotHandled{};
}

}  // namespace zavo_ui::operation
