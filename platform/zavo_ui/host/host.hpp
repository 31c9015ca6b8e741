#pragma once
// The framework's host loop: drives a root widget through layout, frames, input, accessibility
// activations, the document (commit, save, sync) and the device relay. A window feeds it events
// and asks it for frames; it asks the window for the next frame when the widget wants one.
#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crdt/document.hpp"
#include "zavo_ui/a11y.hpp"
#include "zavo_ui/clipboard.hpp"
#include "zavo_ui/events.hpp"
#include "zavo_ui/host/platform.hpp"
#include "zavo_ui/layout.hpp"
#include "zavo_ui/relay/relay.hpp"
#include "zavo_ui/scene.hpp"
#include "zavo_ui/widget.hpp"

namespace zavo_ui::theme {
struct Theme;
}

namespace zavo_ui::host {

// Where the document is kept between runs.
class DocumentStore {
public:
    virtual ~DocumentStore() = default;
    virtual crdt::Document& document() = 0;
    // Makes this replica's new changes durable; on failure they are kept nowhere but in memory,
    // and stay for the next call.
    virtual std::expected<bool, std::string> save_changes() = 0;
    // Why the changes, durable all the same, are not kept in this device's own copy; empty when
    // they are.
    virtual std::string kept_elsewhere() const { return {}; }
    // Why the last write to the shared folder failed; empty when it worked.
    virtual std::string shared_problem() const { return {}; }
    // This device's replica of the document: the same at each start on this device.
    virtual std::optional<std::string> replica_id() const { return std::nullopt; }
    // Merges what other replicas wrote; true when the document changed.
    virtual bool merge_from_folder() = 0;
    // `listener` runs on another thread whenever other replicas wrote something.
    virtual void set_change_listener(std::function<void()> listener) = 0;
};

class Host {
public:
    // How long a failed save waits before it is tried again (the next change tries sooner).
    static constexpr std::chrono::milliseconds kSaveRetry{5000};

    // `theme` and `text` must outlive the host.
    Host(std::unique_ptr<Widget> root, const theme::Theme& theme, ScaledTextRenderer& text, Size logical_size,
         double scale);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    Widget& root() { return *root_; }

    // The document the widget follows, in memory only.
    void attach_document(crdt::Document& document);
    // The document `store` keeps: every change the widget makes is saved at once, and a save
    // that fails, or keeps the changes elsewhere only, is tried again with the next change and
    // after kSaveRetry. The widget hears how saving goes whenever that changes (document_saving,
    // followed by a frame), and standard error says when saving starts failing and when it works
    // again, prefixed with `program`.
    void attach_store(DocumentStore& store, std::string program);
    crdt::Document* document() { return document_; }
    void set_clipboard(Clipboard* clipboard) { clipboard_ = clipboard; }
    void set_relay(device_relay::DeviceRelay* relay) { relay_ = relay; }
    void set_accessibility(AccessibilityBridge* bridge) { access_ = bridge; }

    // Frames go to `window` from now on, and other replicas' changes and the relay's events are
    // handled on its thread as they come. detach_window() ends both before the window goes.
    void attach_window(Window& window);
    void detach_window();

    // Hands the document to the widget's sync (after loading, and after outside changes).
    void sync_document();
    // Commits what the widget, or an action applied from outside, changed in the document; when
    // it changed, saves it and lets the widget sync.
    void after_change();
    // Saves the document's new changes (see attach_store).
    void save();
    // Why the document's latest changes are kept in memory only (the last save failed).
    std::expected<void, std::string> saving() const;

    // The window's size in logical pixels and its device pixels per logical pixel; true when
    // either changed.
    bool resize(Size logical_size, double scale);
    Size logical_size() const { return size_; }
    double scale() const { return scale_; }
    void set_reduced_motion(bool reduced);
    void set_text_scale(float scale);

    // One frame: layout when due, the widget's paint into a new scene, the relay's exchange and
    // the document's commit; then the accessibility bridge hears of it and the next frame is
    // asked for when the widget wants one. A scene that paints what the window shows presents
    // nothing; otherwise the window is asked to repaint where it differs (all of it when the
    // window's size or scale or the text scale changed since it was shown).
    void frame();
    // Replays the last frame's scene through `painter` over `area` (logical pixels; the whole
    // window when empty). The window calls it to repaint what it was asked to, or what it lost.
    void present(FramePainter& painter, std::span<const Rect> area = {});
    // True once a frame was made for the window's current size and scale and the text scale.
    bool has_frame() const { return shown_for_ == made_for(); }
    // An input event in physical pixels.
    void deliver(const event::Event& event, event::Modifiers modifiers);
    // An accessibility action on an element; true when the widget accepted it.
    bool activate(std::string_view element_id, const a11y::SemanticAction& action);
    // The widget's accessibility tree, or a window node with its name when it has none.
    a11y::AccessNode accessibility_tree();
    // Takes the relay's events and hands it the widget's requests.
    void exchange_relay();
    // Ends the widget's live sessions when the program quits, telling the relay.
    void end_sessions();

    // Whether another frame is wanted: the layout is due, a redraw is pending or something
    // animates. The widget's own damage list is not asked: what a frame repaints is where its
    // scene differs from the one shown.
    bool wants_frame();
    // Asks the window for a frame when one is wanted: at the display's pace, or relaxed once
    // kQuietFrames frames in a row showed nothing new with no input, layout or document change
    // between them (a live session that only waits: its output still shows within two
    // refreshes, and the first change or input brings the display's pace back).
    void schedule();
    static constexpr std::uint64_t kQuietFrames = 60;

    // Frames made, and frames that painted anything.
    std::uint64_t frames_painted() const { return frames_; }
    std::uint64_t frames_presented() const { return presented_; }

private:
    void ensure_layout();
    EventContext event_context();
    // Tries the save again after kSaveRetry, unless another save comes first.
    void retry_save();
    // Tells the widget and standard error when saving changed from one state to another.
    void tell_saving(DocumentSaving now);

    std::unique_ptr<Widget> root_;
    const theme::Theme& theme_;
    ScaledTextRenderer& text_;
    Size size_;
    double scale_;
    bool layout_dirty_ = true;
    layout::LayoutTree tree_;
    layout::NodeWidgetMap widgets_;
    layout::NodeId window_node_ = 0;
    layout::NodeId root_node_ = 0;
    Scene shown_;  // the last frame's scene, which the window shows
    Scene next_;   // where the next frame is painted, kept for its storage
    // What a frame is made for. Texts are measured at the current text scale, so a scene made at
    // another one is not diffed but repainted whole.
    struct MadeFor {
        Size size;
        double scale;
        float text_scale;
        friend bool operator==(const MadeFor&, const MadeFor&) = default;
    };
    MadeFor made_for() const { return {size_, scale_, text_.text_scale()}; }
    std::optional<MadeFor> shown_for_;
    crdt::Document* document_ = nullptr;
    std::vector<crdt::ChangeHash> heads_;
    DocumentStore* store_ = nullptr;
    std::string program_;
    std::uint64_t saves_ = 0;
    std::string save_failure_;  // why the last save failed; empty when it worked
    DocumentSaving saving_;     // what the widget was last told
    Window* window_ = nullptr;
    Clipboard* clipboard_ = nullptr;
    device_relay::DeviceRelay* relay_ = nullptr;
    AccessibilityBridge* access_ = nullptr;
    Point pointer_;
    std::uint64_t frames_ = 0;
    std::uint64_t presented_ = 0;
    std::uint64_t quiet_frames_ = 0;  // frames in a row that showed nothing new
    bool log_frames_;  // at debug level, each frame is logged
};

}  // namespace zavo_ui::host
