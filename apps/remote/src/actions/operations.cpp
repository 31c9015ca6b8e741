#include "app/remote_app.hpp"

namespace remote::app {

std::vector<std::string> RemoteApp::operation_types() { return {}; }

zavo_ui::operation::RunOutcome RemoteApp::run_operation(std::uint8_t, const zavo_actions::action::EncodedAction&) {
    return zavo_ui::operation::RunResult{false};
}

zavo_ui::operation::StartOutcome RemoteApp::start_operation(const zavo_ui::operation::OperationId&, std::uint8_t,
                                                            const zavo_actions::action::EncodedAction&) {
    return zavo_ui::operation::start::NotHandled{};
}

zavo_ui::operation::PollOutcome RemoteApp::poll_operation(const zavo_ui::operation::OperationId&, bool) {
    return zavo_ui::operation::poll::Pending{};
}

}  // namespace remote::app
