#include "app/remote_app.hpp"

namespace remote::app {

void RemoteApp::handle_event(const zavo_ui::event::Event&, zavo_ui::event::Modifiers, zavo_ui::EventContext&, bool&,
                             double) {}

}  // namespace remote::app
