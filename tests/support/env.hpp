#pragma once
// Environment variables set for one test and restored afterwards.
#include <stdlib.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace test_support {

class EnvGuard {
public:
    EnvGuard() = default;
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

    // Sets the variable, or clears it when `value` is null; the first call for a name
    // remembers what it was.
    void set(const char* name, const char* value) {
        remember(name);
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~EnvGuard() {
        for (auto& [name, v] : saved_) v ? ::setenv(name.c_str(), v->c_str(), 1) : ::unsetenv(name.c_str());
    }

private:
    void remember(const char* name) {
        for (auto& [n, v] : saved_)
            if (n == name) return;
        const char* v = ::getenv(name);
        saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace test_support
