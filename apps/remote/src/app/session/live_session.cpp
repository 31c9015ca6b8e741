#include "app/session/live_session.hpp"

#include <string>

namespace remote {

SessionStatus LiveSession::status() const {
    struct Status {
        SessionStatus operator()(const std::unique_ptr<SshSession>& s) const { return s->status(); }
        SessionStatus operator()(const rfb::VncShared& s) const { return s.status(); }
        SessionStatus operator()(const DeviceSession& s) const { return s.status; }
        SessionStatus operator()(const Failed& f) const { return SessionStatus::failed(f.text); }
        SessionStatus operator()(const Unavailable& u) const {
            return SessionStatus::unavailable(std::string(readiness_notice(u.readiness, u.kind)));
        }
        SessionStatus operator()(const Preview& p) const { return p.status; }
    };
    return std::visit(Status{}, value);
}

std::string ssh_user_for(const SavedConnection& connection) {
    if (!connection.user.empty()) return connection.user;
    return optional_env_var("USER").value_or("root");
}

}  // namespace remote
