#pragma once
// What a session looks like to the user; written by the session workers, read by the UI.
#include <cstdint>
#include <string>

namespace remote {

struct SessionStatus {
    enum class Kind : std::uint8_t { Connecting = 0, Connected = 1, Ended = 2, Unavailable = 3, Failed = 4 };

    Kind kind = Kind::Connecting;
    // The reason shown for Unavailable, the error for Failed; empty otherwise.
    std::string text;

    static SessionStatus connecting() { return {Kind::Connecting, {}}; }
    static SessionStatus connected() { return {Kind::Connected, {}}; }
    static SessionStatus ended() { return {Kind::Ended, {}}; }
    static SessionStatus unavailable(std::string reason) { return {Kind::Unavailable, std::move(reason)}; }
    static SessionStatus failed(std::string error) { return {Kind::Failed, std::move(error)}; }

    bool is_connecting() const { return kind == Kind::Connecting; }
    bool is_connected() const { return kind == Kind::Connected; }

    friend bool operator==(const SessionStatus&, const SessionStatus&) = default;
};

}  // namespace remote
