#pragma once
// Live sessions for view tests whose worker side the test holds: it reads what the UI sends
// and writes the status, output and pictures the UI shows. Each belongs to the first saved
// connection of its kind.
#include <memory>
#include <string>
#include <vector>

#include "app/remote_app.hpp"
#include "zavo_ui/simulated_devices.hpp"

namespace views_test {

using namespace remote;

// Makes `session` the application's live session, for the first connection of `kind`.
inline void hold_session(RemoteApp& app, ConnectionKind kind, LiveSession session) {
    app.session.hold(app.first_connection_of_kind(kind).value_or(Uuid{}), std::move(session));
}

struct SshHarness {
    Sender<SshChunk> output;
    Receiver<SshInput> input;
    SharedCellPtr<SessionStatus> status = make_shared_cell(SessionStatus::connected());
    SharedCellPtr<std::optional<HostKeyProblem>> host_key = make_shared_cell<std::optional<HostKeyProblem>>(
        std::nullopt);

    // Installs an 80 x 24 session as the application's live session.
    explicit SshHarness(RemoteApp& app) {
        auto [otx, orx] = make_bounded_channel<SshChunk>(kSshOutputCapacity);
        auto [itx, irx] = make_bounded_channel<SshInput>(kSshInputCapacity);
        output = std::move(otx);
        input = std::move(irx);
        hold_session(app, ConnectionKind::Ssh,
                     LiveSession{std::make_unique<SshSession>(Terminal(80, 24), status, std::move(orx), std::move(itx),
                                                              host_key)});
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
        hold_session(app, ConnectionKind::Vnc, LiveSession{rfb::VncShared(std::move(tx), status, frame)});
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

// A device session whose decoder thread is never started, with the relay id `id`.
inline DeviceSession unstarted_device_session(std::uint64_t id = 1) {
    const std::string endpoint = zavo_ui::simulated_devices::SIMULATED_DEVICES[0].endpoint_id();
    std::vector<DeviceRequest> requests;
    auto session = detail::start_device_session(endpoint, id, requests, [](std::function<void()>) {});
    return std::move(*session);
}

// The live session as the device session it is.
inline const DeviceSession& held_device(const RemoteApp& app) {
    return std::get<DeviceSession>(app.session.held()->value);
}

// Installs an unstarted device session with relay id 1, connected with a picture of this size
// unless told otherwise.
inline const DeviceSession& install_device_session(RemoteApp& app, std::uint32_t width = 1280,
                                                   std::uint32_t height = 720, bool connected = true) {
    hold_session(app, ConnectionKind::Zavo, LiveSession{unstarted_device_session()});
    if (connected) app.handle_device_event(DeviceEvent{1, DeviceEvent::Connected{width, height}});
    return held_device(app);
}

// The inputs queued for the relay since the last call.
inline std::vector<DeviceInput> device_inputs(RemoteApp& app) {
    std::vector<DeviceInput> out;
    for (auto& request : app.take_device_requests())
        if (auto* input = std::get_if<DeviceRequest::Input>(&request.value)) out.push_back(input->input);
    return out;
}

}  // namespace views_test
