#include "device/device_session.hpp"

#include <fmt/format.h>

#include <limits>
#include <system_error>
#include <type_traits>

#include "relay_key/relay_key.hpp"
#include "worker_threads/worker_threads.hpp"
#include "zavo_callstream/decoder.hpp"

namespace remote {

std::string disconnect_reason_text(const DisconnectReason& reason) {
    using Kind = DisconnectReason::Kind;
    switch (reason.kind) {
        case Kind::Other: return reason.text;
        case Kind::ControlRevoked: return "Target revoked workspace control";
        case Kind::TargetDisconnected: return "Target disconnected";
        case Kind::RelayDisconnected: return "Encrypted relay disconnected";
        case Kind::ControlClosed: return "Workspace control closed";
    }
    return reason.text;
}

void run_frame_decoder(Receiver<DecoderWake> wake, PendingFrameCell pending_frame, DecodedFrameCell decoded_frame,
                       DecoderAliveFlag decoder_alive, PictureStateCell picture_state) {
    zavo_callstream::decoder::H264Decoder decoder;
    // However the loop ends, by the session letting go or by an error (out of memory while
    // decoding), the decoder is marked stopped and its queue closed before the decoder goes:
    // the session's next frame then fails at once.
    struct Stopped {
        Receiver<DecoderWake>& wake;
        DecoderAliveFlag& alive;
        ~Stopped() {
            alive->store(false, std::memory_order_release);
            wake.close();
        }
    } stopped{wake, decoder_alive};
    bool skipped = false;  // the last frame decoded became no picture
    while (wake.recv()) {
        std::optional<DecodedFrame> picture;
        if (auto bytes = pending_frame->take()) {
            PictureState seen = picture_state->load(std::memory_order_acquire);
            const bool wanted = seen == PictureState::Wanted;
            picture = decoder.decode(*bytes, wanted);
            skipped = !wanted;
            if (!wanted) {
                decoded_frame->take();  // unclaimed, and older than the frame just decoded
                // Nobody asked, unless the UI did while the frame was decoded: it gets this one.
                if (!picture_state->compare_exchange_strong(seen, PictureState::Skipped)) {
                    picture = decoder.last_picture();
                    skipped = false;
                }
            }
        } else if (skipped && picture_state->load(std::memory_order_acquire) == PictureState::Wanted) {
            picture = decoder.last_picture();
            skipped = false;
        }
        if (!picture) continue;  // one still wanted is made from the next frame
        picture_state->store(PictureState::Given, std::memory_order_release);
        decoded_frame->set(std::move(picture));
    }
}

namespace detail {

void spawn_named_decoder_thread(std::function<void()> body) {
    // A decoder that fails has marked itself stopped on the way out; its session fails at its
    // next frame.
    worker_threads::spawn("remote-zavo-decode", std::move(body), [](std::string_view) {});
}

std::expected<DeviceSession, std::string> start_device_session(std::string_view host,
                                                               std::uint64_t& device_session_counter,
                                                               std::vector<DeviceRequest>& device_requests,
                                                               const DecoderSpawner& spawn) {
    auto endpoint = relay_key::PublicKey::from_str(host);
    if (!endpoint) return std::unexpected("Zavo host must be an exact certified device endpoint id");

    const std::uint64_t session_id = device_session_counter;
    if (device_session_counter < std::numeric_limits<std::uint64_t>::max()) ++device_session_counter;
    device_requests.push_back(DeviceRequest::connect(*endpoint, session_id));

    auto [sender, receiver] = make_bounded_channel<DecoderWake>(DEVICE_WAKE_CAPACITY);
    DeviceSession session;
    session.session_id = session_id;

    auto receiver_box = std::make_shared<Receiver<DecoderWake>>(std::move(receiver));
    try {
        spawn(
            [receiver_box, pending = session.pending_frame, decoded = session.decoded_frame,
             alive = session.decoder_alive, state = session.picture_state] {
                run_frame_decoder(std::move(*receiver_box), pending, decoded, alive, state);
            });
    } catch (const std::system_error& e) {
        // No session will ever hold this id: tell the relay to drop the Connect.
        device_requests.push_back(DeviceRequest::disconnect(session_id));
        return std::unexpected(fmt::format("could not start Zavo frame decoder: {}", e.code().message()));
    }
    session.wake = std::move(sender);
    return session;
}

}  // namespace detail

std::expected<DeviceSession, std::string> start_device_session(std::string_view host,
                                                               std::uint64_t& device_session_counter,
                                                               std::vector<DeviceRequest>& device_requests) {
    return detail::start_device_session(host, device_session_counter, device_requests,
                                        detail::spawn_named_decoder_thread);
}

bool apply_device_event(DeviceSession& session, const DeviceEvent& event) {
    if (event.session_id != session.session_id) return false;
    std::visit(
        [&](const auto& e) {
            using T = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<T, DeviceEvent::Pending>) {
                session.status = SessionStatus::connecting();
            } else if constexpr (std::is_same_v<T, DeviceEvent::Connected>) {
                session.frame_size = std::pair{e.width, e.height};
                session.status = SessionStatus::connected();
            } else if constexpr (std::is_same_v<T, DeviceEvent::Frame>) {
                if (!session.decoder_alive->load(std::memory_order_acquire)) {
                    session.status = SessionStatus::failed("Zavo frame decoder is unavailable");
                    return;
                }
                // An older frame the decoder has not taken is dropped: the newest wins.
                session.pending_frame->set(e.bytes);
                auto sent = session.wake.try_send(DecoderWake{});
                if (!sent && sent.error() == SendError::Closed) {
                    session.decoder_alive->store(false, std::memory_order_release);
                    session.status = SessionStatus::failed("Zavo frame decoder stopped");
                }
            } else {
                session.status = SessionStatus::failed(disconnect_reason_text(e.reason));
            }
        },
        event.value);
    return true;
}

std::optional<DecodedFrame> take_decoded_frame(DeviceSession& session) {
    auto picture = session.decoded_frame->take();
    if (picture) session.frame_size = std::pair{picture->width, picture->height};
    if (session.picture_state->exchange(PictureState::Wanted, std::memory_order_acq_rel) == PictureState::Skipped)
        (void)session.wake.try_send(DecoderWake{});
    return picture;
}

zavo_ui::Image decoded_frame_image(DecodedFrame&& frame) {
    return zavo_ui::Image::from_shared(std::move(frame.rgba).shared(), frame.width, frame.height);
}

void send_device_input(const DeviceSession& session, DeviceInput input, std::vector<DeviceRequest>& device_requests) {
    if (!session.status.is_connected()) return;
    device_requests.push_back(DeviceRequest::input(std::move(input), session.session_id));
}

}  // namespace remote
