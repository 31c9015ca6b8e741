#pragma once
// A VNC session: a worker thread that speaks RFB to the server, and the UI's handle on it.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "rfb/framebuffer.hpp"
#include "shared/bounded_channel.hpp"
#include "shared/session_status.hpp"
#include "shared/shared_cell.hpp"

namespace remote::rfb {

// One event queued from the UI to the worker.
struct VncInput {
    struct Pointer {
        std::uint8_t buttons = 0;  // RFB button mask
        std::uint16_t x = 0;
        std::uint16_t y = 0;
        friend bool operator==(const Pointer&, const Pointer&) = default;
    };
    struct Key {
        bool down = false;
        std::uint32_t keysym = 0;  // X11 keysym
        friend bool operator==(const Key&, const Key&) = default;
    };

    std::variant<Pointer, Key> event;

    static VncInput pointer(std::uint8_t buttons, std::uint16_t x, std::uint16_t y) { return {Pointer{buttons, x, y}}; }
    static VncInput key(bool down, std::uint32_t keysym) { return {Key{down, keysym}}; }
    friend bool operator==(const VncInput&, const VncInput&) = default;
};

inline constexpr std::size_t VNC_INPUT_CAPACITY = 256;
// While the server is silent, an incremental update request goes out this long after the last.
inline constexpr std::chrono::milliseconds UPDATE_REQUEST_INTERVAL{500};
// A handshake or message-body read (or any write) that makes no progress for this long ends
// the session with "Connection timed out".
inline constexpr std::chrono::milliseconds IO_STALL_TIMEOUT{30000};

using FrameCell = SharedCellPtr<std::optional<Framebuffer>>;
using StatusCell = SharedCellPtr<SessionStatus>;

// The UI side of a running session. Dropping it closes the input queue, and the worker ends
// on its own at its next turn.
class VncShared {
public:
    // From parts: the sending end of the input queue and the two cells the worker writes.
    VncShared(Sender<VncInput> input, StatusCell status, FrameCell frame);
    VncShared(VncShared&&) noexcept = default;
    VncShared& operator=(VncShared&&) noexcept = default;
    VncShared(const VncShared&) = delete;
    VncShared& operator=(const VncShared&) = delete;

    // Queues one event without waiting.
    std::expected<void, std::string> send_input(VncInput input);
    // The newest published snapshot when its generation was not handed out yet.
    std::optional<Framebuffer> take_new_frame();
    // Width and height of the published snapshot.
    std::optional<std::pair<std::uint16_t, std::uint16_t>> framebuffer_size() const;
    SessionStatus status() const;

private:
    std::optional<std::uint64_t> shown_generation_;
    Sender<VncInput> input_;
    StatusCell status_;
    FrameCell frame_;
};

// Starts the worker thread "remote-vnc" for host:port; the error is the thread's start failure.
std::expected<VncShared, std::string> start_vnc_session(const std::string& host, std::uint16_t port,
                                                        std::optional<std::string> password);

// Reads the body of one server message whose type byte has been read; true when it was a
// FramebufferUpdate (applied to fb).
Result<bool> handle_server_message(Stream& stream, std::uint8_t type, Framebuffer& fb);

// The worker's body: connect, handshake, then input and server messages until the queue closes
// or an error ends it (which sets the status). Queued input goes out at once, also while the
// worker waits for the server. Once the UI has let go, every wait on the server ends at once;
// what was queued before is still written where the server takes it.
void run_vnc_session(const std::string& host, std::uint16_t port, const std::optional<std::string>& password,
                     Receiver<VncInput> input, StatusCell status, FrameCell frame);

}  // namespace remote::rfb
