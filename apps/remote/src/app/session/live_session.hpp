#pragma once
// The one live session the application holds, and what its status looks like.
#include "device/device_session.hpp"
#include "profiles/saved_connection.hpp"
#include "rfb/vnc_session.hpp"
#include "ssh/ssh_session.hpp"
#include "shared/session_status.hpp"

#include <memory>
#include <string>
#include <variant>

namespace remote {

struct LiveSession {
    // A launch that failed before a session existed.
    struct Failed {
        std::string text;
    };
    // A launch refused by readiness, and RDP.
    struct Unavailable {
        ConnectionReadiness readiness = ConnectionReadiness::Ready;
        ConnectionKind kind = ConnectionKind::Ssh;
    };
    // Review scenes only.
    struct Preview {
        SessionStatus status;
    };
    // Dropping the value ends the session: an SSH or VNC handle closes its channels (the worker
    // ends on its own), a device session's decoder stops when its wake-up sender goes.
    std::variant<std::unique_ptr<SshSession>, rfb::VncShared, DeviceSession, Failed, Unavailable, Preview> value;

    SessionStatus status() const;
};

// The user an SSH session logs in as: the connection's, else USER as it is (also when empty),
// else "root".
std::string ssh_user_for(const SavedConnection& connection);

}  // namespace remote
