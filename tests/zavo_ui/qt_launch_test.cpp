// The launcher as a user meets it: the gallery program started with options and environments.
#include <QImage>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "qt_test_app.hpp"
#include "support/files.hpp"
#include "support/temp_dir.hpp"
#include "zavo_ui/theme.hpp"

extern char** environ;

namespace zavo_ui::qt {
namespace {

namespace fs = std::filesystem;

struct ProcessResult {
    int status = -1;
    std::string err;
};

class QtLaunch : public ::testing::Test {
protected:
    void SetUp() override {
        testing::offscreen_app();
        fs::create_directories(dir / "runtime");
        fs::permissions(dir / "runtime", fs::perms::owner_all);
    }

    // Runs the gallery with `args` in an environment without any display variable, plus `env`.
    ProcessResult run(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
        const pid_t pid = start(std::move(args), std::move(env));
        return pid > 0 ? finish(pid) : ProcessResult{};
    }

    // Starts the gallery as run() does, its standard output going to `out` below the test folder.
    pid_t start(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
        const std::string program = std::string(REMOTE_BINARY_DIR) + "/zavo_ui_gallery";
        std::vector<std::string> envs;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('='));
            if (name == "DISPLAY" || name == "WAYLAND_DISPLAY" || name == "QT_QPA_PLATFORM" ||
                name == "XDG_RUNTIME_DIR") {
                continue;
            }
            envs.push_back(entry);
        }
        envs.push_back("XDG_RUNTIME_DIR=" + (dir / "runtime").string());
        for (const auto& [k, v] : env) envs.push_back(k + "=" + v);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& e : envs) envp.push_back(e.data());
        envp.push_back(nullptr);

        const std::string err_path = (dir / "stderr").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const std::string out_path = (dir / "out").string();
        posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = 0;
        if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
            ADD_FAILURE() << "cannot start " << program;
            return -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

    ProcessResult finish(pid_t pid) {
        const std::string err_path = (dir / "stderr").string();
        ProcessResult out;
        int status = 0;
        waitpid(pid, &status, 0);
        out.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        out.err = test_support::read_text(err_path);
        return out;
    }

    test_support::TempDir tmp_{"zavo-ui-launch-"};
    fs::path dir = tmp_.path();
};

TEST_F(QtLaunch, WithoutADisplayItSaysWhichVariablesToSet) {
    const ProcessResult r = run({});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("cannot open a window"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("DISPLAY"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("QT_QPA_PLATFORM"), std::string::npos) << r.err;
}

TEST_F(QtLaunch, ADisplayThatCannotBeOpenedIsAClearFailureNotACrash) {
    const ProcessResult r = run({}, {{"DISPLAY", ":64999"}});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("cannot open a window"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\":64999\""), std::string::npos) << r.err;
}

TEST_F(QtLaunch, ScreenshotRendersWithoutADisplay) {
    const std::string png = (dir / "shot.png").string();
    const ProcessResult r = run({"--screenshot", png, "--size", "320x200", "--scale", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    QImage image(QString::fromStdString(png));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(640, 400));
    const Color ground = theme::Theme::dark().colors.background;
    const QRgb corner = image.pixel(638, 398);
    EXPECT_NEAR(qRed(corner), ground.r * 255, 2);
    EXPECT_NEAR(qGreen(corner), ground.g * 255, 2);
    EXPECT_NEAR(qBlue(corner), ground.b * 255, 2);
}

TEST_F(QtLaunch, ScreenshotUsesTheProgramsWindowSize) {
    const std::string png = (dir / "default.png").string();
    const ProcessResult r = run({"--screenshot=" + png, "--view-state=colors"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(QImage(QString::fromStdString(png)).size(), QSize(1080, 720));
}

TEST_F(QtLaunch, BadInputIsRefusedWithAMessage) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* message;
    } cases[] = {
        {{"--size", "wide"}, 2, "invalid --size \"wide\""},
        {{"--bogus"}, 2, "unknown option \"--bogus\""},
        {{"--screenshot", "/nonexistent-dir/x/shot.png"}, 1, "cannot write the screenshot /nonexistent-dir/x/shot.png"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front());
        const ProcessResult r = run(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

TEST_F(QtLaunch, AWindowClosesCleanlyOnTerminate) {
    const pid_t pid = start({}, {{"QT_QPA_PLATFORM", "offscreen"}, {"SPDLOG_LEVEL", "debug"}});
    ASSERT_GT(pid, 0);
    // Wait for the first frame in the log on standard error (a loaded machine may take a while).
    const auto painted = [&] {
        return test_support::read_text(dir / "stderr").find("frame 1 painted") != std::string::npos;
    };
    for (int i = 0; i < 500 && !painted(); ++i) usleep(10'000);
    EXPECT_TRUE(painted());
    kill(pid, SIGTERM);
    const ProcessResult r = finish(pid);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test_support::read_text(dir / "out"), "");  // the log never goes to standard output
}

TEST_F(QtLaunch, AnUnknownViewStateIsNamedAndTheProgramGoesOn) {
    const std::string png = (dir / "unknown.png").string();
    const ProcessResult r = run({"--view-state", "nowhere", "--screenshot", png});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("unknown view state \"nowhere\" (known: widgets, text, colors)"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(png));
}

}  // namespace
}  // namespace zavo_ui::qt
