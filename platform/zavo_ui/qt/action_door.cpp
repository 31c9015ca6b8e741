#include "zavo_ui/qt/action_door.hpp"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVirtualObject>

#include <unistd.h>

#include <cstdio>
#include <fmt/format.h>
#include <set>

namespace zavo_ui::qt {
namespace {

using action_executor::Refusal;

bool valid_element(std::string_view element, bool allow_hyphen) {
    if (element.empty() || (element[0] >= '0' && element[0] <= '9')) return false;
    for (char c : element) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                        (allow_hyphen && c == '-');
        if (!ok) return false;
    }
    return true;
}

QString q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

constexpr std::string_view kInvalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";

}  // namespace

std::optional<DoorNames> door_names(std::string_view app_id) {
    if (app_id.empty() || app_id.size() > 200) return std::nullopt;
    std::string path;
    std::size_t elements = 0;
    std::size_t start = 0;
    while (start <= app_id.size()) {
        const std::size_t dot = std::min(app_id.find('.', start), app_id.size());
        const std::string_view element = app_id.substr(start, dot - start);
        if (!valid_element(element, true)) return std::nullopt;
        path += '/';
        for (char c : element) path += c == '-' ? '_' : c;
        ++elements;
        start = dot + 1;
    }
    if (elements < 2) return std::nullopt;
    const std::string id(app_id);
    return DoorNames{id, path, id + ".Actions", id + ".Error."};
}

std::optional<bool> DoorCallers::allowed(const std::string& sender) const {
    const auto it = allowed_.find(sender);
    if (it == allowed_.end()) return std::nullopt;
    return it->second;
}

void DoorCallers::learned(const std::string& sender, std::optional<uid_t> user, bool gone) {
    if (user && *user != user_) others_seen_ = true;  // this bus admits other users
    const bool allowed = user ? *user == user_ : gone && bus_user_ == user_ && !others_seen_;
    if (!allowed_.insert_or_assign(sender, allowed).second) return;
    order_.push_back(sender);
    if (order_.size() > kRemembered) {
        allowed_.erase(order_.front());
        order_.pop_front();
    }
}

// Receives the calls on the object's path and answers them on the UI thread.
class ActionDoor::Object final : public QDBusVirtualObject {
public:
    Object(const DoorNames& names, action_executor::ActionExecutor& executor, std::optional<uid_t> bus_user)
        : names_(names), executor_(executor), callers_(::getuid(), bus_user) {}

    QString introspect(const QString&) const override {
        return q(fmt::format(R"(<interface name="{}">
  <method name="ListResources"><arg name="resources" type="s" direction="out"/></method>
  <method name="Invoke">
    <arg name="resource" type="s" direction="in"/><arg name="action" type="s" direction="in"/>
    <arg name="arguments" type="a{{ss}}" direction="in"/>
    <arg name="state" type="s" direction="out"/><arg name="operation" type="s" direction="out"/>
  </method>
  <method name="Poll">
    <arg name="operation" type="s" direction="in"/>
    <arg name="state" type="s" direction="out"/><arg name="code" type="s" direction="out"/>
    <arg name="message" type="s" direction="out"/>
  </method>
  <method name="Cancel">
    <arg name="operation" type="s" direction="in"/>
    <arg name="state" type="s" direction="out"/><arg name="code" type="s" direction="out"/>
    <arg name="message" type="s" direction="out"/>
  </method>
</interface>
)",
                             names_.interface));
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.type() != QDBusMessage::MethodCallMessage) return false;
        // Introspection, Peer and Properties are Qt's to answer.
        if (!message.interface().isEmpty() && message.interface() != q(names_.interface)) return false;
        static const QStringList kMethods{"ListResources", "Invoke", "Poll", "Cancel"};
        if (message.interface().isEmpty() && !kMethods.contains(message.member())) return false;
        // Whatever thread this runs on, the executor runs on the UI thread, one call after another.
        QMetaObject::invokeMethod(
            this,
            [this, message, connection] {
                waiting_.push_back({message, connection});
                answer_waiting();
            },
            Qt::QueuedConnection);
        return true;
    }

private:
    struct Waiting {
        QDBusMessage call;
        QDBusConnection connection;
    };

    // Answers the calls in the order they came, as far as their senders' users are known; asks
    // the bus, without waiting, for the first one's that is not.
    void answer_waiting() {
        while (!waiting_.empty()) {
            const Waiting& first = waiting_.front();
            const std::string sender = first.call.service().toStdString();
            const auto allowed = callers_.allowed(sender);
            if (!allowed) return look_up(sender, first.connection);
            const Waiting call = waiting_.front();
            waiting_.pop_front();
            const QDBusMessage reply = *allowed ? answer(call.call)
                                                : error(call.call, "org.freedesktop.DBus.Error.AccessDenied",
                                                        "only the user who runs the program may use its actions");
            if (call.call.isReplyRequired()) call.connection.send(reply);
        }
    }

    void look_up(const std::string& sender, QDBusConnection connection) {
        if (!asking_.insert(sender).second) return;
        QDBusMessage ask = QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                          "org.freedesktop.DBus", "GetConnectionUnixUser");
        ask << q(sender);
        auto* watcher = new QDBusPendingCallWatcher(connection.asyncCall(ask), this);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, sender](QDBusPendingCallWatcher* w) {
            const QDBusPendingReply<uint> reply = *w;
            w->deleteLater();
            asking_.erase(sender);
            const bool gone = reply.isError() && reply.error().name() == "org.freedesktop.DBus.Error.NameHasNoOwner";
            callers_.learned(sender, reply.isValid() ? std::optional<uid_t>(reply.value()) : std::nullopt, gone);
            answer_waiting();
        });
    }

    QDBusMessage error(const QDBusMessage& call, std::string_view name, std::string_view text) const {
        return call.createErrorReply(q(name), q(text));
    }

    QDBusMessage refused(const QDBusMessage& call, const Refusal& r) const {
        using Kind = Refusal::Kind;
        std::string_view name;
        switch (r.kind) {
            case Kind::UnknownResource: name = "UnknownResource"; break;
            case Kind::UnknownAction: name = "UnknownAction"; break;
            case Kind::Unavailable:
                return error(call, names_.error_prefix + "Unavailable", r.reason_code + ": " + r.message);
            case Kind::InvalidArguments: return error(call, kInvalidArgs, r.message);
            case Kind::Refused: name = "Refused"; break;
            case Kind::NotHandled: name = "NotHandled"; break;
            case Kind::UnknownOperation: name = "UnknownOperation"; break;
            case Kind::Failed: name = "Failed"; break;
        }
        return error(call, names_.error_prefix + std::string(name), r.message);
    }

    // The a{ss} argument; an error text for a name given twice.
    static std::expected<zavo_actions::params::ActionArgs, std::string> arguments(const QVariant& value) {
        zavo_actions::params::ActionArgs args;
        const auto map = value.value<QDBusArgument>();
        map.beginMap();
        while (!map.atEnd()) {
            QString name;
            QString text;
            map.beginMapEntry();
            map >> name >> text;
            map.endMapEntry();
            if (!args.values.emplace(name.toStdString(), text.toStdString()).second)
                return std::unexpected(fmt::format("argument \"{}\" is given twice", name.left(64).toStdString()));
        }
        map.endMap();
        return args;
    }

    QDBusMessage answer(const QDBusMessage& call) {
        const QString member = call.member();
        const QString signature = call.signature();
        const QList<QVariant> in = call.arguments();
        auto wrong_signature = [&](std::string_view expected) {
            return error(
                call, kInvalidArgs,
                fmt::format("{} takes ({}), not ({})", member.toStdString(), expected, signature.toStdString()));
        };

        if (member == "ListResources") {
            if (!signature.isEmpty()) return wrong_signature("");
            return call.createReply(q(executor_.list_resources()));
        }
        if (member == "Invoke") {
            if (signature != "ssa{ss}") return wrong_signature("ssa{ss}");
            auto args = arguments(in.at(2));
            if (!args) return error(call, kInvalidArgs, args.error());
            auto done = executor_.invoke(in.at(0).toString().toStdString(), in.at(1).toString().toStdString(), *args);
            if (!done) return refused(call, done.error());
            return call.createReply(QList<QVariant>{q(action_executor::state_name(done->state)), q(done->operation)});
        }
        if (member == "Poll" || member == "Cancel") {
            if (signature != "s") return wrong_signature("s");
            auto polled = executor_.poll(in.at(0).toString().toStdString(), member == "Cancel");
            if (!polled) return refused(call, polled.error());
            return call.createReply(
                QList<QVariant>{q(action_executor::state_name(polled->state)), q(polled->code), q(polled->message)});
        }
        return error(call, "org.freedesktop.DBus.Error.UnknownMethod",
                     fmt::format("{} has no method \"{}\"", names_.interface, member.left(64).toStdString()));
    }

    DoorNames names_;
    action_executor::ActionExecutor& executor_;
    DoorCallers callers_;
    std::deque<Waiting> waiting_;
    std::set<std::string> asking_;  // senders the bus is being asked about
};

ActionDoor::ActionDoor(std::string_view app_id, action_executor::ActionExecutor& executor, std::string_view program,
                       const std::expected<std::string, std::string>& bus)
    : names_(door_names(app_id)) {
    auto closed = [&](const std::string& why) {
        std::fprintf(stderr, "%.*s: the action door is closed: %s\n", static_cast<int>(program.size()), program.data(),
                     why.c_str());
    };
    if (!names_) {
        closed(fmt::format("the application id \"{}\" is not a D-Bus name", app_id));
        return;
    }
    if (!bus) {
        closed(fmt::format("no D-Bus session bus ({})", bus.error()));
        return;
    }
    QDBusConnection session = QDBusConnection::sessionBus();
    if (!session.isConnected()) {
        closed(fmt::format("no D-Bus session bus ({})", session.lastError().message().toStdString()));
        return;
    }
    // The user the bus runs as: a session bus admits that user alone unless configured otherwise.
    const auto bus_user = session.interface()->serviceUid("org.freedesktop.DBus");
    object_ = std::make_unique<Object>(*names_, executor,
                                       bus_user.isValid() ? std::optional<uid_t>(bus_user.value()) : std::nullopt);
    if (!session.registerVirtualObject(q(names_->path), object_.get(), QDBusConnection::SingleNode)) {
        closed(fmt::format("the object {} is already registered", names_->path));
        object_.reset();
        return;
    }
    const auto reply = session.interface()->registerService(
        q(names_->service), QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        closed(fmt::format("the name {} is taken on the session bus (is another copy running?)", names_->service));
        session.unregisterObject(q(names_->path));
        object_.reset();
        return;
    }
    open_ = true;
}

ActionDoor::~ActionDoor() {
    if (!object_) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (open_) bus.interface()->unregisterService(q(names_->service));
    bus.unregisterObject(q(names_->path));
}

}  // namespace zavo_ui::qt
