#include "zavo_ui/relay/simulation.hpp"

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <utility>

#include "zavo_callstream/encoder.hpp"
#include "zavo_ui/relay/test_picture.hpp"
#include "zavo_ui/simulated_devices.hpp"

namespace zavo_ui::device_relay {
namespace {

const simulated_devices::SimulatedDevice* find_device(const relay_key::PublicKey& endpoint) {
    for (const auto& d : simulated_devices::SIMULATED_DEVICES)
        if (d.public_key() == endpoint) return &d;
    return nullptr;
}

constexpr std::uint32_t BTN_LEFT = 272;

template <typename T>
DeviceEvent event(std::uint64_t session_id, T value) {
    DeviceEvent e;
    e.session_id = session_id;
    e.value.emplace<T>(std::move(value));
    return e;
}

}  // namespace

struct RelaySimulation::Session {
    enum class Phase { AwaitConsent, Unreachable, Streaming };

    Session(relay_key::PublicKey e, const simulated_devices::SimulatedDevice* d) : endpoint(e), device(d) {}

    relay_key::PublicKey endpoint;
    const simulated_devices::SimulatedDevice* device = nullptr;
    Phase phase = Phase::AwaitConsent;
    RelayClock::time_point due;
    bool frame_outstanding = false;
    DeviceScreenState screen;
    std::unique_ptr<TestPicture> picture;
    std::unique_ptr<zavo_callstream::encoder::H264Encoder> encoder;
};

RelaySimulation::RelaySimulation(RelayOptions options) : options_(options) {}
RelaySimulation::~RelaySimulation() = default;
RelaySimulation::RelaySimulation(RelaySimulation&&) noexcept = default;
RelaySimulation& RelaySimulation::operator=(RelaySimulation&&) noexcept = default;

void RelaySimulation::submit(const DeviceRequest& request, RelayClock::time_point now) {
    if (const auto* connect = std::get_if<DeviceRequest::Connect>(&request.value)) {
        const auto* device = find_device(connect->endpoint);
        // A device shares its workspace with one session at a time: a newer session takes over.
        for (auto it = sessions_.begin(); it != sessions_.end();) {
            if (it->first != connect->session_id && it->second->endpoint == connect->endpoint) {
                immediate_.push_back(event(it->first, DeviceEvent::Disconnected{DisconnectReason::control_closed()}));
                it = sessions_.erase(it);
            } else {
                ++it;
            }
        }
        auto session = std::make_unique<Session>(connect->endpoint, device);
        const bool reachable = device != nullptr && device->online;
        session->phase = reachable ? Session::Phase::AwaitConsent : Session::Phase::Unreachable;
        session->due = now + (reachable ? options_.consent_delay : options_.unreachable_delay);
        sessions_[connect->session_id] = std::move(session);
        immediate_.push_back(event(connect->session_id, DeviceEvent::Pending{}));
        return;
    }
    if (const auto* disconnect = std::get_if<DeviceRequest::Disconnect>(&request.value)) {
        sessions_.erase(disconnect->session_id);
        return;
    }
    const auto& input = std::get<DeviceRequest::Input>(request.value);
    auto it = sessions_.find(input.session_id);
    // A device sees input only once it shares its picture.
    if (it == sessions_.end() || it->second->phase != Session::Phase::Streaming) return;
    DeviceScreenState& screen = it->second->screen;
    std::visit(
        [&](const auto& in) {
            using T = std::decay_t<decltype(in)>;
            if constexpr (std::is_same_v<T, DeviceInput::PointerMove>) {
                if (!std::isfinite(in.x) || !std::isfinite(in.y)) return;
                screen.has_pointer = true;
                screen.pointer_x = std::clamp(in.x, 0.0, static_cast<double>(it->second->device->width - 1));
                screen.pointer_y = std::clamp(in.y, 0.0, static_cast<double>(it->second->device->height - 1));
            } else if constexpr (std::is_same_v<T, DeviceInput::Button>) {
                if (in.code >= BTN_LEFT && in.code < BTN_LEFT + 3) screen.buttons[in.code - BTN_LEFT] = in.down;
            } else if constexpr (std::is_same_v<T, DeviceInput::Key>) {
                if (in.down) {
                    screen.held_keys.insert(in.code);
                    screen.last_keys.push_back(in.code);
                    if (screen.last_keys.size() > DeviceScreenState::KEYS_SHOWN) screen.last_keys.pop_front();
                } else {
                    screen.held_keys.erase(in.code);
                }
            }
        },
        input.input.value);
}

std::vector<DeviceEvent> RelaySimulation::advance(RelayClock::time_point now) {
    std::vector<DeviceEvent> events = std::move(immediate_);
    immediate_.clear();
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        const std::uint64_t id = it->first;
        Session& s = *it->second;
        if (s.due > now) {
            ++it;
            continue;
        }
        if (s.phase == Session::Phase::Unreachable) {
            const auto reason = s.device != nullptr ? DisconnectReason::target_disconnected()
                                                    : DisconnectReason::relay_disconnected();
            events.push_back(event(id, DeviceEvent::Disconnected{reason}));
            it = sessions_.erase(it);
            continue;
        }
        if (s.phase == Session::Phase::AwaitConsent) {
            s.phase = Session::Phase::Streaming;
            s.picture = std::make_unique<TestPicture>(s.device->name, s.device->width, s.device->height);
            s.encoder = std::make_unique<zavo_callstream::encoder::H264Encoder>(
                s.device->width, s.device->height,
                1.0f / std::chrono::duration<float>(options_.frame_interval).count());
            events.push_back(event(id, DeviceEvent::Connected{s.device->width, s.device->height}));
            s.due = now;
        }
        // While the last frame is on its way, the next one waits; once it is delivered the
        // next frame follows at once, and the frames missed meanwhile are skipped.
        if (!s.frame_outstanding) {
            auto bytes = s.encoder->encode_rgba(s.picture->render(s.screen));
            ++s.screen.frame;
            if (!bytes.empty()) {
                events.push_back(event(id, DeviceEvent::Frame{std::move(bytes)}));
                s.frame_outstanding = true;
            }
            s.due += options_.frame_interval;
            if (s.due <= now) s.due = now + options_.frame_interval;
        }
        ++it;
    }
    return events;
}

void RelaySimulation::frame_delivered(std::uint64_t session_id) {
    auto it = sessions_.find(session_id);
    if (it != sessions_.end()) it->second->frame_outstanding = false;
}

std::optional<RelayClock::time_point> RelaySimulation::next_due() const {
    std::optional<RelayClock::time_point> next;
    if (!immediate_.empty()) return RelayClock::time_point::min();
    for (const auto& [id, s] : sessions_) {
        if (s->phase == Session::Phase::Streaming && s->frame_outstanding) continue;
        if (!next || s->due < *next) next = s->due;
    }
    return next;
}

std::size_t RelaySimulation::session_count() const { return sessions_.size(); }

}  // namespace zavo_ui::device_relay
