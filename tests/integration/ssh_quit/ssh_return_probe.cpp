// A program that returns from main right after it has let go of a connected SSH session, without
// any quit path of a framework: the session's worker is still closing when the program leaves.
// Set by the environment:
//   PROBE_PORT, PROBE_USER       the SSH server's port on 127.0.0.1 and the user to log in as
//   PROBE_KEEP                   when set, the session is kept (never let go) and main returns 3
//   REMOTE_SSH_KEY, REMOTE_SSH_KNOWN_HOSTS   as for the program
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "known_hosts/known_hosts.hpp"
#include "ssh/ssh_session.hpp"

int main() {
    const char* port = std::getenv("PROBE_PORT");
    const char* user = std::getenv("PROBE_USER");
    auto store = remote::known_hosts_path();
    auto credentials = remote::load_ssh_credentials(true, {});
    if (!port || !user || !store || !credentials) return 2;
    auto session = remote::start_ssh_session(
        {"127.0.0.1", user, *store, *credentials, static_cast<std::uint16_t>(std::atoi(port)), 80, 24});
    if (!session) return 2;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (session->status().is_connecting() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!session->status().is_connected()) return 2;
    if (std::getenv("PROBE_KEEP")) {
        (void)std::make_unique<remote::SshSession>(std::move(*session)).release();
        return 3;
    }
    return 0;  // the session is let go here, and the program leaves at once
}
