#pragma once
// A live session to a device over the relay: the requests it queues, the events it takes, and
// its video decoded on a thread of its own ("remote-zavo-decode").
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "shared/bounded_channel.hpp"
#include "shared/session_status.hpp"
#include "shared/shared_cell.hpp"
#include "zavo_callstream/decoder.hpp"
#include "zavo_ui/device_relay.hpp"
#include "zavo_ui/image.hpp"

namespace remote {

using zavo_callstream::decoder::DecodedFrame;
using zavo_ui::device_relay::DeviceEvent;
using zavo_ui::device_relay::DeviceInput;
using zavo_ui::device_relay::DeviceRequest;
using zavo_ui::device_relay::DisconnectReason;

inline constexpr std::size_t DEVICE_WAKE_CAPACITY = 1;

// The empty message that wakes the decoder.
struct DecoderWake {};

using PendingFrameCell = SharedCellPtr<std::optional<std::vector<std::uint8_t>>>;
using DecodedFrameCell = SharedCellPtr<std::optional<DecodedFrame>>;
using DecoderAliveFlag = std::shared_ptr<std::atomic<bool>>;
// What the UI and the decoder tell each other of pictures. The UI sets Wanted when it takes
// one; the decoder sets the other two.
enum class PictureState : std::uint8_t {
    Wanted,   // the next frame decoded becomes a picture
    Given,    // the last frame decoded became a picture, and the UI has not asked since
    Skipped,  // the last frame decoded became none: nobody asked
};
using PictureStateCell = std::shared_ptr<std::atomic<PictureState>>;

// Owned by the UI thread. Dropping it closes `wake`, which ends the decoder thread.
struct DeviceSession {
    DeviceSession() = default;
    DeviceSession(DeviceSession&&) noexcept = default;
    DeviceSession& operator=(DeviceSession&&) noexcept = default;
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    Sender<DecoderWake> wake;
    // Changed only by `apply_device_event`.
    SessionStatus status = SessionStatus::connecting();
    // The newest encoded frame the decoder has not taken yet.
    PendingFrameCell pending_frame = make_shared_cell<std::optional<std::vector<std::uint8_t>>>();
    // True while the decoder thread runs.
    DecoderAliveFlag decoder_alive = std::make_shared<std::atomic<bool>>(true);
    // The newest picture painting has not taken yet.
    DecodedFrameCell decoded_frame = make_shared_cell<std::optional<DecodedFrame>>();
    // Frames decoded while nobody asks (another screen is shown) are not converted to RGBA, and
    // an unclaimed picture is let go once a newer frame is decoded.
    PictureStateCell picture_state = std::make_shared<std::atomic<PictureState>>(PictureState::Wanted);
    std::uint64_t session_id = 0;
    // Width and height of the remote picture once known.
    std::optional<std::pair<std::uint32_t, std::uint32_t>> frame_size;
};

// What the session shows for a disconnect.
std::string disconnect_reason_text(const DisconnectReason& reason);

// The decoder thread's body: decodes the pending frame at each wake-up until every sender is
// gone, then clears `decoder_alive`. A decoded frame becomes a picture in `decoded_frame` only
// when one is Wanted; woken with no frame pending while one is, after it skipped the last frame,
// the decoder converts that frame.
void run_frame_decoder(Receiver<DecoderWake> wake, PendingFrameCell pending_frame, DecodedFrameCell decoded_frame,
                       DecoderAliveFlag decoder_alive, PictureStateCell picture_state);

// The device branch of a session launch: parses `host` (exactly as stored) as the endpoint id,
// takes the next id from `device_session_counter` (which stops at its largest value), queues the
// Connect and starts the decoder thread. The error is the text of the failed launch.
std::expected<DeviceSession, std::string> start_device_session(std::string_view host,
                                                               std::uint64_t& device_session_counter,
                                                               std::vector<DeviceRequest>& device_requests);

// Applies one relay event. False, with nothing changed, when it belongs to another session;
// true when the caller should redraw.
bool apply_device_event(DeviceSession& session, const DeviceEvent& event);

// Painting's take of the newest decoded picture; its size becomes the session's frame size.
// It also asks for the next picture: when the decoder skipped the last frame it decoded (nobody
// looked), it is woken to convert that frame at once.
std::optional<DecodedFrame> take_decoded_frame(DeviceSession& session);

// The image painting shows for a picture taken with `take_decoded_frame`: the picture's bytes
// move into the image (never copied), width x height, with a new blob id. When the image and
// its copies are let go, the buffer goes back to the decoder to hold a later picture.
zavo_ui::Image decoded_frame_image(DecodedFrame&& frame);

// Queues the input for a connected session; drops it otherwise.
void send_device_input(const DeviceSession& session, DeviceInput input, std::vector<DeviceRequest>& device_requests);

namespace detail {
// Starts a detached thread running the body; throws std::system_error when it cannot.
using DecoderSpawner = std::function<void(std::function<void()> body)>;
void spawn_named_decoder_thread(std::function<void()> body);
std::expected<DeviceSession, std::string> start_device_session(std::string_view host,
                                                               std::uint64_t& device_session_counter,
                                                               std::vector<DeviceRequest>& device_requests,
                                                               const DecoderSpawner& spawn);
}  // namespace detail

}  // namespace remote
