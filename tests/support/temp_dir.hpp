#pragma once
// A private temporary folder for tests and benchmarks: made by mkdtemp (mode 0700) and removed
// with everything in it on destruction.
#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

namespace test_support {

class TempDir {
public:
    // A new folder named `prefix` and six random characters, inside `parent`. Throws
    // std::system_error when it cannot be made.
    explicit TempDir(const std::string& prefix,
                     const std::filesystem::path& parent = std::filesystem::temp_directory_path()) {
        std::string tmpl = (parent / (prefix + "XXXXXX")).string();
        if (!::mkdtemp(tmpl.data())) throw std::system_error(errno, std::generic_category(), "mkdtemp " + tmpl);
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace test_support
