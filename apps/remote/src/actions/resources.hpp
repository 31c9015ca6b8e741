#pragma once
// The action resources the application offers: the connection list, one resource per saved
// connection in the document, and the live session.
#include "doc/profile_document.hpp"
#include "known_hosts/known_hosts.hpp"
#include "profiles/saved_connection.hpp"
#include "zavo_actions/resource.hpp"

#include <optional>
#include <vector>

namespace remote {

// "remote.connections" with one child per connection stored in `document`, in document order.
std::vector<zavo_actions::resource::Resource> connection_list_resources(const ProfileDocument& document);
// "remote.connection:{id}": open, connect, rename, favorite, delete.
zavo_actions::resource::Resource connection_resources(SavedConnection record);
// "remote.session:{id}": disconnect, send-text, and the host-key action the problem calls for.
zavo_actions::resource::Resource session_resource(const SavedConnection& record, bool ssh_connected,
                                                  const std::optional<HostKeyProblem>& problem);

}  // namespace remote
