// The replica-log parser on arbitrary file contents: it must never read past the input, and
// what it accepts must encode back to the same bytes.
#include "zavo_ui/persist.hpp"

#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zavo_ui::persist;
    const std::span<const std::uint8_t> bytes(data, size);
    const ParsedLog parsed = parse_log(bytes);
    if (parsed.end > size) std::abort();
    if (parsed.tail != LogTail::Corrupt && parsed.end >= kLogMagic.size()) {
        std::vector<Bytes> payloads;
        for (auto rec : parsed.records) payloads.emplace_back(rec.begin(), rec.end());
        const Bytes again = encode_log(payloads);
        if (again.size() != parsed.end || !std::equal(again.begin(), again.end(), data)) std::abort();
    }
    // Reading on from a record boundary sees the same records.
    if (parsed.end > kLogMagic.size()) {
        const ParsedLog rest = parse_log(bytes.subspan(kLogMagic.size()), kLogMagic.size());
        if (rest.records.size() != parsed.records.size() || rest.end != parsed.end) std::abort();
    }
    return 0;
}
