#include "views/keys.hpp"

#include <gtest/gtest.h>

#include <vector>

using namespace remote;
using namespace remote::views;

TEST(FormTabOrder, PerKind) {
    using S = InputSlot;
    auto order = [](ConnectionKind kind) {
        auto span = form_tab_order(kind);
        return std::vector<S>(span.begin(), span.end());
    };
    EXPECT_EQ(order(ConnectionKind::Ssh), (std::vector<S>{S::Name, S::Host, S::Port, S::User, S::Group}));
    EXPECT_EQ(order(ConnectionKind::Rdp), (std::vector<S>{S::Name, S::Host, S::Port, S::User, S::Group}));
    EXPECT_EQ(order(ConnectionKind::Vnc), (std::vector<S>{S::Name, S::Host, S::Port, S::Group}));
    EXPECT_EQ(order(ConnectionKind::Zavo), (std::vector<S>{S::Name, S::Host}));
}
