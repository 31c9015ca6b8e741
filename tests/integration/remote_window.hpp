#pragma once
// The program in a real window, the way a person uses it: Remote on a private Xvfb display,
// its saved connections seeded into a private data folder, driven through X with xdotool and
// captured with xwd.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "doc/profile_document.hpp"
#include "support/env.hpp"
#include "support/files.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"
#include "support/wait.hpp"
#include "tests/integration/vnc_servers.hpp"
#include "zavo_ui/geometry.hpp"
#include "zavo_ui/persist.hpp"

namespace window_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Why the window tests cannot run here, or empty.
inline std::string unavailable() {
    for (const char* tool : {"Xvfb", "xdotool", "xwd", "timeout"})
        if (!test_support::on_path(tool))
            return std::string(tool) + " is not installed (scripts/install-deps installs it)";
    if (!fs::exists(std::string(REMOTE_BINARY_DIR) + "/remote")) return "the program is not built";
    return {};
}

// Whether `pred` holds within `timeout`, asked every 50 ms.
template <typename Pred>
bool eventually(Pred pred, std::chrono::milliseconds timeout = 20s) {
    return test_support::eventually(std::move(pred), timeout, 50ms);
}

inline bool log_has(const std::string& path, const std::string& text) {
    return test_support::read_text(path).find(text) != std::string::npos;
}

// An X capture (xwd's format) read into RGB.
struct Capture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> rgb;  // 3 bytes a pixel, rows top to bottom

    const std::uint8_t* at(std::uint32_t x, std::uint32_t y) const { return &rgb[(std::size_t(y) * width + x) * 3]; }

    // Reads a 24- or 32-bit TrueColor dump; an empty capture when the file is anything else.
    static Capture read_xwd(const fs::path& path) {
        const std::string bytes = test_support::read_text(path);
        auto u32 = [&](std::size_t at) {
            if (at + 4 > bytes.size()) return 0u;
            std::uint32_t v = 0;
            for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | std::uint8_t(bytes[at + i]);
            return v;
        };
        const std::uint32_t header = u32(0), width = u32(16), height = u32(20), byte_order = u32(28);
        const std::uint32_t bpp = u32(44), stride = u32(48), ncolors = u32(76);
        const std::uint32_t masks[3] = {u32(56), u32(60), u32(64)};
        const std::size_t start = std::size_t(header) + std::size_t(ncolors) * 12;
        Capture c;
        if (bpp != 32 || width == 0 || start + std::size_t(stride) * height > bytes.size()) return c;
        c.width = width;
        c.height = height;
        c.rgb.resize(std::size_t(width) * height * 3);
        for (std::uint32_t y = 0; y < height; ++y) {
            for (std::uint32_t x = 0; x < width; ++x) {
                const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data() + start + std::size_t(y) * stride +
                                                                      x * 4);
                const std::uint32_t v = byte_order == 0 ? (p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24)
                                                        : (std::uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]);
                for (int ch = 0; ch < 3; ++ch) {
                    const std::uint32_t m = masks[ch];
                    c.rgb[(std::size_t(y) * width + x) * 3 + ch] = m ? std::uint8_t((v & m) / (m & -m)) : 0;
                }
            }
        }
        return c;
    }

    // How many pixels of `box` are reddish (the destructive buttons' outline and text).
    int reddish_in(const zavo_ui::Rect& box) const {
        int n = 0;
        for (auto y = std::uint32_t(std::max(0.0, box.y0)); y < std::min<double>(box.y1, height); ++y)
            for (auto x = std::uint32_t(std::max(0.0, box.x0)); x < std::min<double>(box.x1, width); ++x)
                if (at(x, y)[0] > 180 && at(x, y)[1] < 130 && at(x, y)[2] < 130) ++n;
        return n;
    }

    // The box of the pixels within `tolerance` of the colour; none when there are none.
    std::optional<zavo_ui::Rect> box_of(std::uint8_t r, std::uint8_t g, std::uint8_t b, int tolerance = 8) const {
        std::optional<zavo_ui::Rect> box;
        for (std::uint32_t y = 0; y < height; ++y) {
            for (std::uint32_t x = 0; x < width; ++x) {
                const std::uint8_t* p = at(x, y);
                if (std::abs(p[0] - r) > tolerance || std::abs(p[1] - g) > tolerance || std::abs(p[2] - b) > tolerance)
                    continue;
                if (!box) box = zavo_ui::Rect{double(x), double(y), double(x + 1), double(y + 1)};
                box->x0 = std::min(box->x0, double(x));
                box->y0 = std::min(box->y0, double(y));
                box->x1 = std::max(box->x1, double(x + 1));
                box->y1 = std::max(box->y1, double(y + 1));
            }
        }
        return box;
    }
};

// Remote in a 1280 x 800 window on its own Xvfb display, with the given saved connections.
class RemoteWindow {
public:
    // `env`: the program's variables besides the display and its private folders.
    RemoteWindow(const std::vector<remote::SavedConnection>& connections, std::vector<std::string> env) {
        const fs::path data = dir_.path() / "data", state = dir_.path() / "state", runtime = dir_.path() / "runtime";
        fs::create_directories(runtime);
        fs::permissions(runtime, fs::perms::owner_all);
        guard_.set("XDG_DATA_HOME", data.c_str());
        guard_.set("XDG_STATE_HOME", state.c_str());
        guard_.set("XDG_RUNTIME_DIR", runtime.c_str());
        guard_.set("ZAVO_REMOTE_SAMPLE", nullptr);
        seed(connections);
        if (!start_display()) return;
        env.push_back("DISPLAY=:" + std::to_string(display_));
        env.push_back("QT_QPA_PLATFORM=xcb");
        program_ = vnc_it::Process({std::string(REMOTE_BINARY_DIR) + "/remote"}, log(), std::move(env));
        const std::string found = xdo("search --sync --onlyvisible --name '^Remote$'", 20);
        window_ = found.substr(0, found.find('\n'));
        if (window_.empty()) return;
        xdo("windowfocus " + window_);
        xdo("mousemove --window " + window_ + " 640 400");
    }
    ~RemoteWindow() {
        program_.stop();
        x_.stop();
    }

    bool ok() const { return !window_.empty(); }
    // Quits the program as the desktop does (SIGTERM, and SIGKILL when it has not left within
    // the ten seconds a session manager grants); its wait status.
    int quit() { return program_.stop(std::chrono::seconds(10)); }
    int display() const { return display_; }
    // What the program wrote to standard error.
    std::string log() const { return (dir_.path() / "remote.log").string(); }
    const fs::path& dir() const { return dir_.path(); }

    // Runs xdotool on the display; its output. A call that does not finish in time gives nothing.
    std::string xdo(const std::string& args, int seconds = 10) const {
        return test_support::output_of("DISPLAY=:" + std::to_string(display_) + " timeout " + std::to_string(seconds) +
                                       " xdotool " + args + " 2>/dev/null");
    }
    void key(const std::string& keys) const { xdo("key --delay 40 " + keys); }
    void type(const std::string& text) const { xdo("type --delay 40 '" + text + "'"); }
    // Opens the selected saved connection as a person does: Enter asks, Enter confirms.
    void open_selected() const {
        key("Return");
        std::this_thread::sleep_for(300ms);
        key("Return");
    }
    // Captures the window (as `name`) until `find` locates the remote picture in it, for at most
    // 20 seconds; the last capture is left in `shot`.
    std::optional<zavo_ui::Rect> wait_for_picture(
        const std::string& name, Capture& shot,
        const std::function<std::optional<zavo_ui::Rect>(const Capture&)>& find) const {
        std::optional<zavo_ui::Rect> picture;
        test_support::eventually(
            [&] {
                shot = capture(name);
                picture = find(shot);
                return picture.has_value();
            },
            20s, 50ms);
        return picture;
    }
    // Moves the pointer to (x, y) of the window.
    void move_to(double x, double y) const {
        xdo("mousemove --window " + window_ + " " + std::to_string(int(x)) + " " + std::to_string(int(y)));
        std::this_thread::sleep_for(200ms);
    }
    void click(double x, double y, int button = 1) const {
        move_to(x, y);
        xdo("click " + std::to_string(button));
    }

    // A capture of the window, also kept as `name`.xwd in the build's test-output folder.
    Capture capture(const std::string& name) const {
        const fs::path out = fs::path(REMOTE_BINARY_DIR) / "test-output";
        fs::create_directories(out);
        const fs::path file = out / (name + ".xwd");
        test_support::output_of("DISPLAY=:" + std::to_string(display_) + " xwd -silent -id " + window_ + " -out " +
                                file.string() + " 2>&1");
        return Capture::read_xwd(file);
    }

    // Whether the window shows a connected session's header: its Disconnect button top right.
    bool shows_connected_session(const std::string& name) const {
        return capture(name).reddish_in({1280 - 122, 8, 1280 - 12, 40}) > 100;
    }

private:
    // Writes the connections into the document the program opens.
    static void seed(const std::vector<remote::SavedConnection>& connections) {
        auto document = zavo_ui::persist::open("dev.zavo.remote");
        ASSERT_TRUE(document) << document.error();
        for (const auto& c : connections) remote::store_connection((*document)->document(), c);
        ASSERT_TRUE((*document)->save_changes());
    }

    bool start_display() {
        const auto display = vnc_it::start_x_server(x_, "Xvfb",
                                                    {"-screen", "0", "1280x800x24", "-nolisten", "tcp", "-noreset"},
                                                    (dir_.path() / "xvfb.log").string());
        if (!display) return false;
        display_ = *display;
        return true;
    }

    test_support::TempDir dir_{"remote-window-"};
    test_support::EnvGuard guard_;
    vnc_it::Process x_;
    vnc_it::Process program_;
    int display_ = -1;
    std::string window_;
};

}  // namespace window_test
