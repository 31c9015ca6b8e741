#include "zavo_ui/persist_log.hpp"

#include "atomic_file/atomic_file.hpp"
#include "zavo_ui/persist_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>
#include <spdlog/spdlog.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

namespace zavo_ui::persist {

namespace fs = std::filesystem;

namespace {

std::uint32_t crc32_of(std::span<const std::uint8_t> bytes) {
    uLong crc = crc32(0L, Z_NULL, 0);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto n = static_cast<uInt>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        crc = crc32(crc, bytes.data() + done, n);
        done += n;
    }
    return static_cast<std::uint32_t>(crc);
}

std::uint32_t read_u32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

void put_u32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

constexpr std::size_t kHeader = 8;  // length and checksum
constexpr std::size_t kPage = 4096;

// The payload length of the whole record at `pos`: a possible length that fits in `bytes` and a
// payload that matches its checksum. `work` counts the checksummed bytes down; once it would
// run out it is 0 and nothing more is checked.
std::optional<std::size_t> record_at(std::span<const std::uint8_t> bytes, std::size_t pos, std::size_t& work) {
    if (bytes.size() - pos < kHeader) return std::nullopt;
    const std::uint32_t len = read_u32(bytes.data() + pos);
    if (len == 0 || len > kMaxRecord || len > bytes.size() - pos - kHeader) return std::nullopt;
    if (len > work) {
        work = 0;
        return std::nullopt;
    }
    work -= len;
    if (crc32_of(bytes.subspan(pos + kHeader, len)) != read_u32(bytes.data() + pos + 4)) return std::nullopt;
    return len;
}

// Where a crash leaves the end of a file unwritten it reads as zeros, from the place the
// unfinished write began or from a page boundary after it up to the end.
bool unwritten_tail(std::span<const std::uint8_t> bytes, std::size_t pos, std::size_t from) {
    std::size_t zeros = bytes.size();
    while (zeros > pos && bytes[zeros - 1] == 0) --zeros;
    if (zeros == bytes.size()) return false;
    if (zeros == pos) return true;
    const std::size_t page = (from + zeros + kPage - 1) / kPage * kPage;  // first page boundary in the zeros
    return page < from + bytes.size();
}

}  // namespace

ParsedLog parse_log(std::span<const std::uint8_t> bytes, std::size_t from) {
    ParsedLog out;
    std::size_t damaged = 0;  // places found damaged
    auto damage = [&](std::string what) {
        if (damaged++ == 0) out.problem = std::move(what);
        out.tail = LogTail::Corrupt;
    };
    std::size_t pos = 0;
    if (from == 0) {
        pos = std::min(bytes.size(), kLogMagic.size());
        if (std::memcmp(bytes.data(), kLogMagic.data(), pos) != 0) {
            if (std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; })) {
                out.tail = LogTail::Torn;  // nothing written yet
                return out;
            }
            damage("not a document log (bad magic)");
        } else if (pos < kLogMagic.size()) {
            out.tail = LogTail::Torn;
            return out;
        }
    }
    out.end = from + pos;
    // Checksumming while looking past damage is bounded, so that no input makes it quadratic.
    std::size_t work = 16 * bytes.size() + (1u << 20);
    while (pos < bytes.size()) {
        if (auto len = record_at(bytes, pos, work)) {
            out.records.push_back(bytes.subspan(pos + kHeader, *len));
            pos += kHeader + *len;
            out.end = from + pos;
            continue;
        }
        const std::size_t rest = bytes.size() - pos;
        const std::uint32_t len = rest >= kHeader ? read_u32(bytes.data() + pos) : 0;
        // Damage, when a whole record follows somewhere: right after this one's length first.
        std::optional<std::size_t> next;
        if (rest >= kHeader && len > 0 && len <= rest - kHeader && record_at(bytes, pos + kHeader + len, work))
            next = pos + kHeader + len;
        for (std::size_t q = pos + 1; !next && q + kHeader < bytes.size() && work > 0; ++q)
            if (record_at(bytes, q, work)) next = q;
        if (next) {
            damage(fmt::format("bytes {} to {} hold no whole record", from + pos, from + *next));
            pos = *next;
            continue;
        }
        // Nothing whole follows: an unfinished write (a record cut short, or an end that reads as
        // zeros) is a torn tail; anything else is damage at the end.
        const bool cut_short = rest < kHeader || (len > rest - kHeader && len <= kMaxRecord);
        if (work == 0) {
            damage(fmt::format("bytes {} to the end are too damaged to search for records", from + pos));
        } else if (cut_short || unwritten_tail(bytes, pos, from)) {
            out.tail = damaged ? LogTail::Corrupt : LogTail::Torn;
        } else if (len == 0 || len > kMaxRecord) {
            damage(fmt::format("record at offset {} has an impossible length {}", from + pos, len));
        } else {
            damage(fmt::format("record at offset {} fails its checksum", from + pos));
        }
        break;
    }
    if (damaged > 1) out.problem += fmt::format(", and {} more places are damaged", damaged - 1);
    return out;
}

void append_record(Bytes& out, std::span<const std::uint8_t> payload) {
    if (payload.empty()) return;  // a record holds a change: never empty
    put_u32(out, static_cast<std::uint32_t>(payload.size()));
    put_u32(out, crc32_of(payload));
    out.insert(out.end(), payload.begin(), payload.end());
}

Bytes encode_log(std::span<const Bytes> payloads) {
    Bytes out(kLogMagic.begin(), kLogMagic.end());
    for (const auto& p : payloads) append_record(out, p);
    return out;
}

std::expected<AppendLog, std::string> AppendLog::create(const fs::path& path, std::span<const Bytes> payloads) {
    const Bytes bytes = encode_log(payloads);
    if (auto ok = replace_file_durably(path, bytes, 0600); !ok) return std::unexpected(ok.error());
    return open(path, bytes.size());
}

std::expected<AppendLog, std::string> AppendLog::open(const fs::path& path, std::size_t end) {
    AppendLog log;
    log.path_ = path;
    log.fd_.reset(::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    if (!log.fd_) return std::unexpected(sys_error("cannot open", path));
    struct stat st {};
    if (::fstat(log.fd_.get(), &st) != 0) return std::unexpected(sys_error("cannot inspect", path));
    if (static_cast<std::size_t>(st.st_size) != end)
        return std::unexpected(fmt::format("{} is {} bytes long, expected {}", path.string(), st.st_size, end));
    log.end_ = end;
    return log;
}

std::expected<void, std::string> AppendLog::append(std::span<const Bytes> payloads) {
    if (!fd_) return std::unexpected("log is not open");
    Bytes out;
    for (const auto& p : payloads) append_record(out, p);
    if (auto written = atomic_file::write_all(fd_.get(), out); !written) {
        // Leave no partial record behind for the next append to follow.
        if (::ftruncate(fd_.get(), static_cast<off_t>(end_)) != 0)
            spdlog::error("document: cannot cut {} back after a failed write", path_.string());
        return std::unexpected(sys_error("cannot append to", path_, written.error().value()));
    }
    if (::fdatasync(fd_.get()) != 0) return std::unexpected(sys_error("cannot sync", path_));
    end_ += out.size();
    return {};
}

bool AppendLog::intact() const {
    if (!fd_) return false;
    struct stat mine {
    }, named{};
    if (::fstat(fd_.get(), &mine) != 0 || ::stat(path_.c_str(), &named) != 0) return false;
    return mine.st_dev == named.st_dev && mine.st_ino == named.st_ino &&
           static_cast<std::size_t>(named.st_size) == end_;
}

}  // namespace zavo_ui::persist
