#pragma once
// A replicated JSON-like document: maps, lists and text objects holding scalars, edited by any
// number of replicas and merged without conflicts. Every edit is an operation with an id
// (counter@actor); edits are grouped into changes that form a hash-linked history, and the
// history is stored in the automerge binary format so that files and change hashes are the
// same as that library's.
//
//   crdt::Document doc;
//   auto names = doc.put_object(crdt::ROOT, "names", crdt::ObjType::Text).value();
//   doc.splice_text(names, 0, 0, "hello");
//   auto other = doc.fork();            // a second replica
//   other.put(crdt::ROOT, "n", std::int64_t{1});
//   doc.merge(other);                   // doc now holds both edits
//   auto bytes = doc.save();            // and crdt::Document::load(bytes) reads them back
//
// Edits go into an open transaction that is committed as one change the next time the history
// is looked at (get_heads, get_changes, save, fork, merge, apply_changes) or by commit().
// Reads see uncommitted edits. A Document is not thread-safe.
//
// Results are std::expected: bind one to a variable before iterating over its value
// (`for (auto& k : doc.keys(obj).value())` iterates a destroyed temporary).
#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <type_traits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace crdt {

// Why an operation failed: an unknown object, the wrong kind of object, an index out of
// range, bad input bytes.
struct Error {
    std::string message;
};

template <class T>
using Result = std::expected<T, Error>;

// An actor: one replica's identity, any non-empty byte string (16 random bytes by default).
class ActorId {
public:
    ActorId() = default;
    explicit ActorId(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    static ActorId random();
    // Even-length lower- or upper-case hex; fails on anything else or on the empty text.
    static Result<ActorId> from_hex(std::string_view hex);

    const std::vector<std::uint8_t>& to_bytes() const { return bytes_; }
    std::string to_hex() const;

    friend bool operator==(const ActorId&, const ActorId&) = default;
    // Byte order.
    friend std::strong_ordering operator<=>(const ActorId& a, const ActorId& b) { return a.bytes_ <=> b.bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

// The SHA-256 hash that names a change.
struct ChangeHash {
    std::array<std::uint8_t, 32> bytes{};
    std::string to_hex() const;
    static Result<ChangeHash> from_hex(std::string_view hex);
    friend bool operator==(const ChangeHash&, const ChangeHash&) = default;
    friend auto operator<=>(const ChangeHash&, const ChangeHash&) = default;
};

// An object: ROOT, or the id of the operation that created it.
struct ObjId {
    std::uint64_t counter = 0;  // 0 only for ROOT
    ActorId actor;

    bool is_root() const { return counter == 0; }
    // "_root" or "counter@actorhex".
    std::string to_string() const;
    friend bool operator==(const ObjId&, const ObjId&) = default;
};

inline const ObjId ROOT{};

enum class ObjType { Map, List, Text };

// Scalar values. Each alternative is its own type: Int 1, Uint 1 and F64 1.0 are all different.
struct Null {
    friend bool operator==(Null, Null) { return true; }
};
struct Counter {
    std::int64_t value = 0;  // current value: initial plus every increment seen
    friend bool operator==(Counter, Counter) = default;
};
struct Timestamp {
    std::int64_t millis = 0;  // milliseconds since the Unix epoch
    friend bool operator==(Timestamp, Timestamp) = default;
};
using Bytes = std::vector<std::uint8_t>;
// A value of a type this engine does not know, kept as it came (type code 10 to 15).
struct Unknown {
    std::uint8_t type_code = 0;
    Bytes bytes;
    friend bool operator==(const Unknown&, const Unknown&) = default;
};

using ScalarValue =
    std::variant<Null, std::string, std::int64_t, std::uint64_t, double, Counter, Timestamp, bool, Bytes, Unknown>;

// "null", "\"text\"", "1", "1u", "1.5", "counter(1)", "timestamp(1)", "true", "bytes(0a0b)",
// "unknown(10:0a)": for diagnostics and test output.
std::string to_debug_string(const ScalarValue& value);

// What an operation put somewhere: an object of a type, or a scalar.
struct Value {
    std::variant<ObjType, ScalarValue> data;

    bool is_object() const { return std::holds_alternative<ObjType>(data); }
    bool is_object(ObjType type) const { return is_object() && std::get<ObjType>(data) == type; }
    // Null when the value is a scalar.
    const ObjType* object_type() const { return std::get_if<ObjType>(&data); }
    // Null when the value is an object.
    const ScalarValue* scalar() const { return std::get_if<ScalarValue>(&data); }
    friend bool operator==(const Value&, const Value&) = default;
};

// One value at a key or index, with the id of the operation that put it there. For an object,
// `id` is the object's id.
struct Entry {
    Value value;
    ObjId id;
    friend bool operator==(const Entry&, const Entry&) = default;
};

namespace detail {
struct ChangeData;
}

// One committed change: a group of operations by one actor, with its place in the history.
class Change {
public:
    // Parses one uncompressed or deflated change chunk (the whole of `bytes`).
    static Result<Change> from_bytes(std::span<const std::uint8_t> bytes);

    const ActorId& actor_id() const;
    std::uint64_t seq() const;       // 1 for an actor's first change
    std::uint64_t start_op() const;  // counter of its first operation
    std::size_t op_count() const;
    std::int64_t time() const;  // as the author wrote it (our commits: seconds since the Unix epoch)
    const std::optional<std::string>& message() const;
    const std::vector<ChangeHash>& deps() const;  // sorted
    const ChangeHash& hash() const;
    // The change chunk as stored and hashed (uncompressed).
    std::span<const std::uint8_t> raw_bytes() const;

private:
    friend class Document;
    explicit Change(std::shared_ptr<const detail::ChangeData> data) : data_(std::move(data)) {}
    std::shared_ptr<const detail::ChangeData> data_;
};

class Document {
public:
    // An empty document with a random actor.
    Document();
    explicit Document(ActorId actor);
    ~Document();
    Document(Document&&) noexcept;
    Document& operator=(Document&&) noexcept;
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // Reads every chunk in `bytes`: change chunks (plain or deflated) in any order, and document
    // chunks; the result has a random actor. Corrupt, truncated or inconsistent input fails and
    // yields no document, as does input that decodes to more than 65,536 + 32 x its size in
    // operations (the bound on what a small file can make the reader allocate).
    static Result<Document> load(std::span<const std::uint8_t> bytes);
    // Applies the changes in `bytes` (a saved file or chunks appended to one) that this document
    // lacks; returns how many were applied. Fails like load, but what came before the failure
    // stays applied: every whole chunk before a torn or corrupt one.
    Result<std::size_t> load_incremental(std::span<const std::uint8_t> bytes);
    // Every change as one uncompressed change chunk, in history order.
    std::vector<std::uint8_t> save();

    const ActorId& actor_id() const;
    // Later edits are made as `actor`. Commits what is pending first.
    void set_actor(ActorId actor);

    // --- reads. An unknown object or the wrong kind of object fails; a missing key or index
    // reads as an absent value (nullopt).
    Result<ObjType> object_type(const ObjId& obj) const;
    // The winning value: of the concurrent values, the one put by the greatest op id.
    Result<std::optional<Entry>> get(const ObjId& obj, std::string_view key) const;
    Result<std::optional<Entry>> get(const ObjId& obj, std::size_t index) const;
    // Every concurrent value, in op id order (the winner last); empty when absent.
    Result<std::vector<Entry>> get_all(const ObjId& obj, std::string_view key) const;
    Result<std::vector<Entry>> get_all(const ObjId& obj, std::size_t index) const;
    // The keys of a map that hold a value, in byte order.
    Result<std::vector<std::string>> keys(const ObjId& obj) const;
    // Calls `visit(key, value, object)` for every key of a map that holds a value, in byte
    // order, with the winning value; `object` is the value's id when it is an object, null for
    // a scalar. Nothing is copied: the arguments live for the call only, and `visit` must not
    // edit the document.
    class EntryVisitor;
    Result<void> for_each_entry(const ObjId& map, EntryVisitor visit) const;
    // Keys of a map; elements of a list; Unicode scalar values of a text.
    Result<std::size_t> length(const ObjId& obj) const;
    // The content of a text object (U+FFFC for an element that is not a string).
    Result<std::string> text(const ObjId& obj) const;

    // --- edits
    Result<void> put(const ObjId& obj, std::string_view key, ScalarValue value);
    Result<void> put(const ObjId& obj, std::size_t index, ScalarValue value);
    // Creates an empty object at the key and returns its id.
    Result<ObjId> put_object(const ObjId& obj, std::string_view key, ObjType type);
    Result<ObjId> put_object(const ObjId& obj, std::size_t index, ObjType type);
    // List insertion before `index` (index == length appends).
    Result<void> insert(const ObjId& list, std::size_t index, ScalarValue value);
    Result<ObjId> insert_object(const ObjId& list, std::size_t index, ObjType type);
    // Removes the values this replica sees at the key; a missing key is no change.
    Result<void> delete_key(const ObjId& map, std::string_view key);
    Result<void> delete_index(const ObjId& list, std::size_t index);
    // Adds `by` to the counter at the key or index; fails when no counter is there.
    Result<void> increment(const ObjId& obj, std::string_view key, std::int64_t by);
    Result<void> increment(const ObjId& obj, std::size_t index, std::int64_t by);
    // Deletes `del` Unicode scalar values at `pos` and inserts `text` there. Positions count
    // Unicode scalar values; `text` must be valid UTF-8.
    Result<void> splice_text(const ObjId& text, std::size_t pos, std::size_t del, std::string_view text_to_insert);

    // --- history
    // Commits the pending edits as one change; returns its hash, or nullopt when nothing is
    // pending. `time` defaults to now in seconds since the Unix epoch, as the reference
    // library writes it.
    std::optional<ChangeHash> commit(std::optional<std::string> message = std::nullopt,
                                     std::optional<std::int64_t> time = std::nullopt);
    // Number of edits not yet committed.
    std::size_t pending_ops() const;
    // The hashes of the changes that no other change depends on, sorted; empty for a document
    // without history.
    std::vector<ChangeHash> get_heads();
    // The changes that are not in the history of `since` (all of them for an empty list), in an
    // order that lists a change after its dependencies. Unknown hashes in `since` are ignored.
    std::vector<Change> get_changes(std::span<const ChangeHash> since);
    // Applies changes from another replica, in any order; duplicates are skipped and changes
    // whose dependencies are missing wait until they arrive. Fails on a change that does not
    // fit this document (its operations refer to missing objects or elements, or its actor's
    // sequence numbers collide); the changes before it stay applied.
    Result<void> apply_changes(std::span<const Change> changes);
    // Changes received whose dependencies have not arrived yet.
    std::size_t queued_changes() const;
    std::optional<Change> get_change(const ChangeHash& hash) const;

    // A copy of this document with a new random actor.
    Document fork();
    // A copy of this document as it was at `heads` (the changes in their history, and those
    // still waiting for their dependencies), with a new random actor. Unknown hashes are ignored.
    Document fork_at(std::span<const ChangeHash> heads);
    // Applies every change of `other` that this document lacks.
    Result<void> merge(Document& other);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    explicit Document(std::unique_ptr<Impl> impl);
};

// A callable borrowed for one for_each_entry call: called in place, never copied or stored.
class Document::EntryVisitor {
public:
    template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, EntryVisitor> &&
             std::is_invocable_v<F&, std::string_view, const Value&, const ObjId*>) EntryVisitor(F&& f)
    noexcept
        : callable_(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
          call_([](void* c, std::string_view key, const Value& value, const ObjId* object) {
              (*static_cast<std::remove_reference_t<F>*>(c))(key, value, object);
          }) {}
    void operator()(std::string_view key, const Value& value, const ObjId* object) const {
        call_(callable_, key, value, object);
    }

private:
    void* callable_;
    void (*call_)(void*, std::string_view, const Value&, const ObjId*);
};

}  // namespace crdt
