#include "zavo_ui/host/launch.hpp"

#include <spdlog/cfg/env.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <fstream>
#include <iterator>

#include "worker_threads/worker_threads.hpp"
#include "zavo_ui/app.hpp"
#include "zavo_ui/persist.hpp"

namespace zavo_ui::host {
namespace {

// The opened document as the host keeps it.
class PersistedStore final : public DocumentStore {
public:
    explicit PersistedStore(std::unique_ptr<persist::PersistedDocument> document) : document_(std::move(document)) {}

    crdt::Document& document() override { return document_->document(); }
    std::expected<bool, std::string> save_changes() override { return document_->save_changes(); }
    std::string kept_elsewhere() const override { return document_->private_problem(); }
    std::string shared_problem() const override { return document_->shared_problem(); }
    std::optional<std::string> replica_id() const override { return document_->actor(); }
    bool merge_from_folder() override { return document_->merge_from_folder(); }
    void set_change_listener(std::function<void()> listener) override {
        document_->set_change_listener(std::move(listener));
    }

private:
    std::unique_ptr<persist::PersistedDocument> document_;
};

}  // namespace

CommandLine CommandLine::of_process() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> words;
    std::size_t start = 0;
    while (start < all.size()) {
        const std::size_t end = all.find('\0', start);
        words.push_back(all.substr(start, end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    CommandLine out;
    if (words.empty()) {
        out.program = "zavo-app";
        return out;
    }
    const auto slash = words.front().rfind('/');
    out.program = slash == std::string::npos ? words.front() : words.front().substr(slash + 1);
    out.args.assign(words.begin() + 1, words.end());
    return out;
}

void fail(const std::string& program, const std::string& message, int status) {
    std::fprintf(stderr, "%s: %s\n", program.c_str(), message.c_str());
    std::fflush(stderr);
    std::exit(status);
}

void log_to_standard_error() {
    spdlog::set_default_logger(
        std::make_shared<spdlog::logger>("", std::make_shared<spdlog::sinks::stderr_color_sink_mt>()));
    spdlog::cfg::load_env_levels();
}

std::string window_title(const launch::LaunchSpec& spec) {
    const auto dot = spec.app_id.rfind('.');
    std::string title = dot == std::string::npos ? spec.app_id : spec.app_id.substr(dot + 1);
    if (title.empty()) title = "Application";
    title[0] = char(std::toupper(static_cast<unsigned char>(title[0])));
    return title;
}

std::optional<std::string> unknown_view_state(const launch::LaunchSpec& spec, const FrameworkOptions& options) {
    const auto& known = spec.view_states;
    if (!options.view_state || known.empty() ||
        std::find(known.begin(), known.end(), *options.view_state) != known.end()) {
        return std::nullopt;
    }
    return fmt::format("unknown view state \"{}\" (known: {})", *options.view_state, fmt::join(known, ", "));
}

std::expected<launch::RootWidget, std::string> build_root(const launch::LaunchSpec& spec,
                                                          const FrameworkOptions& options, const DocumentStore* store) {
    launch::RootWidget root;
    if (spec.build_initial_state) {
        auto built = spec.build_initial_state(
            launch::LaunchOptions{options.view_state, store ? store->replica_id() : std::nullopt});
        if (!built) return std::unexpected(fmt::format("cannot build the application state: {}", built.error()));
        root = std::move(*built);
    } else if (spec.new_default_state) {
        root = spec.new_default_state();
    }
    if (!root) return std::unexpected("the launch record builds no application state");
    return root;
}

launch::WindowSize first_window_size(const launch::LaunchSpec& spec, const FrameworkOptions& options) {
    const launch::WindowSize size = options.size ? *options.size : spec.window_size ? spec.window_size() : kDefaultSize;
    return size.width == 0 || size.height == 0 ? kDefaultSize : size;
}

zavo_actions::ActionRegistry registered_actions(const launch::LaunchSpec& spec) {
    zavo_actions::ActionRegistry registry;
    if (spec.register_actions) {
        app::App application(registry);
        spec.register_actions(application);
    }
    return registry;
}

std::expected<std::unique_ptr<DocumentStore>, std::string> open_store(const launch::LaunchSpec& spec) {
    if (!spec.open_document) return nullptr;
    auto opened = spec.open_document(spec.app_id);
    if (!opened) return std::unexpected(fmt::format("cannot open the saved document: {}", opened.error()));
    if (*opened == nullptr) return nullptr;
    return std::make_unique<PersistedStore>(std::move(*opened));
}

void end_sessions_and_wait(Host& host) {
    host.end_sessions();
    worker_threads::wait_or_leave(0);
}

}  // namespace zavo_ui::host
