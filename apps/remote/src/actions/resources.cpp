#include "app/remote_app.hpp"

namespace remote::app {

std::vector<zavo_actions::resource::Resource> RemoteApp::action_resources() { return {}; }

}  // namespace remote::app
