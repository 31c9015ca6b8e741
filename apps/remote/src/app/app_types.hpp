#pragma once
// The small value types of the application state: what the main pane shows, controller
// commands and where they were drawn, the confirmation dialog, discovered devices, the list's
// row metrics and the started operation.
#include "known_hosts/known_hosts_json.hpp"
#include "profiles/connection_form.hpp"
#include "profiles/saved_connection.hpp"
#include "profiles/uuid.hpp"
#include "ssh/ssh_session.hpp"
#include "zavo_ui/geometry.hpp"
#include "zavo_ui/operation.hpp"

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace remote {

struct Screen {
    enum class Kind : std::uint8_t { NewForm, EditForm, List, Session };
    Kind kind = Kind::List;
    Uuid id;  // EditForm and Session only

    static Screen new_form() { return {Kind::NewForm, {}}; }
    static Screen edit_form(const Uuid& id) { return {Kind::EditForm, id}; }
    static Screen list() { return {Kind::List, {}}; }
    static Screen session(const Uuid& id) { return {Kind::Session, id}; }
    bool is_form() const { return kind == Kind::NewForm || kind == Kind::EditForm; }
    friend bool operator==(const Screen&, const Screen&) = default;
};

// A device offered in the connection form as a ready-made target.
struct DiscoveredDevice {
    std::string name;
    std::string endpoint_id;  // the relay's text form
    bool online = false;
    friend bool operator==(const DiscoveredDevice&, const DiscoveredDevice&) = default;
};

// One controller command: a tag and at most one value.
struct UiCommand {
    enum class Kind : std::uint8_t {
        ShowConnections = 0,
        NewConnectionForm = 1,
        EditConnection = 2,
        Connect = 3,
        RequestConnect = 4,
        Select = 5,
        ToggleFavorite = 6,
        RequestDelete = 7,
        RequestTrustHostKey = 8,
        RequestForgetHostKey = 9,
        Confirm = 10,
        CancelConfirmation = 11,
        FocusInput = 12,
        SetKind = 13,
        SetAuth = 14,
        SaveForm = 15,
        CancelForm = 16,
        ToggleScale = 17,
        ToggleFullscreen = 18,
        Disconnect = 19,
        UseDiscoveredDevice = 20,
        ToggleNavigation = 21,
    };
    using Value = std::variant<std::monostate, Uuid, InputSlot, ConnectionKind, AuthKind, std::uint64_t>;

    Kind kind = Kind::ShowConnections;
    Value value;

    static UiCommand plain(Kind kind) { return {kind, std::monostate{}}; }
    static UiCommand with_id(Kind kind, const Uuid& id) { return {kind, id}; }
    static UiCommand focus_input(InputSlot slot) { return {Kind::FocusInput, slot}; }
    static UiCommand set_kind(ConnectionKind kind) { return {Kind::SetKind, kind}; }
    static UiCommand set_auth(AuthKind auth) { return {Kind::SetAuth, auth}; }
    static UiCommand use_discovered_device(std::uint64_t index) { return {Kind::UseDiscoveredDevice, index}; }

    // The connection id of the commands that carry one.
    const Uuid* id() const { return std::get_if<Uuid>(&value); }
    friend bool operator==(const UiCommand&, const UiCommand&) = default;
};

// The notice banner's sentence under its title: an action's outcome to review, unless the
// notice is about something else (saving).
struct Notice {
    std::string text;
    std::string_view title = "Action needs review";
    friend bool operator==(const Notice&, const Notice&) = default;
};

// A command and the rectangle (logical pixels) where painting drew its control. A region of
// another role carries no command and still takes the pointer from what lies below it: a cover
// (the notice banner) keeps its clicks, the remote picture hands them to the live session.
struct HitRegion {
    enum class Role : std::uint8_t { Control, Cover, Picture };
    zavo_ui::Rect rect;
    UiCommand command;
    Role role = Role::Control;
    friend bool operator==(const HitRegion&, const HitRegion&) = default;
};

// The open confirmation dialog. `key` is the connection's change-detection key when it opened.
struct ConfirmationRequest {
    enum class Kind : std::uint8_t { Connect, Delete, TrustHostKey, ForgetHostKey };
    Kind kind = Kind::Connect;
    std::string key;
    HostKeyIdentity identity;  // TrustHostKey only: the key the user is asked to trust
    Uuid id;
    friend bool operator==(const ConfirmationRequest&, const ConfirmationRequest&) = default;
};

// The list rows' metrics for one text scale.
struct RowMetrics {
    double scale = 1.0;
    double second_line_offset = 38.0;
    double chip_height = 17.75;
    double button_height = 32.0;
    double action_width = 100.0;
    double edit_width = 76.0;
    double block_height = 72.0;
    double wide_row_height = 72.0;
    double compact_row_height = 116.0;
    friend bool operator==(const RowMetrics&, const RowMetrics&) = default;
};

// The texts of one list row as painted at one width: kept between frames and measured again
// only when what they depend on changes (the record, the row's width, the metrics, the
// live-session switch).
struct RowTexts {
    SavedConnection record;
    double width = 0.0;
    RowMetrics metrics;
    bool live = false;

    ConnectionReadiness readiness = ConnectionReadiness::Ready;
    std::string name;  // as it fits
    double name_width = 0.0;
    double chip_width = 0.0;  // the kind's label
    double chip_height = 0.0;
    std::string target;  // as it fits
    double target_width = 0.0;
    std::string last_used;  // "· {}" when it fits, else empty
    std::string group;      // as it fits
    double group_width = 0.0;
    double group_height = 0.0;
    double pill_width = 0.0;  // the readiness pill's label, when not ready
    double pill_height = 0.0;
    std::uint64_t painted = 0;  // the list paint that last drew the row
};

struct UuidHash {
    // Random ids: their first bytes are hash enough.
    std::size_t operator()(const Uuid& id) const noexcept {
        std::size_t h = 0;
        std::memcpy(&h, id.bytes.data(), sizeof h);
        return h;
    }
};

// The one started operation that the framework polls.
struct PendingOperation {
    struct Idle {
        friend bool operator==(const Idle&, const Idle&) = default;
    };
    struct Connect {
        zavo_ui::operation::OperationId operation_id{};
        Uuid connection_id;
        std::uint64_t session_counter = 0;
        friend bool operator==(const Connect&, const Connect&) = default;
    };
    struct SendText {
        Receiver<SshAck> ack;
        zavo_ui::operation::OperationId operation_id{};
        Uuid connection_id;
        std::uint64_t session_counter = 0;
    };
    std::variant<Idle, Connect, SendText> state;

    bool is_idle() const { return std::holds_alternative<Idle>(state); }
};

}  // namespace remote
