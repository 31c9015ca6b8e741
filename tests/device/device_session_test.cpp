#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <set>
#include <system_error>
#include <thread>

#include "device/device_session.hpp"
#include "support/wait.hpp"
#include "zavo_callstream/encoder.hpp"
#include "zavo_ui/simulated_devices.hpp"

namespace {

using namespace remote;
using namespace std::chrono_literals;
using test_support::eventually;
using zavo_ui::simulated_devices::SIMULATED_DEVICES;

const std::string STUDIO = SIMULATED_DEVICES[0].endpoint_id();

// A session whose decoder does not run: the test holds the receiving end of the wake queue.
struct HeldSession {
    DeviceSession session;
    Receiver<DecoderWake> wake;
};

HeldSession held_session(std::uint64_t id) {
    auto [sender, receiver] = make_bounded_channel<DecoderWake>(DEVICE_WAKE_CAPACITY);
    HeldSession held;
    held.session.wake = std::move(sender);
    held.session.session_id = id;
    held.wake = std::move(receiver);
    return held;
}

DeviceEvent event(std::uint64_t id, DeviceEvent::Value value) { return DeviceEvent{id, std::move(value)}; }

std::vector<std::uint8_t> key_frame(std::uint32_t w, std::uint32_t h, std::uint8_t shade) {
    zavo_callstream::encoder::H264Encoder encoder(w, h);
    return encoder.encode_rgba(std::vector<std::uint8_t>(std::size_t{w} * h * 4, shade));
}

TEST(DeviceLaunch, QueuesConnectWithIdsFromTheCounter) {
    std::uint64_t counter = 1;
    std::vector<DeviceRequest> requests;
    auto first = start_device_session(STUDIO, counter, requests);
    ASSERT_TRUE(first) << first.error();
    auto second = start_device_session(STUDIO, counter, requests);
    ASSERT_TRUE(second) << second.error();
    EXPECT_EQ(first->session_id, 1u);
    EXPECT_EQ(second->session_id, 2u);
    EXPECT_EQ(counter, 3u);
    EXPECT_EQ(requests, (std::vector{DeviceRequest::connect(SIMULATED_DEVICES[0].public_key(), 1),
                                     DeviceRequest::connect(SIMULATED_DEVICES[0].public_key(), 2)}));
    EXPECT_EQ(first->status, SessionStatus::connecting());
    EXPECT_FALSE(first->frame_size);
    EXPECT_TRUE(first->decoder_alive->load());
}

TEST(DeviceLaunch, CounterStopsAtItsLargestValue) {
    std::uint64_t counter = std::numeric_limits<std::uint64_t>::max();
    std::vector<DeviceRequest> requests;
    for (int i = 0; i < 2; ++i) {
        auto session = start_device_session(STUDIO, counter, requests);
        ASSERT_TRUE(session);
        EXPECT_EQ(session->session_id, std::numeric_limits<std::uint64_t>::max());
    }
    EXPECT_EQ(counter, std::numeric_limits<std::uint64_t>::max());
}

TEST(DeviceLaunch, HostThatIsNotAnEndpointIdFailsWithoutARequest) {
    for (const std::string& host : {std::string{}, STUDIO + " ", " " + STUDIO, std::string{"studio.local"}}) {
        std::uint64_t counter = 1;
        std::vector<DeviceRequest> requests;
        auto session = start_device_session(host, counter, requests);
        ASSERT_FALSE(session) << "'" << host << "'";
        EXPECT_EQ(session.error(), "Zavo host must be an exact certified device endpoint id");
        EXPECT_TRUE(requests.empty());
        EXPECT_EQ(counter, 1u);
    }
}

TEST(DeviceLaunch, DecoderThreadThatCannotStartFailsAndWithdrawsTheConnect) {
    std::uint64_t counter = 4;
    std::vector<DeviceRequest> requests;
    auto session = detail::start_device_session(STUDIO, counter, requests, [](std::function<void()>) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    });
    ASSERT_FALSE(session);
    EXPECT_EQ(session.error(), "could not start Zavo frame decoder: " +
                                   std::make_error_code(std::errc::resource_unavailable_try_again).message());
    EXPECT_EQ(requests, (std::vector{DeviceRequest::connect(SIMULATED_DEVICES[0].public_key(), 4),
                                     DeviceRequest::disconnect(4)}));
    EXPECT_EQ(counter, 5u);
}

TEST(DeviceEvents, StatusFollowsTheEventsOfItsOwnSession) {
    auto held = held_session(2);
    DeviceSession& s = held.session;

    EXPECT_FALSE(apply_device_event(s, event(1, DeviceEvent::Connected{640, 480}))) << "a late event of session 1";
    EXPECT_EQ(s.status, SessionStatus::connecting());
    EXPECT_FALSE(s.frame_size);

    EXPECT_TRUE(apply_device_event(s, event(2, DeviceEvent::Connected{1920, 1080})));
    EXPECT_EQ(s.status, SessionStatus::connected());
    EXPECT_EQ(s.frame_size, (std::pair<std::uint32_t, std::uint32_t>{1920, 1080}));

    EXPECT_TRUE(apply_device_event(s, event(2, DeviceEvent::Pending{})));
    EXPECT_EQ(s.status, SessionStatus::connecting()) << "Pending after Connected goes back to connecting";
}

TEST(DeviceEvents, DisconnectFailsTheSessionWithTheReasonsText) {
    const std::pair<DisconnectReason, const char*> cases[] = {
        {DisconnectReason::other("peer went away"), "peer went away"},
        {DisconnectReason::control_revoked(), "Target revoked workspace control"},
        {DisconnectReason::target_disconnected(), "Target disconnected"},
        {DisconnectReason::relay_disconnected(), "Encrypted relay disconnected"},
        {DisconnectReason::control_closed(), "Workspace control closed"},
    };
    for (const auto& [reason, text] : cases) {
        auto held = held_session(1);
        (void)apply_device_event(held.session, event(1, DeviceEvent::Connected{8, 8}));
        EXPECT_TRUE(apply_device_event(held.session, event(1, DeviceEvent::Disconnected{reason})));
        EXPECT_EQ(held.session.status, SessionStatus::failed(text));
    }
}

TEST(DeviceEvents, NewestFrameWinsAndOnlyItIsDecoded) {
    auto held = held_session(1);
    const auto first = key_frame(64, 48, 40);
    const auto second = key_frame(96, 64, 200);
    ASSERT_TRUE(apply_device_event(held.session, event(1, DeviceEvent::Frame{first})));
    ASSERT_TRUE(apply_device_event(held.session, event(1, DeviceEvent::Frame{second})));
    EXPECT_EQ(held.session.pending_frame->get(), second);
    EXPECT_EQ(held.wake.len(), 1u) << "one wake-up pending at most";

    // Run the decoder over what is queued, then end it by dropping the session.
    std::thread decoder(run_frame_decoder, std::move(held.wake), held.session.pending_frame, held.session.decoded_frame,
                        held.session.decoder_alive, held.session.picture_state);
    auto alive = held.session.decoder_alive;
    auto decoded = held.session.decoded_frame;
    auto session = std::move(held.session);
    session.wake.reset();
    decoder.join();
    EXPECT_FALSE(alive->load());
    auto picture = decoded->take();
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, 96u);
    EXPECT_EQ(picture->height, 64u);
}

TEST(DeviceEvents, FramesAfterTheDecoderEndedFailTheSession) {
    auto held = held_session(1);
    (void)apply_device_event(held.session, event(1, DeviceEvent::Connected{64, 48}));
    held.wake.close();  // the decoder thread is gone without having cleared its flag yet

    ASSERT_TRUE(apply_device_event(held.session, event(1, DeviceEvent::Frame{{1, 2, 3}})));
    EXPECT_EQ(held.session.status, SessionStatus::failed("Zavo frame decoder stopped"));
    EXPECT_FALSE(held.session.decoder_alive->load());

    held.session.pending_frame->set(std::nullopt);
    ASSERT_TRUE(apply_device_event(held.session, event(1, DeviceEvent::Frame{{4, 5, 6}})));
    EXPECT_EQ(held.session.status, SessionStatus::failed("Zavo frame decoder is unavailable"));
    EXPECT_FALSE(held.session.pending_frame->get()) << "the frame is dropped";
}

TEST(DeviceInputQueue, InputIsQueuedOnlyWhileConnected) {
    auto held = held_session(3);
    std::vector<DeviceRequest> requests;
    send_device_input(held.session, DeviceInput::key(true, 30), requests);
    EXPECT_TRUE(requests.empty()) << "before Connected";
    (void)apply_device_event(held.session, event(3, DeviceEvent::Connected{64, 48}));
    send_device_input(held.session, DeviceInput::pointer_move(1.5, 2), requests);
    (void)apply_device_event(held.session, event(3, DeviceEvent::Disconnected{DisconnectReason::control_closed()}));
    send_device_input(held.session, DeviceInput::key(true, 30), requests);
    EXPECT_EQ(requests, (std::vector{DeviceRequest::input(DeviceInput::pointer_move(1.5, 2), 3)}));
}

// The whole path on the real decoder thread: frames in, pictures out to painting's slot.
TEST(DeviceDecoderThread, DecodesFramesAndEndsWithItsSession) {
    std::uint64_t counter = 1;
    std::vector<DeviceRequest> requests;
    auto session = start_device_session(STUDIO, counter, requests);
    ASSERT_TRUE(session);
    ASSERT_TRUE(apply_device_event(*session, event(1, DeviceEvent::Connected{1920, 1080})));

    zavo_callstream::encoder::H264Encoder encoder(1280, 720);
    std::vector<std::uint8_t> picture(1280u * 720u * 4u, 90);
    (void)apply_device_event(*session, event(1, DeviceEvent::Frame{{0, 0, 0, 1, 0x65, 0xff}}));  // undecodable
    std::optional<DecodedFrame> taken;
    ASSERT_TRUE(eventually(
        [&] {
            // Every frame is a key frame, so any one that wins decodes on its own.
            encoder.force_key_frame();
            (void)apply_device_event(*session, event(1, DeviceEvent::Frame{encoder.encode_rgba(picture)}));
            taken = take_decoded_frame(*session);
            return taken.has_value();
        },
        10s));
    EXPECT_EQ(taken->width, 1280u);
    EXPECT_EQ(taken->height, 720u);
    EXPECT_EQ(session->frame_size, (std::pair<std::uint32_t, std::uint32_t>{1280, 720}));
    EXPECT_EQ(session->status, SessionStatus::connected());
    const std::uint8_t* bytes = taken->rgba.data();
    const zavo_ui::Image image = decoded_frame_image(std::move(*taken));
    EXPECT_EQ(image.data->data(), bytes) << "the picture's bytes move into the image";
    EXPECT_EQ(image.width, 1280u);
    EXPECT_EQ(image.height, 720u);
    EXPECT_TRUE(image.is_valid());

    auto alive = session->decoder_alive;
    { DeviceSession dropped = std::move(*session); }
    EXPECT_TRUE(eventually([&] { return !alive->load(std::memory_order_acquire); }, 10s));
}

// While nobody takes pictures (another screen is shown) the decoder goes on decoding, as the
// frames after need, but converts none and lets an unclaimed picture go; the next take asks
// again and gets the newest frame at once, decoded right across the frames nobody saw.
TEST(DeviceDecoderThread, FramesNobodyAsksForAreDecodedButNotConverted) {
    auto held = held_session(1);
    auto& session = held.session;
    std::thread decoder(run_frame_decoder, std::move(held.wake), session.pending_frame, session.decoded_frame,
                        session.decoder_alive, session.picture_state);
    const auto state = [&] { return session.picture_state->load(); };
    zavo_callstream::encoder::H264Encoder encoder(64, 48, 30.0f, 1000);  // predicted frames after the first
    std::uint8_t shade = 20;
    const auto send = [&] {
        (void)apply_device_event(session, event(1, DeviceEvent::Frame{encoder.encode_rgba(
                                                   std::vector<std::uint8_t>(64u * 48u * 4u, shade += 10))}));
    };
    send();
    ASSERT_TRUE(eventually([&] { return state() == PictureState::Given; }, 10s)) << "the first picture";
    for (int i = 0; i < 8; ++i) {
        send();
        ASSERT_TRUE(eventually([&] { return !session.pending_frame->get(); }, 10s));
    }
    EXPECT_TRUE(eventually([&] { return state() == PictureState::Skipped && !session.decoded_frame->get(); }, 10s))
        << "the unclaimed picture is let go and no newer one made";

    EXPECT_FALSE(take_decoded_frame(session)) << "nothing was converted while nobody asked";
    std::optional<DecodedFrame> newest;
    ASSERT_TRUE(eventually([&] { return (newest = session.decoded_frame->take()).has_value(); }, 10s))
        << "the ask wakes the decoder";
    EXPECT_NEAR(newest->rgba[0], shade, 6) << "the newest frame, decoded across the skipped ones";

    session.wake.reset();
    decoder.join();
}

// Painting keeps the newest picture and the renderer the one before; meanwhile the decoder
// writes later pictures into buffers let go. None it writes may be one still held.
TEST(DeviceDecoderThread, PicturesHeldByPaintingNeverChangeAndBuffersAreReused) {
    std::uint64_t counter = 1;
    std::vector<DeviceRequest> requests;
    auto session = start_device_session(STUDIO, counter, requests);
    ASSERT_TRUE(session);
    zavo_callstream::encoder::H264Encoder encoder(64, 48);
    std::vector<std::pair<zavo_ui::Image, std::vector<std::uint8_t>>> held;
    std::set<const void*> buffers;
    int taken = 0;
    std::uint8_t shade = 0;
    ASSERT_TRUE(eventually(
        [&] {
            encoder.force_key_frame();
            (void)apply_device_event(*session, event(1, DeviceEvent::Frame{encoder.encode_rgba(
                                                            std::vector<std::uint8_t>(64u * 48u * 4u, shade += 5))}));
            if (auto picture = take_decoded_frame(*session)) {
                zavo_ui::Image image = decoded_frame_image(std::move(*picture));
                buffers.insert(image.data.get());
                held.emplace_back(image, *image.data);
                if (held.size() > 2) held.erase(held.begin());
                ++taken;
            }
            for (const auto& [image, bytes] : held) EXPECT_EQ(*image.data, bytes);
            return taken >= 40;
        },
        20s));
    EXPECT_LT(buffers.size(), 10u) << "buffers let go are written again";
}

}  // namespace
