#include "ssh/ssh_session.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <system_error>

#include <fmt/format.h>

#include "profiles/text.hpp"
#include "ssh/ssh_worker.hpp"
#include "worker_threads/worker_threads.hpp"

namespace remote {

namespace fs = std::filesystem;

std::expected<void, std::string> SshSession::send_text(std::string text) {
    return send_input(SshInput{std::move(text), std::nullopt});
}

std::expected<void, std::string> SshSession::send_input(SshInput input) {
    if (input.text.empty()) return std::unexpected("SSH input cannot be empty");
    if (input.text.size() > kSshInputLimit)
        return std::unexpected(fmt::format("SSH input exceeds the {} KiB per-operation limit", kSshInputLimit / 1024));
    auto sent = input_.try_send(std::move(input));
    if (sent) return {};
    if (sent.error() == SendError::Full)
        return std::unexpected("SSH input is busy; wait for the remote session to catch up");
    return std::unexpected("SSH session input channel is closed");
}

std::expected<Receiver<SshAck>, std::string> SshSession::send_text_acknowledged(std::string text) {
    auto [ack, reply] = make_bounded_channel<SshAck>(1);
    auto sent = send_input(SshInput{std::move(text), std::move(ack)});
    if (!sent) return std::unexpected(std::move(sent.error()));
    return std::move(reply);
}

bool SshSession::pump_output() {
    // A share per frame, and at most one full queue: a host that writes faster than the
    // terminal reads, or sequences that cost much for few bytes, would otherwise keep the frame,
    // and with it input and quitting, waiting.
    const std::size_t work_before = terminal.work();
    std::size_t bytes = 0;
    std::size_t chunks = 0;
    output_waiting_ = true;
    while (bytes + (terminal.work() - work_before) / kSshCellsPerByte < kSshPumpBudget) {
        if (held_fed_ == held_.size()) {
            if (chunks == kSshOutputCapacity) break;
            auto chunk = output_.try_recv();
            if (!chunk) {
                output_waiting_ = false;
                break;
            }
            held_ = std::move(*chunk);
            held_fed_ = 0;
            ++chunks;
        }
        const std::size_t n = std::min(kSshPumpSlice, held_.size() - held_fed_);
        terminal.feed(std::span(held_).subspan(held_fed_, n));
        held_fed_ += n;
        bytes += n;
        // Answers to the host's queries go back like typed input, unacknowledged; a full
        // input queue drops them as it drops keys.
        if (auto replies = terminal.take_replies(); !replies.empty()) (void)send_text(std::move(replies));
    }
    return bytes != 0;
}

fs::path home_ssh_key_path(const fs::path& base, std::string_view file) { return base / ".ssh" / file; }

std::vector<fs::path> default_ssh_key_paths() {
    const char* home = std::getenv("HOME");
    fs::path base = home ? fs::path(home) : fs::path();
    return {home_ssh_key_path(base, "id_ed25519"), home_ssh_key_path(base, "id_ecdsa")};
}

std::optional<std::string> optional_env_var(const char* name) {
    const char* v = std::getenv(name);
    if (!v) return std::nullopt;
    std::string value(v);
    if (!is_valid_utf8(value)) return std::nullopt;
    return value;
}

std::expected<SshCredentials, std::string> load_ssh_credentials(bool key_auth, std::span<const fs::path> candidates) {
    if (key_auth) {
        fs::path path;
        if (auto explicit_key = optional_env_var("REMOTE_SSH_KEY")) {
            path = *explicit_key;
        } else {
            bool found = false;
            for (const auto& candidate : candidates) {
                struct stat st {};
                if (::stat(candidate.c_str(), &st) == 0) {
                    path = candidate;
                    found = true;
                    break;
                }
            }
            if (!found) return std::unexpected("no SSH key: set REMOTE_SSH_KEY or add ~/.ssh/id_ed25519");
        }
        return SshKeyCredentials{std::move(path), optional_env_var("REMOTE_SSH_KEY_PASSPHRASE")};
    }
    if (auto password = optional_env_var("REMOTE_SSH_PASSWORD")) return SshPasswordCredentials{std::move(*password)};
    return std::unexpected("no SSH password: set REMOTE_SSH_PASSWORD");
}

std::expected<SshSession, std::string> start_ssh_session(SshSessionRequest request) {
    auto status = make_shared_cell(SessionStatus::connecting());
    auto [output_tx, output_rx] = make_bounded_channel<SshChunk>(kSshOutputCapacity);
    auto [input_tx, input_rx] = make_bounded_channel<SshInput>(kSshInputCapacity);
    Terminal terminal(request.cols, request.rows);
    HostKeyCell host_key = make_shared_cell<std::optional<HostKeyProblem>>(std::nullopt);

    try {
        worker_threads::spawn(
            "remote-ssh",
            [request = std::move(request), status, host_key, output = std::move(output_tx),
             input = std::move(input_rx)]() mutable {
                run_ssh_session_thread(std::move(request), std::move(status), std::move(host_key), std::move(output),
                                       std::move(input));
            },
            [status](std::string_view what) { fail_ssh_session(*status, std::string(what)); });
    } catch (const std::system_error& e) {
        return std::unexpected(e.code().message());
    }
    return SshSession(std::move(terminal), std::move(status), std::move(output_rx), std::move(input_tx),
                      std::move(host_key));
}

}  // namespace remote
