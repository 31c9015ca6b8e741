#include "app/remote_app.hpp"
#include "codecs/codecs.hpp"
#include "known_hosts/known_hosts.hpp"
#include "profiles/connection_list.hpp"
#include "shared/overloaded.hpp"

namespace remote::app {
namespace {

using zavo_actions::action::EncodedAction;
using zavo_ui::operation::Completion;
using zavo_ui::operation::OperationId;
using zavo_ui::operation::PollOutcome;
using zavo_ui::operation::RunFailure;
using zavo_ui::operation::RunOutcome;
using zavo_ui::operation::RunResult;
using zavo_ui::operation::StartOutcome;
namespace start = zavo_ui::operation::start;
namespace poll = zavo_ui::operation::poll;

constexpr auto kSessionKind = static_cast<std::uint8_t>(OperationKind::Session);

constexpr std::string_view kMissingConnection = "saved connection no longer exists";
constexpr std::string_view kSessionInactive = "that remote session is no longer active";
constexpr std::string_view kNeedsTerminal = "text input requires a connected SSH terminal";

RunOutcome failure(std::string_view message) { return RunFailure{std::string(message)}; }
RunOutcome handled() { return RunResult{true}; }

poll::Failed poll_failure(std::string_view code, std::string message, const OperationId& id) {
    return poll::Failed{std::string(code), std::move(message), id, std::nullopt, false};
}

constexpr std::string_view kStorageUnavailable = "private SSH host-key storage is unavailable: {}";

// The connected SSH terminal of the live session of `id`; else why text cannot go there.
std::expected<SshSession*, std::string_view> connected_terminal(RemoteApp& app, const Uuid& id) {
    if (app.session.target() != id) return std::unexpected(kSessionInactive);
    SshSession* ssh = app.session.connected_ssh();
    if (ssh == nullptr) return std::unexpected(kNeedsTerminal);
    return ssh;
}

StartOutcome start_connect(RemoteApp& app, const OperationId& operation_id, const Uuid& id) {
    const SavedConnection* record = find_connection(app.connections, id);
    if (record == nullptr) return start::Refused{std::string(kMissingConnection)};
    const ConnectionReadiness readiness = record->readiness();
    if (readiness != ConnectionReadiness::Ready)
        return start::Refused{std::string(record->readiness_reason(readiness))};
    app.start_session(id);
    const auto started = app.session.status();
    if (!started) return start::Refused{"remote transport did not start"};
    const SessionStatus& status = *started;
    switch (status.kind) {
        case SessionStatus::Kind::Ended: return start::Refused{"remote transport did not start"};
        case SessionStatus::Kind::Unavailable:
        case SessionStatus::Kind::Failed: return start::Refused{status.text};
        case SessionStatus::Kind::Connected: return start::Completed{Completion{}};
        case SessionStatus::Kind::Connecting: break;
    }
    app.pending_operation.state = PendingOperation::Connect{operation_id, id, app.session.counter()};
    return start::Pending{};
}

StartOutcome start_send_text(RemoteApp& app, const OperationId& operation_id, const RemoteOperation::SendText& send) {
    auto ssh = connected_terminal(app, send.connection_id);
    if (!ssh) return start::Refused{std::string(ssh.error())};
    auto ack = (*ssh)->send_text_acknowledged(send.text);
    if (!ack) return start::Refused{std::move(ack.error())};
    app.pending_operation.state = PendingOperation::SendText{std::move(*ack), operation_id, send.connection_id,
                                                             app.session.counter()};
    return start::Pending{};
}

// Runs a decoded operation to its end.
RunOutcome run(RemoteApp& app, const RemoteOperation& operation) {
    // View commands change only what the window shows; whatever they would dispatch is dropped.
    auto execute_view = [&app](const UiCommand& command) { app.execute(command, nullptr); };

    return std::visit(
        Overloaded{
            [&](const RemoteOperation::ShowConnections&) {
                execute_view(UiCommand::plain(UiCommand::Kind::ShowConnections));
                return handled();
            },
            [&](const RemoteOperation::NewConnectionForm&) {
                execute_view(UiCommand::plain(UiCommand::Kind::NewConnectionForm));
                return handled();
            },
            [&](const RemoteOperation::EditConnection& edit) {
                if (find_connection(app.connections, edit.connection_id) == nullptr) return failure(kMissingConnection);
                execute_view(UiCommand::with_id(UiCommand::Kind::EditConnection, edit.connection_id));
                return handled();
            },
            [&](const RemoteOperation::Connect& connect) {
                if (find_connection(app.connections, connect.connection_id) == nullptr)
                    return failure(kMissingConnection);
                app.start_session(connect.connection_id);
                return handled();
            },
            [&](const RemoteOperation::Disconnect& disconnect) {
                if (app.session.target() != disconnect.connection_id) return failure(kSessionInactive);
                app.end_session();
                return handled();
            },
            [&](const RemoteOperation::SendText& send) {
                auto ssh = connected_terminal(app, send.connection_id);
                if (!ssh) return failure(ssh.error());
                if (auto sent = (*ssh)->send_text(send.text); !sent) return failure(sent.error());
                app.redraw_needed = true;
                return handled();
            },
            [&](const RemoteOperation::TrustSshHostKey& trust) {
                const SavedConnection* record = find_connection(app.connections, trust.connection_id);
                if (record == nullptr) return failure(kMissingConnection);
                if (auto trusted = app.session.trust_host_key(*record, trust.observed); !trusted)
                    return failure(trusted.error().text(
                        "the observed SSH host key is stale; reconnect to inspect the current key", kStorageUnavailable,
                        "could not save SSH host-key trust: {}"));
                app.start_session(trust.connection_id);
                return handled();
            },
            [&](const RemoteOperation::ForgetSshHostKey& forget) {
                const SavedConnection* record = find_connection(app.connections, forget.connection_id);
                if (record == nullptr) return failure(kMissingConnection);
                if (auto removed = app.session.forget_host_key(*record); !removed)
                    return failure(removed.error().text("only the currently observed changed SSH host key can be forgotten",
                                                        kStorageUnavailable, "could not forget SSH host-key trust: {}"));
                app.end_session();
                return handled();
            },
        },
        operation.value);
}

}  // namespace

std::vector<std::string> RemoteApp::operation_types() { return {std::string(kRemoteOperationType)}; }

StartOutcome RemoteApp::start_operation(const OperationId& operation_id, std::uint8_t kind, const EncodedAction& op) {
    if (kind != kSessionKind) return start::NotHandled{};
    auto decoded = decode_remote_operation(op);
    if (!decoded) return start::NotHandled{};
    if (!*decoded) return start::Refused{decoded->error()};
    if (!pending_operation.is_idle()) return start::Refused{"another remote operation is still running"};
    const RemoteOperation& operation = **decoded;
    if (operation.kind() == OperationKind::View) return start::Refused{"view operations do not start background work"};
    if (const auto* connect = std::get_if<RemoteOperation::Connect>(&operation.value))
        return start_connect(*this, operation_id, connect->connection_id);
    if (const auto* send = std::get_if<RemoteOperation::SendText>(&operation.value))
        return start_send_text(*this, operation_id, *send);
    // Disconnect and the host-key operations finish at once.
    return zavo_ui::operation::adapt_run(run(*this, operation));
}

RunOutcome RemoteApp::run_operation(std::uint8_t kind, const EncodedAction& op) {
    if (kind == static_cast<std::uint8_t>(OperationKind::None)) return RunResult{false};
    auto decoded = decode_remote_operation(op);
    if (!decoded) return RunResult{false};
    if (!*decoded) return RunFailure{decoded->error()};
    const RemoteOperation& operation = **decoded;
    if (static_cast<std::uint8_t>(operation.kind()) != kind)
        return failure("remote operation kind does not match its declared contract");
    return run(*this, operation);
}

PollOutcome RemoteApp::poll_operation(const OperationId& operation_id, bool cancel) {
    // Whether the session the operation started on was replaced or ended since.
    auto replaced = [this](const Uuid& connection_id, std::uint64_t counter) {
        return session.target() != connection_id || session.counter() != counter;
    };
    PollOutcome outcome = std::visit(
        Overloaded{
            [](PendingOperation::Idle&) -> PollOutcome { return poll::Pending{}; },
            [&](PendingOperation::Connect& connect) -> PollOutcome {
                if (connect.operation_id != operation_id) return poll::Pending{};
                if (cancel) {
                    if (!replaced(connect.connection_id, connect.session_counter)) end_session();
                    return poll::Cancelled{"remote connection attempt cancelled", operation_id};
                }
                if (replaced(connect.connection_id, connect.session_counter))
                    return poll_failure("remote.session_replaced",
                                        "the connection attempt was superseded by a newer session", operation_id);
                const SessionStatus status = session.status().value_or(SessionStatus::ended());
                switch (status.kind) {
                    case SessionStatus::Kind::Connecting: return poll::Pending{};
                    case SessionStatus::Kind::Connected: return poll::Completed{Completion{}, operation_id};
                    case SessionStatus::Kind::Ended:
                        return poll_failure("remote.connection_closed",
                                            "remote connection closed before it became ready", operation_id);
                    case SessionStatus::Kind::Unavailable:
                        return poll_failure("remote.transport_unavailable", status.text, operation_id);
                    case SessionStatus::Kind::Failed:
                        return poll_failure("remote.connect_failed", status.text, operation_id);
                }
                return poll::Pending{};
            },
            [&](PendingOperation::SendText& send) -> PollOutcome {
                if (send.operation_id != operation_id) return poll::Pending{};
                if (replaced(send.connection_id, send.session_counter))
                    return poll_failure("remote.session_replaced",
                                        "the SSH session ended before input delivery was acknowledged", operation_id);
                auto reply = send.ack.try_recv();
                if (reply) {
                    if (*reply) return poll::Completed{Completion{}, operation_id};
                    return poll_failure("remote.input_failed", std::move(reply->error()), operation_id);
                }
                if (reply.error() == RecvError::Empty) return poll::Pending{};
                return poll_failure("remote.input_worker_lost", "remote input worker stopped before acknowledgement",
                                    operation_id);
            },
        },
        pending_operation.state);
    if (!std::holds_alternative<poll::Pending>(outcome)) pending_operation.state = PendingOperation::Idle{};
    return outcome;
}

}  // namespace remote::app
