#pragma once
// The UI side of one live SSH terminal session, and the code that starts it. The worker runs
// on its own thread "remote-ssh"; the two sides share only the channels and the two cells.
#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "known_hosts/known_hosts.hpp"
#include "shared/bounded_channel.hpp"
#include "shared/session_status.hpp"
#include "shared/shared_cell.hpp"
#include "vt/terminal.hpp"

namespace remote {

struct SshKeyCredentials {
    std::filesystem::path path;
    std::optional<std::string> passphrase;
    friend bool operator==(const SshKeyCredentials&, const SshKeyCredentials&) = default;
};
struct SshPasswordCredentials {
    std::string password;
    friend bool operator==(const SshPasswordCredentials&, const SshPasswordCredentials&) = default;
};
// The one authentication a session tries.
using SshCredentials = std::variant<SshKeyCredentials, SshPasswordCredentials>;

// How long a connection attempt may take to reach Connected; a connected session has no bound.
inline constexpr std::chrono::milliseconds kSshConnectTimeout = std::chrono::seconds(30);

struct SshSessionRequest {
    std::string host;
    std::string user;
    std::filesystem::path known_hosts;
    SshCredentials credentials;
    std::uint16_t port = 22;
    std::uint16_t cols = 80;
    std::uint16_t rows = 24;
    std::chrono::milliseconds connect_timeout = kSshConnectTimeout;
};

// The answer to an acknowledged input: written, or the write's failure text.
using SshAck = std::expected<void, std::string>;

struct SshInput {
    std::string text;
    std::optional<Sender<SshAck>> ack;
};

using SshChunk = std::vector<std::uint8_t>;

inline constexpr std::size_t kSshOutputCapacity = 128;
inline constexpr std::size_t kSshInputCapacity = 256;
inline constexpr std::size_t kSshInputLimit = 64 * 1024;
// The UI thread's share of host output in one frame: bytes fed, and the terminal's work
// (Terminal::work) at kSshCellsPerByte cells a byte, which cost about the same; a few
// milliseconds of the costliest output. The rest waits for the next frame. Output is fed in
// slices of kSshPumpSlice bytes, and the share checked between them.
inline constexpr std::size_t kSshPumpBudget = 1u << 20;
inline constexpr std::size_t kSshCellsPerByte = 4;
inline constexpr std::size_t kSshPumpSlice = 1024;

using HostKeyCell = SharedCellPtr<std::optional<HostKeyProblem>>;

class SshSession {
public:
    // Lives and is written only on the UI thread.
    Terminal terminal;

    // Queues text for the shell without waiting and without acknowledgement.
    std::expected<void, std::string> send_text(std::string text);
    // Checks and queues one input; never waits.
    std::expected<void, std::string> send_input(SshInput input);
    // Queues text with a fresh reply channel and returns its receiving end.
    std::expected<Receiver<SshAck>, std::string> send_text_acknowledged(std::string text);
    // Feeds the output already waiting into the terminal, until it has taken one frame's share
    // (kSshPumpBudget) or kSshOutputCapacity chunks, and queues the terminal's replies to the
    // host as input; whether anything was fed. The rest of a chunk begun waits for the next
    // call. Never waits.
    bool pump_output();
    // The last pump stopped at its share with output still waiting.
    bool output_waiting() const { return output_waiting_; }

    SessionStatus status() const { return status_->get(); }
    std::optional<HostKeyProblem> host_key_problem() const { return host_key_->get(); }

    SshSession(Terminal terminal, SharedCellPtr<SessionStatus> status, Receiver<SshChunk> output,
               Sender<SshInput> input, HostKeyCell host_key)
        : terminal(std::move(terminal)),
          status_(std::move(status)),
          output_(std::move(output)),
          input_(std::move(input)),
          host_key_(std::move(host_key)) {}

private:
    SharedCellPtr<SessionStatus> status_;
    Receiver<SshChunk> output_;
    SshChunk held_;  // the chunk being fed, from held_fed_ on
    std::size_t held_fed_ = 0;
    bool output_waiting_ = false;
    Sender<SshInput> input_;
    HostKeyCell host_key_;
};

// HOME/.ssh/id_ed25519 then HOME/.ssh/id_ecdsa (relative paths when HOME is unset).
std::vector<std::filesystem::path> default_ssh_key_paths();
std::filesystem::path home_ssh_key_path(const std::filesystem::path& base, std::string_view file);
// The variable's value, or nothing when unset or not valid UTF-8.
std::optional<std::string> optional_env_var(const char* name);
// REMOTE_SSH_KEY (else the first existing candidate) with REMOTE_SSH_KEY_PASSPHRASE, or
// REMOTE_SSH_PASSWORD when key_auth is false.
std::expected<SshCredentials, std::string> load_ssh_credentials(bool key_auth,
                                                                std::span<const std::filesystem::path> candidates);

// Starts the worker thread; fails only when the thread cannot be spawned.
std::expected<SshSession, std::string> start_ssh_session(SshSessionRequest request);

}  // namespace remote
