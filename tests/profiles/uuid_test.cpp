#include "profiles/uuid.hpp"

#include <gtest/gtest.h>

using remote::Uuid;

TEST(Uuid, ParsesEveryTextFormToTheSameId) {
    const char* canonical = "67e55044-10b1-426f-9247-bb680e5fe0c8";
    for (const char* text : {"67e55044-10b1-426f-9247-bb680e5fe0c8", "67E55044-10B1-426F-9247-BB680E5FE0C8",
                             "67e5504410b1426f9247bb680e5fe0c8", "{67e55044-10b1-426f-9247-bb680e5fe0c8}",
                             "urn:uuid:67e55044-10b1-426f-9247-bb680e5fe0c8"}) {
        auto id = Uuid::parse(text);
        ASSERT_TRUE(id) << text << ": " << id.error();
        EXPECT_EQ(id->to_string(), canonical);
    }
}

TEST(Uuid, RefusesMalformedTextWithAReason) {
    for (const char* text : {"", "67e55044-10b1-426f-9247", "67e55044-10b1-426f-9247-bb680e5fe0c", "zz",
                             "67e55044-10b1-426f-9247-bb680e5fe0cg", "67e5504410b1426f9247bb680e5fe0c8 ",
                             "67e55044-10b1-426f-9247bb680e5fe0c8-"}) {
        auto id = Uuid::parse(text);
        EXPECT_FALSE(id) << text;
        if (!id) {
            EXPECT_FALSE(id.error().empty());
        }
    }
}

TEST(Uuid, NilAndRandomIds) {
    EXPECT_EQ(Uuid::nil().to_string(), "00000000-0000-0000-0000-000000000000");
    EXPECT_NE(Uuid::new_v4(), Uuid::new_v4());
}
