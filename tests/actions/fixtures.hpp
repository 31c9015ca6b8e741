#pragma once
// Saved connections and a live SSH session for the resource and operation tests.
#include "app/remote_app.hpp"
#include "support/saved_connection.hpp"

#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace actions_test {

// A connection with a fresh id; a device connection authenticates by device identity.
inline remote::SavedConnection connection(std::string name, remote::ConnectionKind kind, std::string host,
                                          std::uint16_t port) {
    return test_support::saved(
        std::move(name), kind, std::move(host), port, "",
        kind == remote::ConnectionKind::Zavo ? remote::AuthKind::DeviceIdentity : remote::AuthKind::Password);
}

// A live SSH session whose worker side the test plays: it sets the status and the host-key
// cell, reads the queued input and answers acknowledgements.
struct FakeSsh {
    remote::SharedCellPtr<remote::SessionStatus> status = remote::make_shared_cell(remote::SessionStatus::connecting());
    remote::HostKeyCell host_key = remote::make_shared_cell<std::optional<remote::HostKeyProblem>>(std::nullopt);
    remote::Receiver<remote::SshInput> input;
    remote::Sender<remote::SshChunk> output;

    // Makes the session `app` holds for `id`, as a launch would.
    void attach(remote::RemoteApp& app, const remote::Uuid& id) {
        auto [otx, orx] = remote::make_bounded_channel<remote::SshChunk>(remote::kSshOutputCapacity);
        auto [itx, irx] = remote::make_bounded_channel<remote::SshInput>(remote::kSshInputCapacity);
        output = std::move(otx);
        input = std::move(irx);
        app.session.hold(id, remote::LiveSession{std::make_unique<remote::SshSession>(
                                 remote::Terminal(80, 24), status, std::move(orx), std::move(itx), host_key)});
    }
};

}  // namespace actions_test
