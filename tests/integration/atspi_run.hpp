#pragma once
// Runs a pyatspi checker script (tests/integration/*_check.py) inside a private D-Bus session
// with a time limit, for the end-to-end accessibility tests.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/files.hpp"
#include "support/process.hpp"

extern char** environ;

namespace atspi_test {

// Empty when the checker can run here, else what is missing.
inline std::string unavailable() {
    for (const char* tool : {"Xvfb", "dbus-run-session", "timeout"})
        if (!test_support::on_path(tool))
            return std::string(tool) + " is not installed (scripts/install-deps installs it)";
    if (!std::filesystem::exists("/usr/libexec/at-spi-bus-launcher")) return "at-spi2-core is not installed";
    if (std::system("/usr/bin/python3 -c 'import pyatspi' >/dev/null 2>&1") != 0)
        return "python3-pyatspi is not installed";
    return {};
}

struct Result {
    bool ok = false;     // the checker exited with status 0
    std::string output;  // what it printed, standard error included
};

// Runs /usr/bin/python3 with the script and its arguments; the environment is this process's.
inline Result run_checker(const std::string& script, const std::vector<std::string>& script_args, int seconds) {
    namespace fs = std::filesystem;
    const fs::path out = fs::temp_directory_path() / ("atspi-check-" + std::to_string(::getpid()) + ".log");
    std::vector<std::string> args = {"timeout",
                                     "-k",
                                     "5",
                                     std::to_string(seconds),
                                     "dbus-run-session",
                                     "--",
                                     "/usr/bin/python3",
                                     std::string(REMOTE_SOURCE_DIR) + "/tests/integration/" + script};
    args.insert(args.end(), script_args.begin(), script_args.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    Result result;
    if (::posix_spawnp(&pid, "timeout", &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        result.output = "could not start the checker";
        return result;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    result.output = test_support::read_text(out);
    fs::remove(out);
    return result;
}

}  // namespace atspi_test
