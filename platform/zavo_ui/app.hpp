#pragma once
// The running application as the registration hook sees it.
namespace zavo_actions {
class ActionRegistry;
}

namespace zavo_ui::app {

class App {
public:
    explicit App(zavo_actions::ActionRegistry& registry) : registry_(&registry) {}

    // The registry that decodes the actions dispatched to this application's documents.
    zavo_actions::ActionRegistry& action_registry_mut() { return *registry_; }

private:
    zavo_actions::ActionRegistry* registry_;
};

}  // namespace zavo_ui::app
