// The review scenes of the real program with sample data, rendered offscreen: a scene looks the
// same on every start, also once an earlier start has saved the sample connections.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/files.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;

constexpr const char* kScenes[] = {"session-ssh",     "session-vnc",        "session-rdp",
                                   "session-zavo",    "session-connecting", "session-failed",
                                   "confirm-connect", "confirm-delete",     "confirm-ssh-trust"};

TEST(ReviewScenes, RenderTheSameOnEveryStartWithOneDataFolder) {
    const std::string program = std::string(REMOTE_BINARY_DIR) + "/remote";
    if (!fs::exists(program)) GTEST_SKIP() << "the program is not built";
    test_support::TempDir tmp("remote-review-scenes.");
    const fs::path dir = tmp.path();
    fs::create_directories(dir / "runtime");
    fs::permissions(dir / "runtime", fs::perms::owner_all);
    auto render = [&](const std::string& scene, int start) {
        // The sample connections name private addresses: no live session may reach them.
        const fs::path data = dir / scene;
        const fs::path png = data / (std::to_string(start) + ".png");
        const std::string command =
            "env -u REMOTE_LIVE_SESSIONS -u DISPLAY -u WAYLAND_DISPLAY ZAVO_REMOTE_SAMPLE=1 QT_QPA_PLATFORM=offscreen"
            " XDG_RUNTIME_DIR=" +
            (dir / "runtime").string() + " XDG_DATA_HOME=" + (data / "data").string() +
            " XDG_STATE_HOME=" + (data / "state").string() + " " + program + " --view-state " + scene +
            " --screenshot " + png.string() + " 2>>" + (dir / "stderr").string() + "; echo $?";
        EXPECT_EQ(test_support::output_of(command), "0\n") << scene << ": " << test_support::read_text(dir / "stderr");
        return test_support::read_text(png);
    };
    // Each scene on a data folder of its own: the first start writes the samples into the empty
    // document, the second finds them there.
    for (const char* scene : kScenes) {
        fs::create_directories(dir / scene);
        const std::string first = render(scene, 1);
        const std::string second = render(scene, 2);
        ASSERT_FALSE(first.empty()) << scene;
        EXPECT_TRUE(first == second) << scene << " differs between two starts";
    }
}

}  // namespace
