// The replica-log parser on arbitrary file contents: it must never read past the input, what it
// accepts whole must encode back to the same bytes, no record it keeps may be empty, and read
// from a file a piece at a time the same bytes give the same log.
#include "zavo_ui/persist_log.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zavo_ui::persist;
    const std::span<const std::uint8_t> bytes(data, size);
    const ParsedLog parsed = parse_log(bytes);
    if (parsed.end > size) std::abort();
    for (auto rec : parsed.records)
        if (rec.empty() || rec.data() < data || rec.data() + rec.size() > data + size) std::abort();
    if (parsed.tail != LogTail::Corrupt && parsed.end >= kLogMagic.size()) {
        std::vector<Bytes> payloads;
        for (auto rec : parsed.records) payloads.emplace_back(rec.begin(), rec.end());
        const Bytes again = encode_log(payloads);
        if (again.size() != parsed.end || !std::equal(again.begin(), again.end(), data)) std::abort();
    }
    // Reading on from a record boundary sees the same records (searching past damage is
    // bounded by the input's size, so only intact logs are compared).
    if (parsed.tail != LogTail::Corrupt && parsed.end > kLogMagic.size()) {
        const ParsedLog rest = parse_log(bytes.subspan(kLogMagic.size()), kLogMagic.size());
        if (rest.records.size() != parsed.records.size() || rest.end != parsed.end) std::abort();
    }
    const int fd = ::memfd_create("log", MFD_CLOEXEC);
    if (fd >= 0 && ::write(fd, data, size) == static_cast<ssize_t>(size)) {
        const auto read = read_log(fd, 0, size, "memfd");
        if (!read || read->end != parsed.end || read->tail != parsed.tail || read->problem != parsed.problem ||
            read->records.size() != parsed.records.size())
            std::abort();
        for (std::size_t i = 0; i < parsed.records.size(); ++i) {
            const auto [offset, length] = read->records[i];
            if (!std::ranges::equal(std::span(read->bytes).subspan(offset, length), parsed.records[i])) std::abort();
        }
    }
    if (fd >= 0) ::close(fd);
    return 0;
}
