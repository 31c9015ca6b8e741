// The action executor against a widget that offers a small tree: lookups, the argument checks,
// plain actions on the document, and the operations it starts and polls.
#include "zavo_ui/action_executor.hpp"

#include "zavo_ui/qt/action_door.hpp"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace zavo_ui::action_executor {
namespace {

using zavo_actions::action::ActionError;
using zavo_actions::action::EncodedAction;
using zavo_actions::resource::ActionSpec;
using zavo_actions::resource::Resource;
using Kind = Refusal::Kind;

EncodedAction encoded(std::string type, std::string payload) {
    return EncodedAction{std::move(type), std::vector<std::uint8_t>(payload.begin(), payload.end())};
}

std::shared_ptr<const std::function<EncodedAction(const zavo_actions::params::ActionArgs&)>> encoder(
    std::function<EncodedAction(const zavo_actions::params::ActionArgs&)> f) {
    return std::make_shared<const std::function<EncodedAction(const zavo_actions::params::ActionArgs&)>>(std::move(f));
}

ActionSpec spec(std::string id, std::string title, std::string type, std::uint8_t kind = 0) {
    ActionSpec s;
    s.id = std::move(id);
    s.title = std::move(title);
    s.kind = kind;
    if (kind != 0) s.operation_type = type;
    s.encoder = encoder([type](const zavo_actions::params::ActionArgs& args) {
        return encoded(type, args.text("value").value_or("plain"));
    });
    return s;
}

// Sets ROOT.name to the payload's text.
class PutName final : public zavo_actions::action::Action {
public:
    explicit PutName(std::string name) : name_(std::move(name)) {}
    std::string to_debug_string() const override { return "PutName"; }
    std::expected<void, ActionError> apply(crdt::Document& doc) const override {
        (void)doc.put(crdt::ROOT, "name", name_);
        return {};
    }
    bool coalesces() const override { return false; }

private:
    std::string name_;
};

// Offers "r" (with a child "r.child") and answers operations as told.
struct Offering : Widget {
    std::vector<Resource> action_resources(const crdt::Document&) override {
        zavo_actions::params::ActionParam value;
        value.name = "value";
        value.label = "Value";
        ActionSpec ask = spec("ask", "Ask", "name");
        ask.parameters.push_back(value);
        Resource child("r.child", "k", "Child \xff");
        child = std::move(child).with_action(spec("op", "Operate", "op", 1)).with_action(spec("view", "View", "op", 2));
        Resource r("r", "k", "R");
        r = std::move(r)
                .with_action(spec("plain", "Put name", "name"))
                .with_action(std::move(ask))
                .with_action(spec("off", "Off", "name").unavailable("not_now", "Not now."))
                .with_action(spec("untyped", "Untyped", "nobody"))
                .with_child({std::move(child)});
        return {std::move(r)};
    }
    operation::StartOutcome start_operation(const operation::OperationId& id, std::uint8_t kind,
                                            const EncodedAction&) override {
        started.push_back(id);
        return kind == 1 ? start_answer : operation::StartOutcome(operation::start::NotHandled{});
    }
    operation::RunOutcome run_operation(std::uint8_t kind, const EncodedAction&) override {
        ++runs;
        return operation::RunResult{kind == 2 && run_handles};
    }
    operation::PollOutcome poll_operation(const operation::OperationId& id, bool cancel) override {
        cancels.push_back(cancel);
        if (poll_answers.empty()) {
            if (finish_when_polled) return operation::poll::Completed{{}, id};
            return operation::poll::Pending{};
        }
        auto answer = poll_answers.front();
        poll_answers.erase(poll_answers.begin());
        std::visit(
            [&](auto& a) {
                if constexpr (requires { a.id; }) a.id = id;
            },
            answer);
        return answer;
    }

    operation::StartOutcome start_answer = operation::start::Pending{};
    bool run_handles = true;
    std::vector<operation::OperationId> started;
    int runs = 0;
    std::vector<operation::PollOutcome> poll_answers;
    bool finish_when_polled = false;
    std::vector<bool> cancels;
};

class Executor : public ::testing::Test {
protected:
    Executor() {
        executor.emplace(widget, doc, registry(), [this] { ++changes; });
    }

    static zavo_actions::ActionRegistry registry() {
        zavo_actions::ActionRegistry registry;
        registry.insert("name",
                        [](std::span<const std::uint8_t> payload)
                            -> std::expected<std::unique_ptr<zavo_actions::action::Action>, ActionError> {
                            return std::make_unique<PutName>(std::string(payload.begin(), payload.end()));
                        });
        return registry;
    }

    std::optional<std::string> stored_name() const {
        auto v = doc.get(crdt::ROOT, "name");
        if (!v || !*v) return std::nullopt;
        return std::get<std::string>(*(*v)->value.scalar());
    }

    Offering widget;
    crdt::Document doc;
    int changes = 0;
    std::optional<ActionExecutor> executor;
};

TEST_F(Executor, ListsTheTreeAsJson) {
    const auto json = nlohmann::json::parse(executor->list_resources());
    ASSERT_EQ(json.size(), 1u);
    EXPECT_EQ(json[0]["id"], "r");
    EXPECT_EQ(json[0]["actions"][1]["parameters"][0]["name"], "value");
    EXPECT_EQ(json[0]["actions"][2]["available"], false);
    EXPECT_EQ(json[0]["actions"][2]["reason_code"], "not_now");
    EXPECT_EQ(json[0]["children"][0]["title"], "Child \xef\xbf\xbd");  // not UTF-8: replaced, not a failure
    EXPECT_EQ(json[0]["children"][0]["actions"][0]["operation_kind"], 1);
}

TEST_F(Executor, BadRequestsAreRefusedAndChangeNothing) {
    const std::string big(zavo_actions::executor::kMaxArgumentBytes + 1, 'x');
    struct Case {
        std::string resource, action;
        std::map<std::string, std::string, std::less<>> args;
        Refusal expected;
        // clang-format off
    } cases[] = {
        {"nope", "plain", {}, {Kind::UnknownResource, "no resource \"nope\"", {}}},
        {std::string(100, 'n'), "plain", {}, {Kind::UnknownResource, "no resource \"" + std::string(64, 'n') + "…\"", {}}},
        {"r", "nope", {}, {Kind::UnknownAction, "resource \"r\" has no action \"nope\" (its actions: plain, ask, off, untyped)", {}}},
        {"r", "off", {}, {Kind::Unavailable, "Not now.", "not_now"}},
        {"r", "plain", {{"value", "x"}}, {Kind::InvalidArguments, "action \"plain\" takes no arguments; got \"value\"", {}}},
        {"r", "ask", {{"valu", "x"}}, {Kind::InvalidArguments, "action \"ask\" takes no argument \"valu\" (its arguments: value)", {}}},
        {"r", "ask", {{"value", big}}, {Kind::InvalidArguments, "argument \"value\" has 1048577 bytes; at most 1048576 are accepted", {}}},
        {"r", "untyped", {}, {Kind::Failed, "unknown action type `nobody`", {}}},
    };
    // clang-format on
    const auto heads = doc.get_heads();
    for (const auto& c : cases) {
        EXPECT_EQ(executor->invoke(c.resource, c.action, {c.args}), std::unexpected(c.expected)) << c.action;
    }
    EXPECT_EQ(doc.get_heads(), heads);
    EXPECT_TRUE(widget.started.empty());
    EXPECT_EQ(executor->poll("00", false),
              std::unexpected(Refusal{
                  Kind::UnknownOperation, "no started operation \"00\" (it finished, or was never started here)", {}}));
}

TEST_F(Executor, PlainActionsApplyToTheDocumentAsOneChange) {
    const std::string largest(zavo_actions::executor::kMaxArgumentBytes, 'y');
    EXPECT_EQ(executor->invoke("r", "ask", {{{"value", largest}}}), (Invoked{Invoked::State::Applied, {}}));
    EXPECT_EQ(stored_name(), largest);
    EXPECT_EQ(executor->invoke("r", "plain", {}), (Invoked{Invoked::State::Applied, {}}));
    EXPECT_EQ(stored_name(), "plain");
    EXPECT_EQ(doc.get_changes({}).back().message(), "Put name");
    // An argument left out is the encoder's to read.
    EXPECT_EQ(executor->invoke("r", "ask", {{{"value", "asked"}}}), (Invoked{Invoked::State::Applied, {}}));
    EXPECT_EQ(executor->invoke("r", "ask", {}), (Invoked{Invoked::State::Applied, {}}));
    EXPECT_EQ(stored_name(), "plain");
    EXPECT_EQ(changes, 4);
}

// A plain action is answered as applied only once its change is saved. One whose change cannot
// be saved is refused and its change taken back, whatever was there before staying (saved or
// not); the document goes on as the same replica. Operations are not held back.
TEST_F(Executor, AChangeThatCannotBeSavedIsRefusedAndNotMade) {
    std::expected<void, std::string> kept;
    int asked = 0;
    executor.emplace(
        widget, doc, registry(), [this] { ++changes; },
        [&] {
            ++asked;
            return kept;
        });
    const std::unexpected<std::string> full("cannot write: No space left on device");
    struct Case {
        const char* what;
        std::expected<void, std::string> kept;
        std::expected<Invoked, Refusal> answer;
        std::string stored;
        int changes;
    } cases[] = {
        {"saved", {}, Invoked{Invoked::State::Applied, {}}, "plain", 1},
        {"not saved",
         full,
         std::unexpected(Refusal{
             Kind::Failed, "nothing was changed: changes cannot be saved (cannot write: No space left on device)", {}}),
         "earlier",
         2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        doc = crdt::Document(crdt::ActorId({9}));
        ASSERT_TRUE(doc.put(crdt::ROOT, "name", std::string("earlier")));
        const auto before = doc.get_heads();
        kept = c.kept;
        changes = 0;
        EXPECT_EQ(executor->invoke("r", "plain", {}), c.answer);
        EXPECT_EQ(stored_name(), c.stored);
        EXPECT_EQ(changes, c.changes) << "told of the change, and of taking it back";
        EXPECT_EQ(doc.actor_id(), crdt::ActorId({9}));
        if (!c.kept) {
            EXPECT_EQ(doc.get_heads(), before) << "the refused change is not in the history either";
        }
    }
    // What is made after a refusal follows what came before it.
    crdt::Document other = doc.fork();
    kept = {};
    ASSERT_EQ(executor->invoke("r", "plain", {}), (Invoked{Invoked::State::Applied, {}}));
    ASSERT_TRUE(other.merge(doc));
    EXPECT_EQ(std::get<std::string>(*other.get(crdt::ROOT, "name").value()->value.scalar()), "plain");

    asked = 0;
    kept = full;
    EXPECT_EQ(executor->invoke("r.child", "view", {}), (Invoked{Invoked::State::Completed, {}}));
    EXPECT_EQ(asked, 0);
}

TEST_F(Executor, OperationsAreStartedOrRunAndPolledUntilTheyFinish) {
    // Started: pending under a fresh id, polled (and cancelled) through the widget.
    auto started = executor->invoke("r.child", "op", {});
    ASSERT_TRUE(started);
    EXPECT_EQ(started->state, Invoked::State::Pending);
    ASSERT_EQ(widget.started.size(), 1u);
    EXPECT_EQ(started->operation, operation_id_text(widget.started[0]));
    EXPECT_EQ(parse_operation_id(started->operation), widget.started[0]);
    EXPECT_EQ(executor->poll(started->operation, false), (Polled{Polled::State::Pending, {}, {}}));
    widget.poll_answers = {operation::poll::Failed{"x.code", "went wrong", {}, std::nullopt, false}};
    EXPECT_EQ(executor->poll(started->operation, true), (Polled{Polled::State::Failed, "x.code", "went wrong"}));
    EXPECT_EQ(widget.cancels, (std::vector<bool>{false, true}));
    // Finished: its id is forgotten.
    EXPECT_EQ(executor->poll(started->operation, false).error().kind, Kind::UnknownOperation);

    widget.poll_answers = {operation::poll::Completed{}, operation::poll::Cancelled{"stopped", {}}};
    auto second = executor->invoke("r.child", "op", {});
    EXPECT_EQ(executor->poll(second->operation, false), (Polled{Polled::State::Completed, {}, {}}));
    auto third = executor->invoke("r.child", "op", {});
    EXPECT_NE(third->operation, second->operation);
    EXPECT_EQ(executor->poll(third->operation, true), (Polled{Polled::State::Cancelled, {}, "stopped"}));

    // Not started but run at once, or handled by neither.
    EXPECT_EQ(executor->invoke("r.child", "view", {}), (Invoked{Invoked::State::Completed, {}}));
    EXPECT_EQ(widget.runs, 1);
    widget.run_handles = false;
    EXPECT_EQ(executor->invoke("r.child", "view", {}).error().kind, Kind::NotHandled);

    widget.start_answer = operation::start::Refused{"busy"};
    EXPECT_EQ(executor->invoke("r.child", "op", {}), std::unexpected(Refusal{Kind::Refused, "busy", {}}));
    widget.start_answer = operation::start::Completed{};
    EXPECT_EQ(executor->invoke("r.child", "op", {}), (Invoked{Invoked::State::Completed, {}}));
    EXPECT_EQ(widget.runs, 2);  // a start that answers is not run again
}

TEST_F(Executor, AnOperationNobodyPolledDoesNotHoldBackTheNext) {
    const auto first = executor->invoke("r.child", "op", {});
    widget.poll_answers = {operation::poll::Failed{"x.code", "went wrong", {}, std::nullopt, false}};
    const auto second = executor->invoke("r.child", "op", {});  // asks after the first, without cancel
    EXPECT_EQ(widget.cancels, (std::vector<bool>{false}));
    // The first one's end waits for its poll, which does not ask the widget again.
    EXPECT_EQ(executor->poll(first->operation, true), (Polled{Polled::State::Failed, "x.code", "went wrong"}));
    EXPECT_EQ(widget.cancels.size(), 1u);
    EXPECT_EQ(executor->poll(first->operation, false).error().kind, Kind::UnknownOperation);
    EXPECT_EQ(executor->poll(second->operation, false), (Polled{Polled::State::Pending, {}, {}}));

    // Outcomes nobody comes back for are kept up to a limit, the oldest dropped first.
    widget.finish_when_polled = true;
    std::vector<std::string> ids;
    for (std::size_t i = 0; i < ActionExecutor::kKeptOutcomes + 2; ++i)
        ids.push_back(executor->invoke("r.child", "op", {})->operation);
    EXPECT_EQ(executor->poll(second->operation, false).error().kind, Kind::UnknownOperation);
    EXPECT_EQ(executor->poll(ids[0], false).error().kind, Kind::UnknownOperation);
    EXPECT_EQ(executor->poll(ids[1], false), (Polled{Polled::State::Completed, {}, {}}));
    EXPECT_EQ(executor->poll(ids.back(), false), (Polled{Polled::State::Completed, {}, {}}));
}

TEST(OperationIds, TextIs32LowerCaseHexDigits) {
    operation::OperationId id{};
    id[0] = 0xab;
    id[15] = 0x01;
    EXPECT_EQ(operation_id_text(id), "ab000000000000000000000000000001");
    for (const char* bad : {"", "ab00000000000000000000000000000", "AB000000000000000000000000000001",
                            "ab00000000000000000000000000000g", "ab0000000000000000000000000000011"}) {
        EXPECT_EQ(parse_operation_id(bad), std::nullopt) << bad;
    }
}

TEST(ActionDoor, NamesFollowTheApplicationId) {
    EXPECT_EQ(qt::door_names("dev.zavo.remote"), (qt::DoorNames{"dev.zavo.remote", "/dev/zavo/remote",
                                                                "dev.zavo.remote.Actions", "dev.zavo.remote.Error."}));
    EXPECT_EQ(qt::door_names("org.example.my-app")->path, "/org/example/my_app");
    for (const char* bad :
         {"", "remote", "dev..zavo", "dev.zavo.", ".dev.zavo", "dev.1zavo", "dev.za vo", "dév.zavo"}) {
        EXPECT_EQ(qt::door_names(bad), std::nullopt) << bad;
    }
}

// Whose calls the door carries out, by what the bus answered about each sender.
TEST(ActionDoor, CallsAreCarriedOutForThisUserOnly) {
    constexpr uid_t me = 1000, other = 1001;
    struct Answer {
        std::string sender;
        std::optional<uid_t> user;
        bool gone;
    };
    struct Case {
        const char* what;
        std::optional<uid_t> bus_user;
        std::vector<Answer> answers;
        std::string asked;
        std::optional<bool> allowed;
    } cases[] = {
        {"not looked up yet", me, {}, ":1.1", std::nullopt},
        {"this user", me, {{":1.1", me, false}}, ":1.1", true},
        {"another user", me, {{":1.1", other, false}}, ":1.1", false},
        {"no user in the answer", me, {{":1.1", std::nullopt, false}}, ":1.1", false},
        {"left, on this user's bus", me, {{":1.1", std::nullopt, true}}, ":1.1", true},
        {"left, on another user's bus", other, {{":1.1", std::nullopt, true}}, ":1.1", false},
        {"left, on a bus whose user is not known", std::nullopt, {{":1.1", std::nullopt, true}}, ":1.1", false},
        {"left, once another user was seen", me, {{":1.1", other, false}, {":1.2", std::nullopt, true}}, ":1.2", false},
    };
    for (const auto& c : cases) {
        qt::DoorCallers callers(me, c.bus_user);
        for (const auto& a : c.answers) callers.learned(a.sender, a.user, a.gone);
        EXPECT_EQ(callers.allowed(c.asked), c.allowed) << c.what;
    }
    qt::DoorCallers many(me, me);
    for (std::size_t i = 0; i <= qt::DoorCallers::kRemembered; ++i) many.learned(":1." + std::to_string(i), me, false);
    EXPECT_EQ(many.allowed(":1.0"), std::nullopt) << "the oldest is forgotten";
    EXPECT_EQ(many.allowed(":1.1"), true);
}

}  // namespace
}  // namespace zavo_ui::action_executor
