#pragma once
// Live sessions for view tests whose worker side the test holds: it reads what the UI sends
// and writes the status, output and pictures the UI shows.
#include <memory>
#include <string>
#include <vector>

#include "app/remote_app.hpp"
#include "zavo_ui/simulated_devices.hpp"

namespace views_test {

using namespace remote;

struct SshHarness {
    Sender<SshChunk> output;
    Receiver<SshInput> input;
    SharedCellPtr<SessionStatus> status = make_shared_cell(SessionStatus::connected());

    // Installs an 80 x 24 session as the application's live session.
    explicit SshHarness(RemoteApp& app) {
        auto [otx, orx] = make_bounded_channel<SshChunk>(kSshOutputCapacity);
        auto [itx, irx] = make_bounded_channel<SshInput>(kSshInputCapacity);
        output = std::move(otx);
        input = std::move(irx);
        app.live_session = LiveSession{
            std::make_unique<SshSession>(Terminal(80, 24), status, std::move(orx), std::move(itx),
                                         make_shared_cell<std::optional<HostKeyProblem>>(std::nullopt))};
    }

    void write(std::string_view text) { (void)output.try_send(SshChunk(text.begin(), text.end())); }
    // Every text queued for the shell so far, in order.
    std::vector<std::string> sent() {
        std::vector<std::string> out;
        while (auto in = input.try_recv()) out.push_back(in->text);
        return out;
    }
};

struct VncHarness {
    Receiver<rfb::VncInput> input;
    rfb::StatusCell status = make_shared_cell(SessionStatus::connected());
    rfb::FrameCell frame = make_shared_cell<std::optional<rfb::Framebuffer>>(std::nullopt);

    explicit VncHarness(RemoteApp& app) {
        auto [tx, rx] = make_bounded_channel<rfb::VncInput>(rfb::VNC_INPUT_CAPACITY);
        input = std::move(rx);
        app.live_session = LiveSession{rfb::VncShared(std::move(tx), status, frame)};
    }

    // Publishes a picture of this size, as the worker does after an update.
    void publish(std::uint16_t width, std::uint16_t height, std::uint64_t generation = 1) {
        rfb::Framebuffer fb(width, height);
        fb.generation = generation;
        frame->set(std::move(fb));
    }
    std::vector<rfb::VncInput> sent() {
        std::vector<rfb::VncInput> out;
        while (auto in = input.try_recv()) out.push_back(*in);
        return out;
    }
};

// A device session whose decoder thread is never started; connected with a picture of this size
// unless told otherwise.
inline DeviceSession& install_device_session(RemoteApp& app, std::uint32_t width = 1280, std::uint32_t height = 720,
                                             bool connected = true) {
    const std::string endpoint = zavo_ui::simulated_devices::SIMULATED_DEVICES[0].endpoint_id();
    auto session = detail::start_device_session(endpoint, app.device_session_counter, app.device_requests,
                                                [](std::function<void()>) {});
    app.live_session = LiveSession{std::move(*session)};
    app.device_requests.clear();
    auto& device = std::get<DeviceSession>(app.live_session->value);
    if (connected) apply_device_event(device, DeviceEvent{device.session_id, DeviceEvent::Connected{width, height}});
    return device;
}

// The inputs queued for the relay since the last call.
inline std::vector<DeviceInput> device_inputs(RemoteApp& app) {
    std::vector<DeviceInput> out;
    for (auto& request : app.take_device_requests())
        if (auto* input = std::get_if<DeviceRequest::Input>(&request.value)) out.push_back(input->input);
    return out;
}

}  // namespace views_test
