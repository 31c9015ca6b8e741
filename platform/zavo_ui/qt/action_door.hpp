#pragma once
// The action executor's door: a D-Bus service on the user's session bus, reachable by the user
// who runs the program (the session bus admits only that user, and every caller is checked).
//
//   service    the application id               dev.zavo.remote
//   object     the id as a path                 /dev/zavo/remote
//   interface  the id followed by ".Actions"    dev.zavo.remote.Actions
//     ListResources() -> (s resources)           the resources as JSON
//     Invoke(s resource, s action, a{ss} arguments) -> (s state, s operation)
//                                                state "applied", "completed" or "pending";
//                                                the operation id when pending
//     Poll(s operation) -> (s state, s code, s message)
//     Cancel(s operation) -> (s state, s code, s message)
//                                                state "pending", "completed", "cancelled" or "failed"
//   errors     the id followed by ".Error." and UnknownResource, UnknownAction, Unavailable
//              ("reason_code: message"), Refused, NotHandled, UnknownOperation or Failed;
//              org.freedesktop.DBus.Error.InvalidArgs for malformed or oversized arguments
//
// Requests are answered on the UI thread, in the order they arrive.
#include "zavo_ui/action_executor.hpp"

#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zavo_ui::qt {

struct DoorNames {
    std::string service;
    std::string path;
    std::string interface;
    std::string error_prefix;  // followed by the error's name

    friend bool operator==(const DoorNames&, const DoorNames&) = default;
};

// The names for a reverse-domain application id; none when the id is not a valid bus name.
std::optional<DoorNames> door_names(std::string_view app_id);

class ActionDoor {
public:
    // Opens the door on the session bus, `bus` being what settle_session_bus found. When it
    // cannot (no session bus, the name taken by another process, an id that is no bus name) it
    // says why once on standard error, prefixed with `program`, and stays closed; nothing else
    // changes.
    ActionDoor(std::string_view app_id, action_executor::ActionExecutor& executor, std::string_view program,
               const std::expected<std::string, std::string>& bus);
    ~ActionDoor();
    ActionDoor(const ActionDoor&) = delete;
    ActionDoor& operator=(const ActionDoor&) = delete;

    bool is_open() const { return open_; }

private:
    class Object;
    std::unique_ptr<Object> object_;
    std::optional<DoorNames> names_;
    bool open_ = false;
};

}  // namespace zavo_ui::qt
