#pragma once
// Files that tests write and read back.
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>

namespace test_support {

// The file's bytes; empty when it cannot be read.
inline std::string read_text(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Replaces the file's content with the bytes.
inline void write_bytes(const std::filesystem::path& p, std::span<const std::uint8_t> b) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// Adds the bytes at the end of the file.
inline void append_bytes(const std::filesystem::path& p, std::span<const std::uint8_t> b) {
    std::ofstream out(p, std::ios::binary | std::ios::app);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// The read, write and execute bits of what the path leads to; 0 when there is nothing.
inline unsigned permission_bits(const std::filesystem::path& p) {
    struct stat st {};
    ::stat(p.c_str(), &st);
    return st.st_mode & 0777;
}

}  // namespace test_support
