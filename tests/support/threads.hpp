#pragma once
// The threads of this process, as the tests that watch workers come and go see them.
#include <filesystem>
#include <fstream>
#include <string>

namespace test_support {

// How many threads of this process carry the name.
inline int threads_named(const std::string& name) {
    int n = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream in(task.path() / "comm");
        std::string comm;
        std::getline(in, comm);
        if (comm == name) ++n;
    }
    return n;
}

}  // namespace test_support
