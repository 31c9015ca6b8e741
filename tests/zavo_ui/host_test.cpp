// The host loop without a display: a fake window keeps the frames asked for and the repaints it
// was given and runs what is posted to it, a recording painter keeps what a repaint drew, and a
// fake store saves (or fails to).
#include "zavo_ui/host/host.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "support/full_size_leaf.hpp"
#include "support/log.hpp"
#include "zavo_ui/recording_backend.hpp"
#include "zavo_ui/simulated_devices.hpp"
#include "zavo_ui/theme.hpp"

namespace zavo_ui::host {
namespace {

using namespace std::chrono_literals;

// Paints its bounds red with a green square under the last pointer position, types into the
// document on a key, and records what the host asks of it.
class ProbeWidget : public Widget, public device_relay::DeviceSessionSink {
public:
    layout::NodeId build_layout(layout::LayoutTree& tree, layout::NodeWidgetMap& widgets) override {
        return test_support::full_size_leaf(tree, widgets, this);
    }
    void layout(const layout::LayoutTree& tree, layout::NodeId node, Point origin) override {
        rect = test_support::placed_rect(tree, node, origin);
        ++layouts;
    }
    void paint(Scene& scene, const Affine& transform, text_render::TextRenderer&, const theme::Theme&,
               DrawContext& draw) override {
        scale_seen = draw.scale_factor;
        redraw_at_paint = redraw;
        scene.fill_color(transform, Color::from_hex(0xFF0000), rect);
        scene.fill_color(transform, Color::from_hex(0x00FF00),
                         Rect{pointer.x, pointer.y, pointer.x + 10, pointer.y + 10});
        if (animate_once) {
            animate_once = false;
            redraw = true;  // asked for during the paint: must survive for the next frame
        }
    }
    void handle_event(const event::Event& e, event::Modifiers, EventContext& ctx, bool& handled,
                      double scale_factor) override {
        events.push_back(e);
        scale_at_event = scale_factor;
        pointer = ctx.pointer;
        if (std::holds_alternative<event::Key>(e) && ctx.document != nullptr) type_into(*ctx.document);
        redraw = true;
        handled = true;
    }
    bool activate_element(std::string_view id, const a11y::SemanticAction&, EventContext& ctx) override {
        if (id != "probe.type" || ctx.document == nullptr) return false;
        type_into(*ctx.document);
        return true;
    }
    std::optional<std::string> widget_name() override { return "Probe"; }
    void sync_document(crdt::Document& document) override {
        ++syncs;
        if (std::exchange(edit_on_sync, false)) type_into(document);
    }
    void document_saving(const DocumentSaving& saving) override { savings.push_back(saving); }
    device_relay::DeviceSessionSink* device_session_sink() override { return this; }
    std::vector<device_relay::DeviceRequest> take_device_requests() override {
        ++exchanges;
        return std::exchange(requests, {});
    }
    void handle_device_event(const device_relay::DeviceEvent& e) override { device_events.push_back(e); }
    void end_sessions() override { ended = true; }
    bool needs_redraw() override { return redraw; }
    void clear_redraw() override { redraw = false; }
    bool wants_animation_frame() override { return animating; }
    void collect_damage(std::vector<Rect>& damage) override {
        if (redraw) damage.push_back(rect);
    }

    static void type_into(crdt::Document& document) {
        ASSERT_TRUE(document.put(crdt::ROOT, "typed", crdt::ScalarValue(std::string("x"))));
    }

    Rect rect;
    Point pointer{-100, -100};
    int layouts = 0, syncs = 0, exchanges = 0;
    double scale_seen = 0, scale_at_event = 0;
    bool redraw = true, redraw_at_paint = false, animate_once = false, animating = false, ended = false,
         edit_on_sync = false;
    std::vector<event::Event> events;
    std::vector<device_relay::DeviceRequest> requests;
    std::vector<device_relay::DeviceEvent> device_events;
    std::vector<DocumentSaving> savings;
};

class FakeText : public ScaledTextRenderer {
public:
    text_render::TextMetrics measure_styled(std::string_view text, const TextStyle& style) const override {
        return fake_.measure_styled(text, style);
    }
    float text_scale() const override { return fake_.text_scale(); }
    void set_text_scale(float scale) override { fake_.set_text_scale(scale); }

private:
    text_render::FakeTextRenderer fake_;
};

// Keeps the frames asked for, the repaints and the tasks posted, and runs the tasks when the test
// says so.
class FakeWindow : public Window {
public:
    void request_frame(FramePace pace) override {
        ++frames;
        paces.push_back(pace);
    }
    void present(std::span<const Rect> damage) override { presented.emplace_back(damage.begin(), damage.end()); }
    void post(std::function<void()> task) override {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(task));
        arrived_.notify_all();
    }
    void post_after(std::chrono::milliseconds delay, std::function<void()> task) override {
        delayed.emplace_back(delay, std::move(task));
    }

    // Runs what was posted, waiting up to a few seconds for the first task; false when none came.
    bool run_posted() {
        std::deque<std::function<void()>> tasks;
        {
            std::unique_lock lock(mutex_);
            if (!arrived_.wait_for(lock, 5s, [&] { return !posted_.empty(); })) return false;
            tasks.swap(posted_);
        }
        for (auto& task : tasks) task();
        return true;
    }

    int frames = 0;
    std::vector<FramePace> paces;
    std::vector<std::vector<Rect>> presented;
    std::vector<std::pair<std::chrono::milliseconds, std::function<void()>>> delayed;

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::function<void()>> posted_;
};

class RecordingPainter : public FramePainter {
public:
    void paint(const Scene& scene, Size logical_size, double scale, std::span<const Rect> area) override {
        ++frames;
        size = logical_size;
        this->scale = scale;
        this->area.assign(area.begin(), area.end());
        records = RecordingBackend::of(scene).records();
    }
    int frames = 0;
    Size size;
    double scale = 0;
    std::vector<Rect> area;
    std::vector<DrawRecord> records;
};

// Saves by counting; the first `failures` saves fail with "disk full", and while `elsewhere`
// holds a reason, saved changes are kept elsewhere only; `shared` is why the shared folder's
// last write failed.
class FakeStore : public DocumentStore {
public:
    crdt::Document& document() override { return document_; }
    std::expected<bool, std::string> save_changes() override {
        ++saves;
        if (failures > 0) {
            --failures;
            return std::unexpected("disk full");
        }
        return true;
    }
    std::string kept_elsewhere() const override { return elsewhere; }
    std::string shared_problem() const override { return shared; }
    bool merge_from_folder() override {
        ++merges;
        return std::exchange(changed_outside, false);
    }
    void set_change_listener(std::function<void()> l) override { listener = std::move(l); }

    int saves = 0, merges = 0, failures = 0;
    std::string elsewhere, shared;
    bool changed_outside = false;
    std::function<void()> listener;

private:
    crdt::Document document_;
};

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto w = std::make_unique<ProbeWidget>();
        probe = w.get();
        host = std::make_unique<Host>(std::move(w), theme, text, Size{200, 100}, 1.0);
    }
    void TearDown() override { host->detach_window(); }

    // A frame, then all of it painted.
    void frame() {
        host->frame();
        host->present(painter);
    }

    const theme::Theme theme = theme::Theme::dark();
    FakeText text;
    FakeWindow window;
    RecordingPainter painter;
    FakeStore store;
    ProbeWidget* probe = nullptr;
    std::unique_ptr<Host> host;
};

TEST_F(HostTest, LaysOutOnceForEachNewSize) {
    EXPECT_EQ(probe->layouts, 0);
    frame();
    EXPECT_EQ(probe->layouts, 1);
    EXPECT_EQ(probe->rect, (Rect{0, 0, 200, 100}));
    frame();
    EXPECT_EQ(probe->layouts, 1);

    host->resize(Size{300, 120}, 2.0);
    host->set_text_scale(1.5f);
    frame();
    EXPECT_EQ(probe->layouts, 2) << "a new size and text scale lay out once";
    EXPECT_EQ(probe->rect, (Rect{0, 0, 300, 120}));
    EXPECT_EQ(painter.size, (Size{300, 120}));
    EXPECT_EQ(painter.scale, 2.0);
    EXPECT_EQ(probe->scale_seen, 2.0);
    ASSERT_FALSE(painter.records.empty());
    EXPECT_EQ(painter.records[0].bounds, (Rect{0, 0, 300, 120})) << "the widget's own ground is the frame's first draw";
    EXPECT_EQ(host->frames_painted(), 3u);
}

TEST_F(HostTest, AsksTheWindowForFramesWhileTheWidgetWantsThem) {
    host->attach_window(window);
    host->schedule();
    ASSERT_EQ(window.frames, 1);

    host->frame();
    EXPECT_FALSE(probe->redraw_at_paint) << "the flag is cleared before painting";
    EXPECT_EQ(window.frames, 1) << "an idle widget was asked for another frame";

    probe->animate_once = true;
    probe->redraw = true;
    host->frame();
    EXPECT_EQ(window.frames, 2) << "a redraw asked for while painting was lost";
    host->frame();
    EXPECT_EQ(window.frames, 2);

    probe->animating = true;
    host->frame();
    EXPECT_EQ(window.frames, 3);
    probe->animating = false;

    host->set_text_scale(1.25f);
    host->schedule();
    EXPECT_EQ(window.frames, 4) << "a layout that is due asks for a frame";
}

// The window repaints only where a frame differs from the one it shows, and nothing for a frame
// that paints the same; yet every frame is painted by the widget, so what painting rebuilds
// (hit regions, accessibility) never goes stale.
TEST_F(HostTest, AFrameRepaintsOnlyWhereItsSceneDiffers) {
    host->attach_window(window);
    host->frame();
    ASSERT_EQ(window.presented.size(), 1u);
    EXPECT_EQ(window.presented[0], (std::vector<Rect>{{0, 0, 200, 100}})) << "the first frame shows all of it";

    host->frame();
    host->frame();
    EXPECT_EQ(window.presented.size(), 1u) << "an unchanged frame was repainted";
    EXPECT_EQ(host->frames_painted(), 3u);
    EXPECT_EQ(host->frames_presented(), 1u);

    probe->pointer = {20, 30};  // the green square moves from off the window to (20, 30)
    host->frame();
    ASSERT_EQ(window.presented.size(), 2u);
    EXPECT_EQ(window.presented[1], (std::vector<Rect>{{19, 29, 31, 41}})) << "the square, with its edges";
    host->present(painter, window.presented[1]);
    EXPECT_EQ(painter.area, window.presented[1]);
    EXPECT_EQ(painter.records.size(), 2u) << "the painter replays the whole scene within the area";

    host->resize(Size{300, 100}, 1.0);
    host->frame();
    ASSERT_EQ(window.presented.size(), 3u);
    EXPECT_EQ(window.presented[2], (std::vector<Rect>{{0, 0, 300, 100}})) << "a new size repaints all of it";

    // The shown frame's texts were measured at the old text scale: where they painted is not known.
    host->set_text_scale(0.5f);
    host->frame();
    ASSERT_EQ(window.presented.size(), 4u);
    EXPECT_EQ(window.presented[3], (std::vector<Rect>{{0, 0, 300, 100}})) << "a new text scale repaints all of it";
}

// While something animates and nothing changes, frames relax to every other refresh after
// kQuietFrames of them; input or a frame that shows something new brings the display's pace back.
TEST_F(HostTest, FramesThatShowNothingNewRelaxTheirPace) {
    host->attach_window(window);
    probe->animating = true;
    host->frame();  // the first frame shows all of it
    for (std::uint64_t i = 0; i < Host::kQuietFrames; ++i) host->frame();
    ASSERT_FALSE(window.paces.empty());
    EXPECT_EQ(window.paces.back(), FramePace::Relaxed);
    EXPECT_EQ(window.paces[window.paces.size() - 2], FramePace::Display) << "relaxed too soon";

    host->deliver(event::PointerMoved{0, 0}, {});
    EXPECT_EQ(window.paces.back(), FramePace::Display) << "input";
    for (std::uint64_t i = 0; i <= Host::kQuietFrames; ++i) host->frame();
    EXPECT_EQ(window.paces.back(), FramePace::Relaxed);
    probe->pointer = {50, 50};  // the frame shows the square somewhere else
    host->frame();
    EXPECT_EQ(window.paces.back(), FramePace::Display) << "a frame that showed something new";
}

TEST_F(HostTest, InputArrivesInPhysicalPixelsWithTheScaleAndAsksForAFrame) {
    host->attach_window(window);
    host->resize(Size{200, 100}, 2.0);
    host->deliver(event::PointerMoved{100, 60}, {});
    ASSERT_EQ(probe->events.size(), 1u);
    EXPECT_EQ(probe->events[0], event::Event(event::PointerMoved{100, 60}));
    EXPECT_EQ(probe->scale_at_event, 2.0);
    EXPECT_EQ(probe->pointer, (Point{50, 30}));
    host->deliver(event::Button{event::PointerButton::Primary, event::ElementState::Pressed}, {});
    EXPECT_EQ(probe->pointer, (Point{50, 30})) << "buttons keep the last position";
    EXPECT_EQ(window.frames, 2) << "each handled event asks for a frame";

    frame();
    ASSERT_EQ(painter.records.size(), 2u);
    EXPECT_EQ(painter.records[1].bounds, (Rect{50, 30, 60, 40})) << "painted under the pointer, in logical pixels";
}

TEST_F(HostTest, DocumentChangesAreCommittedSavedThenSynced) {
    host->attach_store(store, "probe");
    host->sync_document();
    EXPECT_EQ(probe->syncs, 1);
    EXPECT_EQ(store.saves, 0) << "an unchanged document is not saved";

    host->deliver(event::PointerMoved{1, 1}, {});
    EXPECT_EQ(store.saves, 0);
    EXPECT_EQ(probe->syncs, 1);

    host->deliver(event::character_key("x"), {});
    EXPECT_EQ(store.saves, 1);
    EXPECT_EQ(probe->syncs, 2);
    EXPECT_EQ(store.document().pending_ops(), 0u) << "the change was committed";

    EXPECT_TRUE(host->activate("probe.type", a11y::SemanticAction{a11y::SemanticActionKind::Activate, {}}));
    EXPECT_EQ(store.saves, 2) << "an accessibility action's change is kept too";
    EXPECT_FALSE(host->activate("other", a11y::SemanticAction{a11y::SemanticActionKind::Activate, {}}));
    EXPECT_EQ(store.saves, 2);
}

TEST_F(HostTest, WhatASyncChangesIsSavedToo) {
    host->attach_store(store, "probe");
    host->sync_document();
    probe->edit_on_sync = true;
    host->deliver(event::character_key("x"), {});
    EXPECT_EQ(probe->syncs, 2);
    EXPECT_EQ(store.saves, 2) << "the typed change, then the sync's own";
    EXPECT_EQ(store.document().pending_ops(), 0u);
    host->deliver(event::PointerMoved{1, 1}, {});
    EXPECT_EQ(store.saves, 2) << "nothing new to save";
}

TEST_F(HostTest, AFailedSaveIsTriedAgainLaterAndWithTheNextChange) {
    test_support::CapturedLog log;
    host->attach_store(store, "probe");
    host->attach_window(window);
    store.failures = 1;
    ::testing::internal::CaptureStderr();
    host->deliver(event::character_key("x"), {});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "probe: could not save the document (will try again): disk full\n");
    EXPECT_EQ(log.count("could not save the document: disk full"), 1u);
    ASSERT_EQ(window.delayed.size(), 1u);
    EXPECT_EQ(window.delayed[0].first, Host::kSaveRetry);
    window.delayed[0].second();
    EXPECT_EQ(store.saves, 2) << "the retry saves";

    // A retry that a later save overtook does nothing.
    store.failures = 1;
    ::testing::internal::CaptureStderr();
    host->deliver(event::character_key("x"), {});
    ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(window.delayed.size(), 2u);
    EXPECT_EQ(store.saves, 3);
    host->save();
    EXPECT_EQ(store.saves, 4);
    window.delayed[1].second();
    EXPECT_EQ(store.saves, 4);
}

TEST_F(HostTest, ASaveThatFailedBeforeTheWindowIsTriedAgainOnceItIsThere) {
    host->attach_store(store, "probe");
    store.failures = 1;
    ::testing::internal::CaptureStderr();
    test_support::CapturedLog log;
    host->deliver(event::character_key("x"), {});
    ::testing::internal::GetCapturedStderr();
    host->attach_window(window);
    ASSERT_EQ(window.delayed.size(), 1u);
    window.delayed[0].second();
    EXPECT_EQ(store.saves, 2);
}

// The widget hears how saving goes whenever that changes, and standard error says when saving
// starts failing and when it works again. Changes kept elsewhere only are saved again later too.
// While neither copy takes a write, saving is not working, also when nothing is left to write.
TEST_F(HostTest, TheWidgetHearsWhenSavingStopsAndWorksAgain) {
    using State = DocumentSaving::State;
    const std::string full = "cannot append to /x/a.log: No space left on device";
    host->attach_store(store, "probe");
    host->attach_window(window);
    ::testing::internal::CaptureStderr();
    const auto type = [&] { host->deliver(event::character_key("x"), {}); };
    type();
    store.elsewhere = full;
    type();
    type();
    EXPECT_EQ(window.delayed.size(), 2u) << "what is kept elsewhere only is saved again later";
    store.failures = 1;
    type();
    EXPECT_EQ(host->saving(), std::unexpected(std::string("disk full")));
    store.shared = full;
    window.delayed.back().second();
    EXPECT_EQ(store.saves, 5);
    EXPECT_EQ(host->saving(), (std::expected<void, std::string>{})) << "nothing is left unsaved";
    EXPECT_EQ(probe->savings.back().state, State::NotSaved) << "yet saving does not work";
    store.elsewhere.clear();
    store.shared.clear();
    const int frames = window.frames;
    window.delayed.back().second();
    EXPECT_EQ(store.saves, 6);
    EXPECT_EQ(window.frames, frames + 1) << "a retry that found saving working again shows it";
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "probe: could not save the document (will try again): disk full\n"
              "probe: the document is saved again\n");
    EXPECT_EQ(probe->savings, (std::vector<DocumentSaving>{{State::KeptElsewhere, "No space left on device", full},
                                                           {State::NotSaved, "disk full", "disk full"},
                                                           {State::Saved, "", ""}}));
}

TEST_F(HostTest, OtherReplicasChangesAreMergedOnTheWindowsThread) {
    host->attach_store(store, "probe");
    host->attach_window(window);
    ASSERT_TRUE(store.listener);

    store.changed_outside = true;
    std::thread([&] { store.listener(); }).join();
    EXPECT_EQ(store.merges, 0) << "merged on the folder watcher's thread";
    ASSERT_TRUE(window.run_posted());
    EXPECT_EQ(store.merges, 1);
    EXPECT_EQ(probe->syncs, 1);
    EXPECT_EQ(window.frames, 1);

    store.listener();
    ASSERT_TRUE(window.run_posted());
    EXPECT_EQ(probe->syncs, 1) << "nothing changed: no sync";

    host->detach_window();
    EXPECT_FALSE(store.listener);
}

TEST_F(HostTest, TheRelayIsAskedAfterEveryFrameAndWhenItWakes) {
    device_relay::DeviceRelay relay(device_relay::RelayOptions{20ms, 50ms, 10ms});
    host->set_relay(&relay);
    host->attach_window(window);
    frame();
    frame();
    EXPECT_EQ(probe->exchanges, 2);

    const auto endpoint = simulated_devices::SIMULATED_DEVICES[0].public_key();
    probe->requests.push_back(device_relay::DeviceRequest::connect(endpoint, 7));
    frame();
    // The relay wakes the window's thread, which exchanges: the session's first event arrives.
    while (probe->device_events.empty() && window.run_posted()) {
    }
    ASSERT_FALSE(probe->device_events.empty());
    EXPECT_EQ(probe->device_events[0].session_id, 7u);

    host->end_sessions();
    EXPECT_TRUE(probe->ended);
    host->detach_window();
    host->set_relay(nullptr);
}

class CountingBridge : public AccessibilityBridge {
public:
    void refresh_soon() override { ++refreshes; }
    int refreshes = 0;
};

TEST_F(HostTest, TheAccessibilityBridgeHearsOfEveryFrame) {
    CountingBridge bridge;
    host->set_accessibility(&bridge);
    frame();
    frame();
    EXPECT_EQ(bridge.refreshes, 2);
    const a11y::AccessNode tree = host->accessibility_tree();
    EXPECT_EQ(tree.role, a11y::AccessRole::Window) << "a widget without a tree is one window node";
    EXPECT_EQ(tree.label, "Probe");
}

}  // namespace
}  // namespace zavo_ui::host
