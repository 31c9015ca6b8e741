#pragma once
// Encoded actions, the library's error, and the action object the executor applies.
#include "crdt/document.hpp"

#include <algorithm>
#include <concepts>
#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace zavo_actions::action {

struct ActionError {
    struct Automerge {
        std::string message;
    };
    struct UnknownType {
        std::string type_name;
    };
    struct Decode {
        std::string type_id;
        std::string source;  // the decoder's error text
    };
    struct Encode {
        std::string message;
    };
    struct Refused {
        std::string message;
    };

    std::variant<Automerge, UnknownType, Decode, Encode, Refused> error;

    // The display text.
    std::string to_string() const;
    // Automerge("…"), UnknownType("…"), Decode { type_id: "…", source: "…" }, Encode("…"), Refused("…")
    std::string to_debug_string() const;
};

// An action's type id and its payload (compact JSON).
struct EncodedAction {
    std::string type_id;
    std::vector<std::uint8_t> payload;

    std::string_view payload_text() const { return {reinterpret_cast<const char*>(payload.data()), payload.size()}; }

    // Encodes `value` through its compact JSON writer (`serialize_json_writer`, which returns
    // the text, or an expected text whose error becomes ActionError::Encode).
    template <class T>
    static std::expected<EncodedAction, ActionError> encode(std::string type_id, const T& value);

    friend bool operator==(const EncodedAction&, const EncodedAction&) = default;
};

// What the executor applies: a decoded or dispatched action.
class Action {
public:
    virtual ~Action() = default;
    virtual std::string to_debug_string() const = 0;
    virtual std::expected<void, ActionError> apply(crdt::Document& document) const = 0;
    // Whether the executor may fold this action into the change before it.
    virtual bool coalesces() const = 0;
};

// The action object of a value type with `to_debug_string()` and `apply(crdt::Document&)`.
template <class T>
class TypedAction final : public Action {
public:
    explicit TypedAction(T value) : value_(std::move(value)) {}
    std::string to_debug_string() const override { return value_.to_debug_string(); }
    std::expected<void, ActionError> apply(crdt::Document& document) const override { return value_.apply(document); }
    bool coalesces() const override { return false; }
    const T& value() const { return value_; }

private:
    T value_;
};

template <class T>
std::expected<EncodedAction, ActionError> EncodedAction::encode(std::string type_id, const T& value) {
    auto text = value.serialize_json_writer();
    std::string bytes;
    if constexpr (std::convertible_to<decltype(text), std::string_view>) {
        bytes = std::move(text);
    } else {
        if (!text) return std::unexpected(ActionError{ActionError::Encode{std::string(text.error())}});
        bytes = std::move(*text);
    }
    EncodedAction encoded{std::move(type_id), {}};
    encoded.payload.reserve(std::max<std::size_t>(128, bytes.size()));
    encoded.payload.assign(bytes.begin(), bytes.end());
    return encoded;
}

}  // namespace zavo_actions::action
