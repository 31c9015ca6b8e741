// Decodes arbitrary bytes as an operation; whatever decodes must encode back to text that
// decodes to the same operation.
#include "codecs/remote_operation.hpp"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto operation = remote::RemoteOperation::deserialize_json(bytes);
    if (!operation) {
        if (operation.error().to_string().empty()) std::abort();
        return 0;
    }
    auto again = remote::RemoteOperation::deserialize_json(operation->serialize_json_writer());
    if (!again || *again != *operation) std::abort();
    return 0;
}
