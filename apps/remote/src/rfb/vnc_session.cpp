#include "rfb/vnc_session.hpp"

#include "rfb/big_endian.hpp"

#include <poll.h>

#include <cerrno>
#include <system_error>

#include <fmt/format.h>

#include "worker_threads/worker_threads.hpp"

namespace remote::rfb {

namespace {

using Clock = std::chrono::steady_clock;

void publish(const FrameCell& frame, const Framebuffer& fb) {
    std::optional<Framebuffer> snapshot(fb);
    frame->with([&](std::optional<Framebuffer>& cell) { cell.swap(snapshot); });
    // the previous snapshot is released here, outside the lock
}

template <std::size_t N>
Result<void> send(Stream& stream, const std::array<std::uint8_t, N>& bytes) {
    return write_all(stream, bytes);
}

Result<void> send_input(Stream& stream, const VncInput& input) {
    if (const auto* p = std::get_if<VncInput::Pointer>(&input.event))
        return send(stream, pointer_event_message(p->buttons, p->x, p->y));
    const auto& k = std::get<VncInput::Key>(input.event);
    return send(stream, key_event_message(k.down, k.keysym));
}

Result<void> session(const std::string& host, std::uint16_t port, const std::optional<std::string>& password,
                     Receiver<VncInput>& input, const StatusCell& status, const FrameCell& frame,
                     const GiveUp& give_up) {
    auto fd = connect_tcp(host, port, give_up);
    if (!fd) return std::unexpected(std::move(fd.error()));
    SocketStream stream(std::move(*fd), give_up);
    stream.set_read_timeout(IO_STALL_TIMEOUT);
    stream.set_write_timeout(IO_STALL_TIMEOUT);

    auto hs = run_handshake(stream, password);
    if (!hs) return std::unexpected(std::move(hs.error()));
    if (auto r = send(stream, set_pixel_format_message(CLIENT_PIXEL_FORMAT)); !r) return r;
    if (auto r = write_all(stream, set_encodings_message(CLIENT_ENCODINGS)); !r) return r;

    const std::uint16_t width = hs->server_init.width;
    const std::uint16_t height = hs->server_init.height;
    Framebuffer fb(width, height);
    if (auto r = send(stream, framebuffer_update_request_message(false, 0, 0, width, height)); !r) return r;
    status->set(SessionStatus::connected());
    publish(frame, fb);
    auto last_request = Clock::now();
    // What ends a wait for the server's next message early: input to send, or the session let go.
    const GiveUp input_or_let_go{give_up.wake, [&input] { return input.len() > 0 || input.is_closed(); }};

    for (;;) {
        // Every queued event goes out before the next server message is read.
        for (;;) {
            auto event = input.try_recv();
            if (event) {
                if (auto r = send_input(stream, *event); !r) return r;
                continue;
            }
            if (event.error() == RecvError::Closed) return {};
            break;
        }

        if (!stream.has_buffered()) {
            // The server is silent until it speaks, input comes, or the next request is due.
            switch (wait_for_socket(stream.fd(), POLLIN, last_request + UPDATE_REQUEST_INTERVAL, input_or_let_go)) {
                case Waited::Ready: break;
                case Waited::GivenUp: continue;
                case Waited::TimedOut:
                    if (auto r = send(stream, framebuffer_update_request_message(true, 0, 0, width, height)); !r)
                        return r;
                    last_request = Clock::now();
                    continue;
                case Waited::Failed: return std::unexpected(os_error(errno));
            }
        }
        auto head = stream.fill_buf();
        if (!head) return std::unexpected(std::move(head.error()));
        if (head->empty()) return fail(ErrorKind::UnexpectedEof, "failed to fill whole buffer");
        const std::uint8_t type = (*head)[0];
        stream.consume(1);

        auto handled = handle_server_message(stream, type, fb);
        if (!handled) return std::unexpected(std::move(handled.error()));
        if (*handled) {
            publish(frame, fb);
            if (auto r = send(stream, framebuffer_update_request_message(true, 0, 0, width, height)); !r) return r;
            last_request = Clock::now();
        }
    }
}

void record_failure(const StatusCell& status, const StreamError& error) {
    status->with([&](SessionStatus& s) {
        if (s.kind == SessionStatus::Kind::Failed) return;
        if (error.kind == ErrorKind::UnexpectedEof && s.kind == SessionStatus::Kind::Connected) {
            s = SessionStatus::ended();
            return;
        }
        switch (error.kind) {
            case ErrorKind::ConnectionRefused: s = SessionStatus::failed("Connection refused"); break;
            case ErrorKind::TimedOut: s = SessionStatus::failed("Connection timed out"); break;
            default: s = SessionStatus::failed(error.message);
        }
    });
}

}  // namespace

Result<bool> handle_server_message(Stream& stream, std::uint8_t type, Framebuffer& fb) {
    switch (type) {
        case 0:  // FramebufferUpdate
            if (auto r = read_framebuffer_update(stream, fb, CLIENT_PIXEL_FORMAT); !r)
                return std::unexpected(std::move(r.error()));
            return true;
        case 1: {  // SetColourMapEntries
            std::uint8_t b[5];
            if (auto r = read_exact(stream, b); !r) return std::unexpected(std::move(r.error()));
            const std::uint32_t colours = get_u16(&b[3]);
            if (auto r = skip_exact(stream, std::uint64_t{colours} * 6); !r)
                return std::unexpected(std::move(r.error()));
            return false;
        }
        case 2:  // Bell
            return false;
        case 3: {  // ServerCutText: read and dropped
            std::uint8_t b[7];
            if (auto r = read_exact(stream, b); !r) return std::unexpected(std::move(r.error()));
            const std::uint32_t len = get_u32(&b[3]);
            if (auto r = skip_exact(stream, len); !r) return std::unexpected(std::move(r.error()));
            return false;
        }
        default: return invalid_data(fmt::format("unknown server message {}", type));
    }
}

VncShared::VncShared(Sender<VncInput> input, StatusCell status, FrameCell frame)
    : input_(std::move(input)), status_(std::move(status)), frame_(std::move(frame)) {}

std::expected<void, std::string> VncShared::send_input(VncInput input) {
    auto r = input_.try_send(std::move(input));
    if (r) return {};
    if (r.error() == SendError::Full)
        return std::unexpected("VNC input is busy; wait for the remote desktop to catch up");
    return std::unexpected("VNC session input channel is closed");
}

std::optional<Framebuffer> VncShared::take_new_frame() {
    std::optional<Framebuffer> snapshot = frame_->get();
    if (!snapshot || shown_generation_ == snapshot->generation) return std::nullopt;
    shown_generation_ = snapshot->generation;
    return snapshot;
}

std::optional<std::pair<std::uint16_t, std::uint16_t>> VncShared::framebuffer_size() const {
    return frame_->with(
        [](const std::optional<Framebuffer>& fb) -> std::optional<std::pair<std::uint16_t, std::uint16_t>> {
            if (!fb) return std::nullopt;
            return std::pair{fb->width, fb->height};
        });
}

SessionStatus VncShared::status() const { return status_->get(); }

void run_vnc_session(const std::string& host, std::uint16_t port, const std::optional<std::string>& password,
                     Receiver<VncInput> input, StatusCell status, FrameCell frame) {
    // The UI letting go of the session ends any wait on the server at once.
    auto wake = std::make_shared<WakeUp>();
    input.set_listener([wake] { wake->notify(); });
    const GiveUp give_up{wake.get(), [&input] { return input.is_closed(); }};
    Result<void> result = session(host, port, password, input, status, frame, give_up);
    const bool let_go = input.is_closed();
    input.close();  // senders see the worker gone before they see its status
    if (!result && !let_go) record_failure(status, result.error());
}

std::expected<VncShared, std::string> start_vnc_session(const std::string& host, std::uint16_t port,
                                                        std::optional<std::string> password) {
    auto status = make_shared_cell<SessionStatus>(SessionStatus::connecting());
    auto frame = make_shared_cell<std::optional<Framebuffer>>(std::nullopt);
    auto [tx, rx] = make_bounded_channel<VncInput>(VNC_INPUT_CAPACITY);
    try {
        worker_threads::spawn(
            "remote-vnc",
            [host, port, password = std::move(password), rx = std::move(rx), status, frame]() mutable {
                run_vnc_session(host, port, password, std::move(rx), std::move(status), std::move(frame));
            },
            [status](std::string_view what) {
                record_failure(status, StreamError{ErrorKind::Other, std::string(what)});
            });
    } catch (const std::system_error& e) {
        return std::unexpected(std::string(e.what()));
    }
    return VncShared(std::move(tx), std::move(status), std::move(frame));
}

}  // namespace remote::rfb
