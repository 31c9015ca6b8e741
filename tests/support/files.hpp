#pragma once
// Reading back what a test or a server wrote.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace test_support {

// The file's bytes; empty when it cannot be read.
inline std::string read_text(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace test_support
