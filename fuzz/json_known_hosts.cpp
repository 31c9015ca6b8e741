// Decodes arbitrary bytes as the host-key store file; whatever decodes must be written back
// as a file that decodes to the same store.
#include "known_hosts/known_hosts_json.hpp"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto store = remote::KnownHosts::deserialize_json(bytes);
    if (!store) {
        if (store.error().to_string().empty()) std::abort();
        return 0;
    }
    auto again = remote::KnownHosts::deserialize_json(store->serialize());
    if (!again || *again != *store) std::abort();
    return 0;
}
