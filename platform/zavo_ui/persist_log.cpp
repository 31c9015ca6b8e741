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
// The most a crash can leave unwritten at a log's end, and so the longest stretch of a log that
// holds no record: one whole record. A file with more than that and no record in it is no log.
constexpr std::size_t kMaxGap = kHeader + kMaxRecord;
// What a file is read in, when its records are not larger.
constexpr std::size_t kPiece = 1u << 20;

// The bytes of a log already in memory.
class MemorySource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::size_t size() const { return bytes_.size(); }
    std::span<const std::uint8_t> at(std::size_t pos, std::size_t n) const {
        return bytes_.subspan(pos, std::min(n, bytes_.size() - pos));
    }
    // The first byte in pos..end that is not zero, or end.
    std::size_t next_nonzero(std::size_t pos, std::size_t end) const {
        while (pos < end && bytes_[pos] == 0) ++pos;
        return pos;
    }
    // Just past the last byte from pos on that is not zero, or pos.
    std::size_t last_nonzero_end(std::size_t pos) const {
        std::size_t end = bytes_.size();
        while (end > pos && bytes_[end - 1] == 0) --end;
        return end;
    }

private:
    std::span<const std::uint8_t> bytes_;
};

// The bytes of an open file from an offset to a size, read a piece at a time (a piece as large
// as the record being checked); holes are known to read as zeros without being read.
class FileSource {
public:
    FileSource(int fd, std::size_t from, std::size_t size, const fs::path& path)
        : fd_(fd), from_(from), size_(size), path_(path) {}
    std::size_t size() const { return size_; }
    const std::string& error() const { return error_; }

    // The bytes at pos..pos+n (fewer at the end, or where reading failed); valid until the next
    // call.
    std::span<const std::uint8_t> at(std::size_t pos, std::size_t n) {
        n = std::min(n, size_ - pos);
        if (pos < held_from_ || pos + n > held_from_ + held_.size()) load(pos, n);
        const std::size_t start = pos - held_from_;
        return std::span<const std::uint8_t>(held_).subspan(start, std::min(n, held_.size() - start));
    }

    std::size_t next_nonzero(std::size_t pos, std::size_t end) {
        while (pos < end) {
            if (pos < held_from_ || pos >= held_from_ + held_.size()) {
                const std::size_t data = data_from(pos);
                if (data > pos) {
                    pos = std::min(data, end);
                    continue;
                }
                if (at(pos, kPiece).empty()) return end;
            }
            const std::size_t stop = std::min(end, held_from_ + held_.size());
            for (; pos < stop; ++pos)
                if (held_[pos - held_from_] != 0) return pos;
        }
        return end;
    }

    std::size_t last_nonzero_end(std::size_t pos) {
        for (std::size_t end = size_; end > pos;) {
            const std::size_t start = end - std::min(kPiece, end - pos);
            if (data_from(start) >= end) {
                end = start;
                continue;
            }
            const auto piece = at(start, end - start);
            for (std::size_t i = piece.size(); i > 0; --i)
                if (piece[i - 1] != 0) return start + i;
            end = start;
        }
        return pos;
    }

private:
    // Where the file's data goes on from pos, past any hole (size_ when none is left); pos where
    // holes cannot be told.
    std::size_t data_from(std::size_t pos) const {
        const off_t data = ::lseek(fd_, static_cast<off_t>(from_ + pos), SEEK_DATA);
        if (data < 0) return errno == ENXIO ? size_ : pos;
        return std::min(static_cast<std::size_t>(data) - from_, size_);
    }

    void load(std::size_t pos, std::size_t n) {
        const std::size_t want = std::min(std::max(n, kPiece), size_ - pos);
        if (held_.capacity() > 4 * kPiece && want <= kPiece) Bytes().swap(held_);  // after a large record
        held_.resize(want);
        held_from_ = pos;
        std::size_t got = 0;
        while (got < want) {
            const ssize_t r = ::pread(fd_, held_.data() + got, want - got, static_cast<off_t>(from_ + pos + got));
            if (r < 0 && errno == EINTR) continue;
            if (r < 0 && error_.empty()) error_ = sys_error("cannot read", path_);
            if (r <= 0) break;
            got += static_cast<std::size_t>(r);
        }
        held_.resize(got);
    }

    int fd_;
    std::size_t from_;
    std::size_t size_;
    const fs::path& path_;
    Bytes held_;  // the bytes at held_from_..
    std::size_t held_from_ = 0;
    std::string error_;
};

// The payload length of the whole record at `pos`: a possible length that fits in the input and
// a payload that matches its checksum. `work` counts the checksummed bytes down; once it would
// run out it is 0 and nothing more is checked.
template <typename Source>
std::optional<std::size_t> record_at(Source& in, std::size_t pos, std::size_t& work) {
    if (in.size() - pos < kHeader) return std::nullopt;
    const auto header = in.at(pos, kHeader);
    if (header.size() < kHeader) return std::nullopt;
    const std::uint32_t len = read_u32(header.data());
    const std::uint32_t crc = read_u32(header.data() + 4);
    if (len == 0 || len > kMaxRecord || len > in.size() - pos - kHeader) return std::nullopt;
    if (len > work) {
        work = 0;
        return std::nullopt;
    }
    work -= len;
    const auto payload = in.at(pos + kHeader, len);
    if (payload.size() < len || crc32_of(payload) != crc) return std::nullopt;
    return len;
}

// Where a crash leaves the end of a file unwritten it reads as zeros, from the place the
// unfinished write began or from a page boundary after it up to the end.
template <typename Source>
bool unwritten_tail(Source& in, std::size_t pos, std::size_t from) {
    const std::size_t zeros = in.last_nonzero_end(pos);
    if (zeros == in.size()) return false;
    if (zeros == pos) return true;
    const std::size_t page = (from + zeros + kPage - 1) / kPage * kPage;  // first page boundary in the zeros
    return page < from + in.size();
}

// Reads the log in `in`, which starts at file offset `from` (0: the magic comes first), into
// `out`, calling keep(position, length) for the payload of each intact record.
template <typename Source, typename Keep>
void scan_log(Source& in, std::size_t from, ParsedLog& out, Keep&& keep) {
    std::size_t damaged = 0;  // places found damaged
    auto damage = [&](std::string what) {
        if (damaged++ == 0) out.problem = std::move(what);
        out.tail = LogTail::Corrupt;
    };
    const std::size_t size = in.size();
    std::size_t pos = 0;
    if (from == 0) {
        pos = std::min(size, kLogMagic.size());
        const auto magic = in.at(0, pos);
        if (magic.size() < pos || (pos != 0 && std::memcmp(magic.data(), kLogMagic.data(), pos) != 0)) {
            // Nothing written yet, unless there are more zeros than a crash leaves.
            if (size <= kLogMagic.size() + kMaxGap && in.next_nonzero(0, size) == size) {
                out.tail = LogTail::Torn;
                return;
            }
            damage("not a document log (bad magic)");
        } else if (pos < kLogMagic.size()) {
            out.tail = LogTail::Torn;
            return;
        }
    }
    out.end = from + pos;
    // Checksumming while looking past damage is bounded, so that no input makes it quadratic.
    std::size_t work = 16 * size + (1u << 20);
    while (pos < size) {
        if (auto len = record_at(in, pos, work)) {
            keep(pos + kHeader, *len);
            pos += kHeader + *len;
            out.end = from + pos;
            continue;
        }
        const std::size_t rest = size - pos;
        const auto header = in.at(pos, kHeader);
        const std::uint32_t len = header.size() == kHeader ? read_u32(header.data()) : 0;
        // Damage, when a whole record follows somewhere within the reach of one record: right
        // after this one's length first. Runs of zeros hold no record's start.
        std::optional<std::size_t> next;
        if (rest >= kHeader && len > 0 && len <= rest - kHeader && record_at(in, pos + kHeader + len, work))
            next = pos + kHeader + len;
        const std::size_t search_end = std::min(size, pos + kMaxGap + kHeader);
        for (std::size_t q = pos + 1; !next && q + kHeader < search_end && work > 0;) {
            if (record_at(in, q, work)) {
                next = q;
            } else if (const auto length = in.at(q, 4); length.size() == 4 && read_u32(length.data()) == 0) {
                q = std::max(q + 1, in.next_nonzero(q + 4, search_end) - 3);
            } else {
                ++q;
            }
        }
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
        } else if (search_end < size) {
            damage(fmt::format("bytes {} to {} hold no record, more than one write can leave unwritten", from + pos,
                               from + size));
        } else if (cut_short || unwritten_tail(in, pos, from)) {
            out.tail = damaged ? LogTail::Corrupt : LogTail::Torn;
        } else if (len == 0 || len > kMaxRecord) {
            damage(fmt::format("record at offset {} has an impossible length {}", from + pos, len));
        } else {
            damage(fmt::format("record at offset {} fails its checksum", from + pos));
        }
        break;
    }
    if (damaged > 1) out.problem += fmt::format(", and {} more places are damaged", damaged - 1);
}

}  // namespace

ParsedLog parse_log(std::span<const std::uint8_t> bytes, std::size_t from) {
    ParsedLog out;
    MemorySource in(bytes);
    scan_log(in, from, out, [&](std::size_t pos, std::size_t len) { out.records.push_back(bytes.subspan(pos, len)); });
    return out;
}

std::expected<LogRead, std::string> read_log(int fd, std::size_t from, std::size_t size, const fs::path& path) {
    LogRead out;
    ParsedLog parsed;
    FileSource in(fd, from, size > from ? size - from : 0, path);
    scan_log(in, from, parsed, [&](std::size_t pos, std::size_t len) {
        const auto payload = in.at(pos, len);
        out.records.emplace_back(out.bytes.size(), payload.size());
        out.bytes.insert(out.bytes.end(), payload.begin(), payload.end());
    });
    if (!in.error().empty()) return std::unexpected(in.error());
    out.end = parsed.end;
    out.tail = parsed.tail;
    out.problem = std::move(parsed.problem);
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
    // What failed to be written or synced is cut off: no partial record for the next append to
    // follow, and no record of a change that was reported unsaved (and may be taken back).
    const auto cut_back = [&](std::string_view what, int err) {
        if (::ftruncate(fd_.get(), static_cast<off_t>(end_)) != 0)
            spdlog::error("document: cannot cut {} back after a failed write", path_.string());
        return std::unexpected(sys_error(what, path_, err));
    };
    if (auto written = atomic_file::write_all(fd_.get(), out); !written)
        return cut_back("cannot append to", written.error().value());
    if (::fdatasync(fd_.get()) != 0) return cut_back("cannot sync", errno);
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
