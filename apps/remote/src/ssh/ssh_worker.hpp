#pragma once
// The session worker on libssh: connect, judge the host key by our store, authenticate once,
// open a pseudo-terminal and a shell, then carry output and input until either side ends.
#include <expected>
#include <string>

#include "ssh/ssh_session.hpp"

// libssh's key (its ssh_key handle); only this folder's sources include libssh.
struct ssh_key_struct;

namespace remote {

// The key's algorithm name and its "SHA256:" fingerprint, as ssh-keygen -l -E sha256 shows it.
HostKeyIdentity host_key_identity_from_public_key(ssh_key_struct* key);

// Judges the server's key for host:port by the store at known_hosts. A key that is not
// trusted leaves its problem in the cell; the answer is whether to proceed.
bool check_server_key(const std::filesystem::path& known_hosts, std::string_view host, std::uint16_t port,
                      ssh_key_struct* key, const HostKeyCell& host_key);

// The whole life of one connection; an error carries the text of the Failed status.
std::expected<void, std::string> run_ssh_session(SshSessionRequest request, const SharedCellPtr<SessionStatus>& status,
                                                 const HostKeyCell& host_key, Sender<SshChunk>& output,
                                                 Receiver<SshInput>& input);

// The body of the "remote-ssh" thread: runs the session and turns its error into Failed.
void run_ssh_session_thread(SshSessionRequest request, SharedCellPtr<SessionStatus> status, HostKeyCell host_key,
                            Sender<SshChunk> output, Receiver<SshInput> input);

// Sets Failed with the error's text, unless the status says Failed already.
void fail_ssh_session(SharedCell<SessionStatus>& status, std::string error);

}  // namespace remote
