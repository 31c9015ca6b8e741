#include "zavo_ui/host/host.hpp"

#include <spdlog/spdlog.h>

#include <cstdio>
#include <cstdlib>

#include "zavo_ui/host/damage.hpp"
#include "zavo_ui/persist_files.hpp"
#include "zavo_ui/theme.hpp"

namespace zavo_ui::host {

Host::Host(std::unique_ptr<Widget> root, const theme::Theme& theme, ScaledTextRenderer& text, Size logical_size,
           double scale)
    : root_(std::move(root)),
      theme_(theme),
      text_(text),
      size_(logical_size),
      scale_(scale),
      log_frames_(spdlog::should_log(spdlog::level::debug)) {
    window_node_ = *tree_.new_leaf(layout::Style{});
    root_node_ = root_->build_layout(tree_, widgets_);
    if (auto added = tree_.add_child(window_node_, root_node_); !added) {
        spdlog::critical("layout: {}", added.error());
        std::abort();
    }
}

Host::~Host() = default;

void Host::attach_document(crdt::Document& document) {
    document_ = &document;
    heads_ = document.get_heads();
}

void Host::attach_store(DocumentStore& store, std::string program) {
    attach_document(store.document());
    store_ = &store;
    program_ = std::move(program);
}

void Host::attach_window(Window& window) {
    window_ = &window;
    if (store_ != nullptr) {
        store_->set_change_listener([this, &window] {
            window.post([this] {
                if (store_->merge_from_folder()) {
                    sync_document();
                    schedule();
                }
            });
        });
    }
    if (relay_ != nullptr) {
        relay_->set_wake([this, &window] {
            window.post([this] {
                exchange_relay();
                schedule();
            });
        });
    }
    if (saving_.state != DocumentSaving::State::Saved) retry_save();
}

void Host::detach_window() {
    if (relay_ != nullptr) relay_->set_wake({});
    if (store_ != nullptr) store_->set_change_listener({});
    window_ = nullptr;
}

void Host::sync_document() {
    if (document_ == nullptr) return;
    root_->sync_document(*document_);
    // A sync may seed an empty document: that is a change to keep too.
    after_change();
}

void Host::after_change() {
    if (document_ == nullptr) return;
    // The host's pending heads only say that actions were dispatched; the heads tell what
    // changed, whoever changed it.
    root_->take_host_pending();
    document_->commit();
    const auto changed = document_->get_heads();
    if (changed == heads_) return;
    quiet_frames_ = 0;
    save();
    root_->sync_document(*document_);
    heads_ = document_->get_heads();  // commits what the sync itself changed
    // A sync may change the document too (a repair of what replicas merged): kept as well.
    if (heads_ != changed) save();
}

void Host::save() {
    if (store_ == nullptr) return;
    ++saves_;
    auto saved = store_->save_changes();
    save_failure_ = saved ? std::string() : saved.error();
    const std::string elsewhere = saved ? store_->kept_elsewhere() : std::string();
    const std::string& problem = saved ? elsewhere : save_failure_;
    using State = DocumentSaving::State;
    // With nothing new to write, the copies' last writes tell whether saving works.
    const State state = !saved || (!elsewhere.empty() && !store_->shared_problem().empty()) ? State::NotSaved
                        : elsewhere.empty()                                                 ? State::Saved
                                                                                            : State::KeptElsewhere;
    tell_saving(DocumentSaving{state, std::string(persist::error_cause(problem)), problem});
    if (saving_.state != State::Saved) retry_save();  // also for this device's own copy
}

std::expected<void, std::string> Host::saving() const {
    if (!save_failure_.empty()) return std::unexpected(save_failure_);
    return {};
}

void Host::tell_saving(DocumentSaving now) {
    using State = DocumentSaving::State;
    if (now.state == saving_.state) return;
    if (now.state == State::NotSaved) {
        spdlog::warn("could not save the document: {}", now.detail);
        std::fprintf(stderr, "%s: could not save the document (will try again): %s\n", program_.c_str(),
                     now.detail.c_str());
    } else if (saving_.state == State::NotSaved) {
        std::fprintf(stderr, "%s: the document is saved again\n", program_.c_str());
    }
    saving_ = std::move(now);
    root_->document_saving(saving_);
    schedule();  // also when a retry found it, with no input to ask for a frame
}

void Host::retry_save() {
    if (window_ == nullptr) return;  // attach_window retries
    window_->post_after(kSaveRetry, [this, attempt = saves_] {
        if (attempt == saves_) save();
    });
}

bool Host::resize(Size logical_size, double scale) {
    if (logical_size == size_ && scale == scale_) return false;
    size_ = logical_size;
    scale_ = scale;
    layout_dirty_ = true;
    return true;
}

void Host::set_reduced_motion(bool reduced) { root_->set_reduced_motion(reduced); }

void Host::set_text_scale(float scale) {
    if (scale == text_.text_scale()) return;
    text_.set_text_scale(scale);
    layout_dirty_ = true;
}

void Host::ensure_layout() {
    if (!layout_dirty_) return;
    layout_dirty_ = false;
    quiet_frames_ = 0;
    if (auto done = tree_.compute_layout(window_node_, float(size_.width), float(size_.height)); !done) {
        spdlog::critical("layout: {}", done.error());
        std::abort();
    }
    root_->layout(tree_, root_node_, Point{0.0, 0.0});
}

// A redraw the widget asks for while it paints (an animation step) stays for the next frame,
// so the flag is cleared before painting (and after the layout, which this frame shows).
void Host::frame() {
    ensure_layout();
    root_->clear_redraw();
    next_.reset();
    DrawContext draw;
    draw.scale_factor = scale_;
    root_->paint_frame(next_, Affine::identity(), text_, theme_, draw);
    ++frames_;
    const Rect window = Rect::from_origin_size({0.0, 0.0}, size_);
    std::vector<Rect> damage;
    if (has_frame()) {
        damage = scene_damage(shown_, next_, text_);
        for (Rect& r : damage) r = r.intersect(window);
        std::erase_if(damage, [](const Rect& r) { return r.is_empty(); });
    } else {
        damage = {window};
    }
    std::swap(shown_, next_);
    shown_for_ = made_for();
    if (log_frames_) spdlog::debug("frame {} painted, {} rectangles to repaint", frames_, damage.size());
    if (!damage.empty()) {
        ++presented_;
        quiet_frames_ = 0;
        if (window_ != nullptr) window_->present(damage);
    } else {
        ++quiet_frames_;
    }
    exchange_relay();
    after_change();
    if (access_ != nullptr) access_->refresh_soon();
    schedule();
}

void Host::present(FramePainter& painter, std::span<const Rect> area) { painter.paint(shown_, size_, scale_, area); }

EventContext Host::event_context() {
    EventContext ctx;
    ctx.document = document_;
    ctx.clipboard = clipboard_;
    ctx.pointer = pointer_;
    return ctx;
}

void Host::deliver(const event::Event& event, event::Modifiers modifiers) {
    quiet_frames_ = 0;
    ensure_layout();
    if (const auto* moved = std::get_if<event::PointerMoved>(&event)) {
        pointer_ = Point{moved->x / scale_, moved->y / scale_};
    }
    EventContext ctx = event_context();
    bool handled = false;
    root_->handle_event(event, modifiers, ctx, handled, scale_);
    after_change();
    schedule();
}

bool Host::activate(std::string_view element_id, const a11y::SemanticAction& action) {
    quiet_frames_ = 0;
    EventContext ctx = event_context();
    const bool accepted = root_->activate_element(element_id, action, ctx);
    after_change();
    return accepted;
}

a11y::AccessNode Host::accessibility_tree() {
    if (auto tree = root_->accessibility_tree()) return std::move(*tree);
    return a11y::AccessNode(a11y::AccessRole::Window).with_label(root_->widget_name().value_or(""));
}

void Host::exchange_relay() {
    if (relay_ == nullptr) return;
    if (auto* sink = root_->device_session_sink()) relay_->exchange(*sink);
}

void Host::end_sessions() {
    root_->end_sessions();
    exchange_relay();
}

bool Host::wants_frame() { return layout_dirty_ || root_->needs_redraw() || root_->wants_animation_frame(); }

void Host::schedule() {
    if (window_ == nullptr || !wants_frame()) return;
    window_->request_frame(quiet_frames_ >= kQuietFrames ? FramePace::Relaxed : FramePace::Display);
}

}  // namespace zavo_ui::host
