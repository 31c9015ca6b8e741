#include "profiles/connection_list.hpp"

#include "relay_key/relay_key.hpp"
#include "support/env.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using namespace remote;

namespace {

SavedConnection make(std::string name, ConnectionKind kind = ConnectionKind::Ssh, bool favorite = false) {
    SavedConnection c;
    c.name = std::move(name);
    c.kind = kind;
    c.favorite = favorite;
    c.id = Uuid::new_v4();
    return c;
}

std::vector<std::string> names(const std::vector<const SavedConnection*>& visible) {
    std::vector<std::string> out;
    for (const auto* c : visible) out.push_back(c->name);
    return out;
}

using Names = std::vector<std::string>;

TEST(ConnectionList, OrdersFavouritesFirstThenLowerCasedNames) {
    // clang-format off
    std::vector<SavedConnection> list{
        make("alpha"), make("zeta", ConnectionKind::Ssh, true), make("Beta"), make("Élan"),
        make("9lives"), make("BETA"), make("a", ConnectionKind::Ssh, true), make("B", ConnectionKind::Ssh, true),
        make("beta"),
    };
    // clang-format on
    // Equal lower-cased names keep list order; non-ASCII after ASCII letters; digits first.
    EXPECT_EQ(names(visible_connections(list, "")),
              (Names{"a", "B", "zeta", "9lives", "alpha", "Beta", "BETA", "beta", "Élan"}));
    EXPECT_TRUE(visible_connections({}, "x").empty());
    std::vector<SavedConnection> one{make("only")};
    EXPECT_EQ(names(visible_connections(one, "  ")), Names{"only"});
}

TEST(ConnectionList, SearchesNameHostUserGroupAndStoredKind) {
    auto with = [](std::string name, auto set) {
        SavedConnection c = make(std::move(name));
        set(c);
        return c;
    };
    // clang-format off
    std::vector<SavedConnection> list{
        make("plain"),
        make("desk", ConnectionKind::Vnc),
        make("tv", ConnectionKind::Zavo),
        with("by-host", [](auto& c) { c.host = "SSHGATE.example"; c.kind = ConnectionKind::Rdp; }),
        with("by-user", [](auto& c) { c.user = "MSSH"; c.kind = ConnectionKind::Vnc; }),
        with("by-group", [](auto& c) { c.group = "Team sSh"; c.kind = ConnectionKind::Vnc; }),
        with("by-last-used", [](auto& c) { c.last_used = "ssh"; c.kind = ConnectionKind::Vnc; }),
        with("ΣΊΣΥΦΟΣ", [](auto& c) { c.kind = ConnectionKind::Vnc; }),
        with("Straße", [](auto& c) { c.kind = ConnectionKind::Vnc; }),
    };
    // clang-format on
    const std::pair<const char*, Names> cases[] = {
        {"  SSH  ", {"by-group", "by-host", "by-user", "plain"}},
        {"device", {}},
        {"zavo", {"tv"}},
        {"vnc", {"by-group", "by-last-used", "by-user", "desk", "Straße", "ΣΊΣΥΦΟΣ"}},
        {"σίσυφος", {"ΣΊΣΥΦΟΣ"}},
        {"STRASSE", {}},
        {"straße", {"Straße"}},
        {"İ", {}},
    };
    for (const auto& [query, expected] : cases) EXPECT_EQ(names(visible_connections(list, query)), expected) << query;
}

TEST(ConnectionList, InMemoryEdits) {
    std::vector<SavedConnection> list{make("a"), make("b")};
    Uuid a = list[0].id;
    Uuid absent = Uuid::new_v4();

    EXPECT_TRUE(toggle_favorite(list, a));
    EXPECT_TRUE(list[0].favorite);
    EXPECT_TRUE(toggle_favorite(list, a));
    EXPECT_FALSE(list[0].favorite);
    EXPECT_FALSE(toggle_favorite(list, absent));

    SavedConnection replacement = make("a2");
    replacement.id = a;
    upsert_connection(list, replacement);
    EXPECT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "a2");
    upsert_connection(list, make("c"));
    EXPECT_EQ(list.size(), 3u);
    EXPECT_EQ(list[2].name, "c");

    EXPECT_EQ(find_connection(list, a), &list[0]);
    EXPECT_EQ(find_connection(list, absent), nullptr);

    auto before = list;
    EXPECT_FALSE(remove_connection(list, absent));
    EXPECT_EQ(list, before);
    list.push_back(list[0]);  // a duplicate id goes too
    EXPECT_TRUE(remove_connection(list, a));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "b");
    EXPECT_EQ(list[1].name, "c");
}

TEST(ConnectionList, OnlineCount) {
    std::vector<SavedConnection> list{make("a"), make("b"), make("c"), make("d")};
    list[0].presence = Presence::Online;
    list[1].presence = Presence::Offline;
    list[3].presence = Presence::Online;
    EXPECT_EQ(online_count(list), 2u);
}

}  // namespace

TEST(ListCache, FollowsEveryChangeOfTheList) {
    ConnectionList list;
    list = std::vector<SavedConnection>{make("beta"), make("alpha"), make("gamma")};
    ListCache cache;
    auto order = [&](std::string_view query = "") {
        Names out;
        for (std::size_t i : cache.visible(list, query)) out.push_back(list[i].name);
        return out;
    };
    EXPECT_EQ(order(), (Names{"alpha", "beta", "gamma"}));
    EXPECT_EQ(order("ph"), Names{"alpha"});

    ASSERT_TRUE(toggle_favorite(list, list[2].id));
    EXPECT_EQ(order(), (Names{"gamma", "alpha", "beta"}));
    SavedConnection renamed = list[1];
    renamed.name = "zulu";
    upsert_connection(list, renamed);
    EXPECT_EQ(order(), (Names{"gamma", "beta", "zulu"}));
    ASSERT_TRUE(remove_connection(list, list[0].id));
    EXPECT_EQ(order(), (Names{"gamma", "zulu"}));
    list.push_back(make("delta"));  // a plain vector change: the size tells
    EXPECT_EQ(order(), (Names{"gamma", "delta", "zulu"}));
    list = std::vector<SavedConnection>{make("omega")};
    EXPECT_EQ(order(), Names{"omega"});
}

TEST(ListCache, CountsFollowTheListAndTheLiveSessionSwitch) {
    ConnectionList list;
    list = std::vector<SavedConnection>{make("a", ConnectionKind::Ssh), make("b", ConnectionKind::Rdp)};
    list[0].presence = Presence::Online;
    list.touch();
    ListCache cache;
    test_support::EnvGuard env;
    env.set("REMOTE_LIVE_SESSIONS", nullptr);
    EXPECT_EQ(cache.counts(list), (ListCache::Counts{2, 1, 0}));
    env.set("REMOTE_LIVE_SESSIONS", "");
    EXPECT_EQ(cache.counts(list), (ListCache::Counts{2, 1, 1}));
    env.set("REMOTE_LIVE_SESSIONS", nullptr);
    list[1].presence = Presence::Online;
    list.touch();
    EXPECT_EQ(cache.counts(list), (ListCache::Counts{2, 2, 0}));
}

// Syncs hand the cache a new list each time, with a few records edited, added or removed, or
// many at once, or the records in another order: after each, the kept order and counts must be
// what a fresh computation gives.
TEST(ListCache, AfterEverySyncMatchesAFreshComputation) {
    test_support::EnvGuard env;
    env.set("REMOTE_LIVE_SESSIONS", "");
    relay_key::SecretKey::Bytes secret{};
    secret[0] = 7;
    const std::string device = relay_key::SecretKey::from_bytes(secret).public_key().to_string();
    std::mt19937 rng(5);
    const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    static const char* const kNames[] = {"alpha", "Beta", "beta", "Élan", "gamma", "Alpha", "delta"};
    const auto edit = [&](SavedConnection& c) {
        switch (pick(6)) {
            case 0: c.name = kNames[pick(7)] + std::to_string(pick(3)); break;
            case 1: c.favorite = !c.favorite; break;
            case 2: c.presence = static_cast<Presence>(pick(3)); break;
            case 3: c.kind = static_cast<ConnectionKind>(pick(4)); break;
            case 4: c.host = pick(2) ? device : "not-a-key"; break;
            case 5: c.group = pick(2) ? "lab" : "home"; break;
        }
        c.auth = c.kind == ConnectionKind::Zavo && pick(4) ? AuthKind::DeviceIdentity : AuthKind::Password;
    };
    const auto fresh = [&] {
        SavedConnection c = make(kNames[pick(7)], static_cast<ConnectionKind>(pick(4)), pick(5) == 0);
        edit(c);
        return c;
    };

    ConnectionList list;
    std::vector<SavedConnection> next;
    for (int i = 0; i < 300; ++i) next.push_back(fresh());
    ListCache cache;
    for (int step = 0; step < 400; ++step) {
        switch (pick(8)) {
            case 0: next.insert(next.begin() + pick(next.size() + 1), fresh()); break;
            case 1:
                if (!next.empty()) next.erase(next.begin() + pick(next.size()));
                break;
            case 2:  // a sync that changes many
                for (auto& c : next)
                    if (pick(2)) edit(c);
                break;
            case 3: std::shuffle(next.begin(), next.end(), rng); break;
            case 4: env.set("REMOTE_LIVE_SESSIONS", pick(2) ? "" : nullptr); break;
            default:
                for (std::size_t n = 1 + pick(3); n > 0 && !next.empty(); --n) edit(next[pick(next.size())]);
        }
        list = next;
        const std::string query = step % 5 == 0 ? "ALP" : step % 7 == 0 ? "lab" : "";
        std::vector<std::size_t> expected;
        for (const SavedConnection* c : visible_connections(list, query))
            expected.push_back(static_cast<std::size_t>(c - list.data()));
        ASSERT_EQ(cache.visible(list, query), expected) << "step " << step;
        const auto ready = std::count_if(list.begin(), list.end(),
                                         [](const auto& c) { return c.readiness() == ConnectionReadiness::Ready; });
        ASSERT_EQ(cache.counts(list), (ListCache::Counts{list.size(), online_count(list), std::size_t(ready)}))
            << "step " << step;
    }
}
