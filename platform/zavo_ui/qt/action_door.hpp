#pragma once
// The action executor's door: a D-Bus service on the user's session bus, reachable by the user
// who runs the program (a session bus admits only the user it runs as, and every caller is
// checked; see DoorCallers).
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
// Requests are answered on the UI thread, in the order they arrive; a call sent without
// waiting for its answer is carried out all the same, and answered by nothing.
#include "zavo_ui/action_executor.hpp"

#include <sys/types.h>

#include <cstddef>
#include <deque>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

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

// Whose calls the door carries out: those of the user who runs the program. The bus names each
// call's sender (a unique name it never gives twice); the door asks the bus for that sender's
// user once, without waiting, and keeps the answer. A sender that left before the bus was asked
// (a client that did not wait for the answer) can no longer be looked up: its call is carried
// out when the bus runs as this user, which a session bus admits alone unless it is configured
// otherwise, and no caller of another user has been seen on it.
class DoorCallers {
public:
    DoorCallers(uid_t user, std::optional<uid_t> bus_user) : user_(user), bus_user_(bus_user) {}

    // Whether the sender's calls are carried out; none until the bus has answered for it.
    std::optional<bool> allowed(const std::string& sender) const;
    // What the bus answered: the sender's user, or that it has no such sender now (`gone`).
    // Any other answer (no user) refuses the sender.
    void learned(const std::string& sender, std::optional<uid_t> user, bool gone);

    // The most senders remembered; the oldest are forgotten first.
    static constexpr std::size_t kRemembered = 1024;

private:
    uid_t user_;
    std::optional<uid_t> bus_user_;
    bool others_seen_ = false;
    std::unordered_map<std::string, bool> allowed_;
    std::deque<std::string> order_;
};

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
