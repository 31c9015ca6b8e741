// Decodes arbitrary bytes as a document-changing action; whatever decodes must encode back to
// text that decodes to the same action.
#include "codecs/remote_action.hpp"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto action = remote::RemoteAction::deserialize_json(bytes);
    if (!action) {
        if (action.error().to_string().empty()) std::abort();
        return 0;
    }
    (void)action->to_debug_string();
    auto again = remote::RemoteAction::deserialize_json(action->serialize_json_writer());
    if (!again || *again != *action) std::abort();
    if (action->serialize().dump() != action->serialize_json_writer()) std::abort();
    return 0;
}
