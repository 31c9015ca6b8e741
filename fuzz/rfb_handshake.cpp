// Arbitrary server bytes through the handshake and then the session's message handling.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "rfb/vnc_session.hpp"

using namespace remote::rfb;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::optional<std::string> password = (data[0] & 1) ? std::optional<std::string>("secret") : std::nullopt;
    MemoryStream stream(std::span(data + 1, size - 1));
    auto hs = run_handshake(stream, password);
    if (!hs) return 0;
    const ServerInit& init = hs->server_init;
    if (init.width == 0 || init.height == 0 || std::uint64_t{init.width} * init.height > MAX_FRAMEBUFFER_PIXELS)
        std::abort();                                                  // the handshake lets only valid sizes through
    if (std::uint64_t{init.width} * init.height > 1u << 20) return 0;  // keep runs fast
    Framebuffer fb(init.width, init.height);
    for (int messages = 0; messages < 64; ++messages) {
        auto type = read_u8(stream);
        if (!type) break;
        auto handled = handle_server_message(stream, *type, fb);
        if (!handled) break;
        if (*handled && fb.generation == 0) std::abort();
    }
    return 0;
}
