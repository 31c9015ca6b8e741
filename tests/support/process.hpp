#pragma once
// Programs that tests and benchmarks run: whether one is installed, and what a command prints.
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

namespace test_support {

// Whether an executable of this name is in one of the PATH folders.
inline bool on_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return true;
    return false;
}

// What the shell command writes to its standard output; empty when it cannot be started.
inline std::string output_of(const std::string& command) {
    std::string out;
    std::unique_ptr<FILE, decltype(&::pclose)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) return out;
    std::array<char, 512> buf;
    while (std::fgets(buf.data(), buf.size(), pipe.get())) out += buf.data();
    return out;
}

}  // namespace test_support
