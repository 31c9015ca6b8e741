#include "ssh/ssh_worker.hpp"

#include "posix_fd/unique_fd.hpp"
#include "shared/connect.hpp"
#include "shared/wake_up.hpp"

#include <libssh/callbacks.h>
#include <openssl/crypto.h>
#include <poll.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <random>
#include <system_error>
#include <variant>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

namespace remote {

namespace fs = std::filesystem;

namespace {

// OpenSSL arranges, at its first use, to clean itself up when the program exits, unless told
// not to first. A session worker may still be using it then (a program returning from main
// while a session closes), so it is told before anything else can use it.
[[maybe_unused]] const bool openssl_without_exit_cleanup = OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);

// libssh's default host-key offer; a pinned algorithm is moved to its front.
constexpr std::string_view kDefaultHostKeys =
    "ssh-ed25519,ecdsa-sha2-nistp521,ecdsa-sha2-nistp384,ecdsa-sha2-nistp256,sk-ssh-ed25519@openssh.com,"
    "sk-ecdsa-sha2-nistp256@openssh.com,rsa-sha2-512,rsa-sha2-256";
constexpr std::uint64_t kRekeyBytes = std::uint64_t{1} << 30;
constexpr std::uint32_t kRekeySeconds = 3600;
constexpr std::size_t kReadSize = 32768;
constexpr auto kInactivityTimeout = std::chrono::hours(1);
// Our own store judges host keys; libssh is pointed at a file that is always empty, so that
// it reads neither the user's nor the system's known hosts.
constexpr const char* kNoKnownHosts = "/dev/null";
// How long the goodbye may wait for the socket, twice at most.
constexpr int kGoodbyeMs = 500;
// How long input queued before the UI let go of a session may still take to be written.
constexpr auto kLastInputGrace = std::chrono::milliseconds(300);

std::string os_error(int err) { return std::error_code(err, std::system_category()).message(); }

// libssh logs per thread; the last message is kept for errors it reports only that way.
thread_local std::string t_last_log;

// What libssh reports at its warning level on every connection to an OpenSSH server: the socket
// it was handed is connected (code 1, no error), and, after turning down a global request it
// does not know (OpenSSH's announcement of its other host keys), a note that the request was
// invalid. Neither says anything anyone could act on.
bool routine_note(std::string_view text) {
    return text == "Socket connection callback: 1 (0)" || text == "Invalid SSH_MSG_GLOBAL_REQUEST packet" ||
           // the known-hosts file it is given is empty and not a regular file, as meant
           text.find(kNoKnownHosts) != std::string_view::npos;
}

// Called from inside libssh: nothing may be thrown through it, so a message that cannot be
// kept for want of memory is lost.
void log_to_spdlog(int priority, const char* function, const char* buffer, void*) noexcept try {
    std::string_view text = buffer ? buffer : "";
    // libssh prefixes the function's name.
    if (function) {
        std::string prefix = std::string(function) + ": ";
        if (text.starts_with(prefix)) text.remove_prefix(prefix.size());
    }
    t_last_log = text;
    if (priority <= SSH_LOG_WARN && !routine_note(text)) {
        spdlog::warn("libssh: {}", text);
    } else {
        spdlog::debug("libssh: {}", text);
    }
} catch (...) {
}

void set_up_logging() {
    ssh_set_log_callback(log_to_spdlog);
    ssh_set_log_level(SSH_LOG_WARN);
}

struct SessionDeleter {
    // ssh_free closes the socket that the session still holds.
    void operator()(ssh_session s) const { ssh_free(s); }
};
struct ChannelDeleter {
    void operator()(ssh_channel c) const { ssh_channel_free(c); }
};
struct KeyDeleter {
    void operator()(ssh_key k) const { ssh_key_free(k); }
};
using Session = std::unique_ptr<std::remove_pointer_t<ssh_session>, SessionDeleter>;
using Channel = std::unique_ptr<std::remove_pointer_t<ssh_channel>, ChannelDeleter>;
using Key = std::unique_ptr<std::remove_pointer_t<ssh_key>, KeyDeleter>;

// The host-key offer with the pinned algorithm first, or nothing when host:port has no pin.
std::optional<std::string> pinned_host_keys(const fs::path& store, std::string_view host, std::uint16_t port) {
    auto known = known_hosts::load(store);
    if (!known) return std::nullopt;
    for (const auto& entry : known->entries) {
        if (entry.host != host || entry.port != port) continue;
        // An RSA key is named "ssh-rsa" whatever hash signs with it.
        std::string first = entry.identity.algorithm == "ssh-rsa" ? "rsa-sha2-512,rsa-sha2-256"
                                                                  : entry.identity.algorithm;
        if (first.find(',') == std::string::npos && kDefaultHostKeys.find(first) == std::string_view::npos)
            return std::nullopt;
        std::string list = first;
        std::string_view rest = kDefaultHostKeys;
        while (!rest.empty()) {
            auto comma = rest.find(',');
            std::string_view name = rest.substr(0, comma);
            if (("," + first + ",").find("," + std::string(name) + ",") == std::string::npos) {
                list += ',';
                list += name;
            }
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        }
        return list;
    }
    return std::nullopt;
}

// Which socket a descriptor number stands for, so that a number libssh has let go of (and the
// system may have given to another file since) is never closed by mistake.
struct SocketId {
    dev_t device = 0;
    ino_t inode = 0;
};

std::optional<SocketId> socket_id(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return std::nullopt;
    return SocketId{st.st_dev, st.st_ino};
}

void close_if_still(int fd, const SocketId& id) {
    const auto now = socket_id(fd);
    if (now && now->device == id.device && now->inode == id.inode) posix_fd::UniqueFd(fd).reset();
}

// Says goodbye as OpenSSH's client does, with a disconnect "by application" (reason 11), and
// closes the socket. libssh writes the message at once only when its last look at the socket
// found room, and drops it otherwise: write out what is pending, then wait for room.
void disconnect(ssh_session s, const SocketId& socket) {
    if (ssh_get_fd(s) != SSH_INVALID_SOCKET && ssh_is_connected(s)) {
        ssh_blocking_flush(s, kGoodbyeMs);
        pollfd writable{ssh_get_fd(s), POLLOUT, 0};
        int r;
        while ((r = ::poll(&writable, 1, kGoodbyeMs)) < 0 && errno == EINTR) {
        }
        if (r == 1 && (writable.revents & POLLOUT)) ssh_set_fd_towrite(s);
    }
    // Read now: the flush may have found the socket broken and closed it.
    const socket_t fd = ssh_get_fd(s);
    ssh_disconnect(s);
    // ssh_disconnect lets go of a socket given with SSH_OPTIONS_FD without closing it.
    if (fd != SSH_INVALID_SOCKET) close_if_still(fd, socket);
}

void set_status_connected_to_ended(const SharedCellPtr<SessionStatus>& status) {
    status->with([](SessionStatus& s) {
        if (s.is_connected()) s = SessionStatus::ended();
    });
}

// Notes whenever libssh takes something for the channel off the socket, whichever call did it:
// it then waits in libssh's buffers, where polling the socket cannot see it.
class ChannelArrivals {
public:
    ChannelArrivals() {
        callbacks_.userdata = this;
        callbacks_.channel_data_function = [](ssh_session, ssh_channel, void*, std::uint32_t, int, void* self) {
            static_cast<ChannelArrivals*>(self)->any = true;
            return 0;  // left in libssh's buffer for the loop to read
        };
        callbacks_.channel_eof_function = [](ssh_session, ssh_channel, void* self) {
            static_cast<ChannelArrivals*>(self)->any = true;
        };
        callbacks_.channel_close_function = callbacks_.channel_eof_function;
        ssh_callbacks_init(&callbacks_);
    }
    ChannelArrivals(const ChannelArrivals&) = delete;
    ChannelArrivals& operator=(const ChannelArrivals&) = delete;

    void watch(ssh_channel ch) { ssh_set_channel_callbacks(ch, &callbacks_); }
    void stop_watching(ssh_channel ch) { ssh_remove_channel_callbacks(ch, &callbacks_); }

    bool any = false;

private:
    ssh_channel_callbacks_struct callbacks_{};
};

// An input being written: the window may take it in several parts.
struct PendingInput {
    SshInput input;
    std::size_t offset = 0;
};

}  // namespace

HostKeyIdentity host_key_identity_from_public_key(ssh_key key) {
    HostKeyIdentity identity;
    const char* name = ssh_key_type_to_char(ssh_key_type(key));
    identity.algorithm = name ? name : "unknown";
    unsigned char* hash = nullptr;
    size_t len = 0;
    if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &len) == 0) {
        char* text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, len);
        if (text) identity.fingerprint = text;
        ssh_string_free_char(text);
        ssh_clean_pubkey_hash(&hash);
    }
    return identity;
}

bool check_server_key(const fs::path& known_hosts_file, std::string_view host, std::uint16_t port, ssh_key key,
                      const HostKeyCell& host_key) {
    HostKeyIdentity presented = host_key_identity_from_public_key(key);
    std::optional<HostKeyProblem> problem;
    auto store = known_hosts::load(known_hosts_file);
    if (!store) {
        problem = HostKeyStoreUnavailable{store.error()};
    } else {
        auto verdict = known_hosts::verify(*store, host, port, std::move(presented));
        if (std::holds_alternative<HostKeyTrusted>(verdict)) return true;
        if (auto* u = std::get_if<HostKeyUnknown>(&verdict)) {
            problem = std::move(*u);
        } else {
            problem = std::move(std::get<HostKeyChanged>(verdict));
        }
    }
    host_key->set(std::move(problem));
    return false;
}

namespace {

using Step = std::expected<void, std::string>;

std::unexpected<std::string> library_error(ssh_session s, std::string_view prefix = {}) {
    return std::unexpected(prefix.empty() ? std::string(ssh_get_error(s))
                                          : fmt::format("{}{}", prefix, ssh_get_error(s)));
}

// Our options for a session on the connected socket `sock`, which libssh owns once they are set.
bool set_options(ssh_session s, const SshSessionRequest& request, const std::string& numeric_host, int sock) {
    int no = 0;
    std::uint64_t rekey_bytes = kRekeyBytes;
    std::uint32_t rekey_seconds = kRekeySeconds;
    const std::string state_dir = request.known_hosts.parent_path().empty()
                                      ? "."
                                      : request.known_hosts.parent_path().string();
    bool ok = ssh_options_set(s, SSH_OPTIONS_PROCESS_CONFIG, &no) == SSH_OK &&
              ssh_options_set(s, SSH_OPTIONS_SSH_DIR, state_dir.c_str()) == SSH_OK &&
              ssh_options_set(s, SSH_OPTIONS_KNOWNHOSTS, kNoKnownHosts) == SSH_OK &&
              ssh_options_set(s, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, kNoKnownHosts) == SSH_OK &&
              ssh_options_set(s, SSH_OPTIONS_HOST, numeric_host.c_str()) == SSH_OK &&
              ssh_options_set(s, SSH_OPTIONS_USER, request.user.c_str()) == SSH_OK &&
              ssh_options_set(s, SSH_OPTIONS_REKEY_DATA, &rekey_bytes) == SSH_OK &&
              ssh_options_set(s, SSH_OPTIONS_REKEY_TIME, &rekey_seconds) == SSH_OK;
    int port = request.port;
    ok = ok && ssh_options_set(s, SSH_OPTIONS_PORT, &port) == SSH_OK;
    if (auto hostkeys = pinned_host_keys(request.known_hosts, request.host, request.port))
        ok = ok && ssh_options_set(s, SSH_OPTIONS_HOSTKEYS, hostkeys->c_str()) == SSH_OK;
    return ok && ssh_options_set(s, SSH_OPTIONS_FD, &sock) == SSH_OK;
}

// The phases of a connection attempt, as a time-out names them.
enum class Phase { Connect, KeyExchange, Authentication, Shell };

const char* phase_name(Phase phase) {
    switch (phase) {
        case Phase::Connect: return "connect";
        case Phase::KeyExchange: return "key exchange";
        case Phase::Authentication: return "authentication";
        case Phase::Shell: return "shell";
    }
    return "connect";
}

std::string duration_text(std::chrono::milliseconds d) {
    if (d.count() % 1000 == 0) return fmt::format("{} s", d.count() / 1000);
    return fmt::format("{} ms", d.count());
}

// The events libssh waits for on its socket.
short poll_events(ssh_session s) {
    return static_cast<short>(POLLIN | ((ssh_get_poll_flags(s) & SSH_WRITE_PENDING) ? POLLOUT : 0));
}

// One connection attempt, from the first address tried until the shell is open. Every wait in it
// is for the socket, the UI letting go of the session, or the attempt's deadline, whichever
// comes first; after either of the last two the attempt is over.
class Attempt {
public:
    Attempt(const WakeUp& wake, const Receiver<SshInput>& input, std::chrono::milliseconds bound)
        : wake_(wake), input_(input), bound_(bound), deadline_(std::chrono::steady_clock::now() + bound) {}

    void enter(Phase phase) { phase_ = phase; }
    bool dropped() const { return input_.is_closed(); }
    bool over() const { return !why_over_.empty() || dropped(); }
    // Why the attempt is over, when it did not end by the UI letting go.
    const std::string& why_over() const { return why_over_; }

    // Waits until `fd` is ready for `events`; false when the attempt is over first.
    bool wait(int fd, short events) {
        switch (wait_for_socket(fd, events, deadline_, GiveUp{&wake_, [this] { return dropped(); }})) {
            case Waited::Ready: return true;
            case Waited::GivenUp: return false;
            case Waited::TimedOut:
                why_over_ = fmt::format("SSH connection timed out after {} during {}", duration_text(bound_),
                                        phase_name(phase_));
                return false;
            case Waited::Failed: why_over_ = fmt::format("poll: {}", os_error(errno)); return false;
        }
        return false;
    }

    // Calls `call` until it answers other than `again`, waiting for the socket in between; that
    // answer, or nothing when the attempt is over first.
    template <typename F>
    std::optional<int> drive(ssh_session s, int again, F call) {
        for (;;) {
            const int rc = call();
            if (rc != again) return rc;
            if (!wait(ssh_get_fd(s), poll_events(s))) return std::nullopt;
        }
    }

private:
    const WakeUp& wake_;
    const Receiver<SshInput>& input_;
    std::chrono::milliseconds bound_;
    std::chrono::steady_clock::time_point deadline_;
    Phase phase_ = Phase::Connect;
    std::string why_over_;
};

// A connected session and its socket.
struct Connection {
    Session session;
    SocketId socket;
};

// Connects to the server and exchanges keys; the key check that libssh leaves to us follows.
// A host-key problem already in the cell is the error of a failed exchange.
std::expected<Connection, std::string> connect(const SshSessionRequest& request, const HostKeyCell& host_key,
                                               Attempt& attempt) {
    attempt.enter(Phase::Connect);
    // Nagle stays on for SSH connections.
    TcpOptions options;
    options.wait = [&](int fd, short events) { return attempt.wait(fd, events); };
    auto tcp = connect_tcp(request.host, request.port, options);
    if (!tcp) {
        if (attempt.over()) return std::unexpected(attempt.why_over());
        return std::unexpected(fmt::format("connect: {}", tcp.error().text("could not resolve to any address")));
    }
    const std::string numeric_host = tcp->address.empty() ? request.host : tcp->address;
    const auto socket = socket_id(tcp->fd.get());
    Session session(ssh_new());
    if (!session || !socket) return std::unexpected("connect: could not create an SSH session");
    ssh_session s = session.get();
    if (!set_options(s, request, numeric_host, tcp->fd.get())) return library_error(s, "connect: ");
    tcp->fd.release();  // libssh closes it with the session
    ssh_set_blocking(s, 0);

    attempt.enter(Phase::KeyExchange);
    const auto rc = attempt.drive(s, SSH_AGAIN, [&] { return ssh_connect(s); });
    if (!rc) return std::unexpected(attempt.why_over());
    if (*rc != SSH_OK) {
        if (auto problem = host_key->get()) return std::unexpected(message(*problem, request.host, request.port));
        return library_error(s, "connect: ");
    }
    return Connection{std::move(session), *socket};
}

// Judges the server's host key by our store before anything else is sent; a key that is not
// trusted ends the connection with its problem.
Step verify_host_key(const Connection& connection, const SshSessionRequest& request, const HostKeyCell& host_key) {
    ssh_session s = connection.session.get();
    ssh_key raw = nullptr;
    if (ssh_get_server_publickey(s, &raw) != SSH_OK) return library_error(s, "connect: ");
    Key server_key(raw);
    if (check_server_key(request.known_hosts, request.host, request.port, server_key.get(), host_key)) return {};
    disconnect(s, connection.socket);
    return std::unexpected(message(*host_key->get(), request.host, request.port));
}

// Authenticates exactly once, with the key or the password of the request.
Step authenticate(ssh_session s, const SshSessionRequest& request, Attempt& attempt) {
    attempt.enter(Phase::Authentication);
    std::optional<int> auth;
    if (auto* key_credentials = std::get_if<SshKeyCredentials>(&request.credentials)) {
        ssh_key raw = nullptr;
        t_last_log.clear();
        const char* passphrase = key_credentials->passphrase ? key_credentials->passphrase->c_str() : nullptr;
        int rc = ssh_pki_import_privkey_file(key_credentials->path.c_str(), passphrase, nullptr, nullptr, &raw);
        if (rc != SSH_OK) {
            std::string why = t_last_log.empty() ? std::string("could not read the private key") : t_last_log;
            if (rc == SSH_EOF && t_last_log.empty()) why = "No such file or directory";
            return std::unexpected(fmt::format("load key {}: {}", key_credentials->path.string(), why));
        }
        Key key(raw);
        auth = attempt.drive(s, SSH_AUTH_AGAIN, [&] { return ssh_userauth_publickey(s, request.user.c_str(), key.get()); });
    } else {
        const auto& password = std::get<SshPasswordCredentials>(request.credentials).password;
        auth = attempt.drive(s, SSH_AUTH_AGAIN,
                             [&] { return ssh_userauth_password(s, request.user.c_str(), password.c_str()); });
    }
    if (!auth) return std::unexpected(attempt.why_over());
    if (*auth == SSH_AUTH_ERROR) return library_error(s);
    if (*auth != SSH_AUTH_SUCCESS) return std::unexpected("Authentication failed");
    return {};
}

// Opens a session channel, watched by `arrivals`, with a pseudo-terminal and a shell.
std::expected<Channel, std::string> open_shell(ssh_session s, const SshSessionRequest& request,
                                               ChannelArrivals& arrivals, Attempt& attempt) {
    attempt.enter(Phase::Shell);
    Channel channel(ssh_channel_new(s));
    if (!channel) return library_error(s);
    ssh_channel ch = channel.get();
    arrivals.watch(ch);
    for (const auto& step : std::initializer_list<std::function<int()>>{
             [&] { return ssh_channel_open_session(ch); },
             [&] { return ssh_channel_request_pty_size(ch, "xterm-256color", request.cols, request.rows); },
             [&] { return ssh_channel_request_shell(ch); }}) {
        const auto rc = attempt.drive(s, SSH_AGAIN, step);
        if (!rc) return std::unexpected(attempt.why_over());
        if (*rc != SSH_OK) return library_error(s);
    }
    return channel;
}

// Authenticates, then opens the shell.
std::expected<Channel, std::string> log_in(ssh_session s, const SshSessionRequest& request, ChannelArrivals& arrivals,
                                           Attempt& attempt) {
    if (auto ok = authenticate(s, request, attempt); !ok) return std::unexpected(std::move(ok.error()));
    return open_shell(s, request, arrivals, attempt);
}

// The session loop: server output to the UI, UI input to the server, until either side ends,
// the connection has been silent for an hour, or something fails.
class Pump {
public:
    Pump(ssh_session s, ssh_channel ch, ChannelArrivals& arrivals, const WakeUp& wake, Sender<SshChunk>& output,
         Receiver<SshInput>& input)
        : s_(s), ch_(ch), arrivals_(arrivals), wake_(wake), output_(output), input_(input) {}

    Step run() {
        auto last_activity = std::chrono::steady_clock::now();
        for (;;) {
            arrivals_.any = false;
            bool progressed = false;
            // Whichever side goes first is chosen by a coin, so that neither starves the other.
            bool output_first = coin_() & 1;
            std::expected<bool, std::string> go = true;
            for (int branch = 0; branch < 2 && go && *go; ++branch)
                go = (branch == 0) == output_first ? read_output(progressed) : write_input(progressed);
            if (!go) return std::unexpected(std::move(go.error()));
            if (!*go) return {};
            if (progressed) {
                last_activity = std::chrono::steady_clock::now();
                continue;
            }
            // Reading one stream may have taken the other's data off the socket, as may writing.
            if (arrivals_.any) continue;
            const auto now = std::chrono::steady_clock::now();
            if (now - last_activity >= kInactivityTimeout) return {};
            // The server takes nothing more: once the UI has let go, the input it queued before
            // gets a short while, then what is left is dropped.
            if (!let_go_by_ && input_.is_closed()) let_go_by_ = now + kLastInputGrace;
            if (let_go_by_ && now >= *let_go_by_) {
                ssh_channel_send_eof(ch_);
                return {};
            }
            if (auto waited = wait(); !waited) return waited;
        }
    }

private:
    // Moves what the server sent into the output channel; false when the loop should end.
    std::expected<bool, std::string> read_output(bool& progressed) {
        bool eof = false;
        // Both streams are drained before an end of file ends the loop.
        for (int is_stderr = 0; is_stderr < 2; ++is_stderr) {
            for (;;) {
                int n = ssh_channel_read_nonblocking(ch_, buffer_.data(), buffer_.size(), is_stderr);
                if (n == SSH_EOF) {
                    eof = true;
                    break;
                }
                if (n == SSH_ERROR) {
                    if (!ssh_is_connected(s_) || ssh_channel_is_closed(ch_)) return false;
                    return library_error(s_);
                }
                if (n == 0) break;
                progressed = true;
                if (!output_.send(SshChunk(buffer_.begin(), buffer_.begin() + n))) return false;
            }
        }
        return !(eof || ssh_channel_is_eof(ch_) || ssh_channel_is_closed(ch_) || !ssh_is_connected(s_));
    }

    // Hands queued input to libssh, acknowledging each input that asks; false when the loop
    // should end.
    std::expected<bool, std::string> write_input(bool& progressed) {
        for (;;) {
            if (!pending_) {
                if (input_closed_) return false;
                auto next = input_.try_recv();
                if (!next) {
                    if (next.error() == RecvError::Closed) {
                        input_closed_ = true;
                        ssh_channel_send_eof(ch_);
                        return false;
                    }
                    return true;
                }
                pending_ = PendingInput{std::move(*next), 0};
            }
            const std::string& text = pending_->input.text;
            int n = ssh_channel_write(ch_, text.data() + pending_->offset,
                                      static_cast<std::uint32_t>(text.size() - pending_->offset));
            if (n == SSH_ERROR) {
                std::string error = ssh_get_error(s_);
                if (pending_->input.ack) (void)pending_->input.ack->try_send(std::unexpected(error));
                return std::unexpected(error);
            }
            if (n > 0) progressed = true;
            pending_->offset += static_cast<std::size_t>(n);
            if (pending_->offset < text.size()) return true;  // the window is full; finish later
            if (pending_->input.ack) (void)pending_->input.ack->try_send(SshAck{});
            pending_.reset();
        }
    }

    // Nothing to do: waits for the server, for room to write, or for input, a second at most.
    Step wait() {
        const int timeout = let_go_by_ ? poll_timeout(*let_go_by_, 1000) : 1000;
        std::array<pollfd, 2> fds{{{ssh_get_fd(s_), poll_events(s_), 0}, {wake_.fd.get(), POLLIN, 0}}};
        int r = ::poll(fds.data(), fds.size(), timeout);
        if (r < 0 && errno != EINTR) return std::unexpected(fmt::format("poll: {}", os_error(errno)));
        if (fds[1].revents & POLLIN) wake_.drain();
        return {};
    }

    ssh_session s_;
    ssh_channel ch_;
    ChannelArrivals& arrivals_;
    const WakeUp& wake_;
    Sender<SshChunk>& output_;
    Receiver<SshInput>& input_;
    std::minstd_rand coin_{std::random_device{}()};
    std::optional<PendingInput> pending_;
    bool input_closed_ = false;
    // Set once the UI has let go: the input it queued before is written until then at most.
    std::optional<std::chrono::steady_clock::time_point> let_go_by_;
    std::array<std::uint8_t, kReadSize> buffer_;
};

}  // namespace

std::expected<void, std::string> run_ssh_session(SshSessionRequest request, const SharedCellPtr<SessionStatus>& status,
                                                 const HostKeyCell& host_key, Sender<SshChunk>& output,
                                                 Receiver<SshInput>& input) {
    auto wake = std::make_shared<WakeUp>();
    if (!wake->fd) return std::unexpected(fmt::format("runtime: {}", os_error(errno)));
    input.set_listener([wake] { wake->notify(); });
    Attempt attempt(*wake, input, request.connect_timeout);
    // Once the UI has let go, nobody reads the status: the attempt just ends.
    const auto unless_dropped = [&](Step step) { return attempt.dropped() ? Step{} : step; };

    ChannelArrivals arrivals;  // outlives the channel, which libssh may free late
    auto connection = connect(request, host_key, attempt);
    if (!connection) return unless_dropped(std::unexpected(std::move(connection.error())));
    ssh_session s = connection->session.get();
    if (auto ok = verify_host_key(*connection, request, host_key); !ok) return ok;
    auto channel = log_in(s, request, arrivals, attempt);
    if (!channel) {
        disconnect(s, connection->socket);
        return unless_dropped(std::unexpected(std::move(channel.error())));
    }
    status->set(SessionStatus::connected());

    Step result = Pump(s, channel->get(), arrivals, *wake, output, input).run();

    input.set_listener(nullptr);
    arrivals.stop_watching(channel->get());
    // ssh_disconnect frees the session's channels: let go of ours first.
    channel->reset();
    disconnect(s, connection->socket);
    if (result) set_status_connected_to_ended(status);
    return result;
}

void run_ssh_session_thread(SshSessionRequest request, SharedCellPtr<SessionStatus> status, HostKeyCell host_key,
                            Sender<SshChunk> output, Receiver<SshInput> input) {
    // This thread's OpenSSL state goes when the session does, however it ends, not in a
    // thread-exit handler that could run while a quitting program cleans OpenSSL up.
    struct StopOpenSsl {
        ~StopOpenSsl() { OPENSSL_thread_stop(); }
    } stop_openssl;
    set_up_logging();
    const std::string target = fmt::format("{}:{}", request.host, request.port);
    auto result = run_ssh_session(std::move(request), status, host_key, output, input);
    if (!result) {
        // A key not trusted yet is every first connection's step, not a fault: the window asks.
        const auto problem = host_key->get();
        const bool untrusted = problem && std::holds_alternative<HostKeyUnknown>(*problem);
        spdlog::log(untrusted ? spdlog::level::info : spdlog::level::warn, "SSH session to {} failed: {}", target,
                    result.error());
        fail_ssh_session(*status, std::move(result.error()));
    }
}

void fail_ssh_session(SharedCell<SessionStatus>& status, std::string error) {
    status.with([&](SessionStatus& s) {
        if (s.kind != SessionStatus::Kind::Failed) s = SessionStatus::failed(std::move(error));
    });
}

}  // namespace remote
