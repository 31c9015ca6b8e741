#pragma once
// The definitions behind name_lookups.hpp and the program's getaddrinfo: include in exactly one
// source file of a test program.
#include <dlfcn.h>
#include <netdb.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string_view>

#include "support/name_lookups.hpp"

namespace test_support::lookups {

inline std::mutex mutex;
inline std::condition_variable changed;
inline bool stalling = false;
inline int hanging = 0;

}  // namespace test_support::lookups

namespace test_support {

StalledLookups::StalledLookups() {
    std::lock_guard lock(lookups::mutex);
    lookups::stalling = true;
}

StalledLookups::~StalledLookups() {
    std::unique_lock lock(lookups::mutex);
    lookups::stalling = false;
    lookups::changed.notify_all();
    lookups::changed.wait(lock, [] { return lookups::hanging == 0; });
}

int StalledLookups::hanging() const {
    std::lock_guard lock(lookups::mutex);
    return lookups::hanging;
}

}  // namespace test_support

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** found) {
    using namespace test_support::lookups;
    const std::string_view name = node ? node : "";
    // A literal address is never asked of a name server.
    const bool literal_only = hints && (hints->ai_flags & AI_NUMERICHOST);
    if (!literal_only && name.ends_with(".stalls.test")) {
        std::unique_lock lock(mutex);
        ++hanging;
        // Bounded, so that a test that forgets to let go does not hang.
        changed.wait_for(lock, std::chrono::seconds(20), [] { return !stalling; });
        --hanging;
        changed.notify_all();
        return EAI_NONAME;
    }
    if (!literal_only && name.ends_with(".invalid")) return EAI_NONAME;
    static const auto system = reinterpret_cast<decltype(&getaddrinfo)>(::dlsym(RTLD_NEXT, "getaddrinfo"));
    return system(node, service, hints, found);
}
