// The password comparison that guards editing and erasing.
#include <gtest/gtest.h>

#include <string>

#include "permission.h"

TEST(PasswordMatches, ExactBytesOnly) {
    EXPECT_EQ(passwordMatches("secret", "secret"), 1);
    EXPECT_EQ(passwordMatches("Secret", "secret"), -1);
    EXPECT_EQ(passwordMatches("secre", "secret"), -1);
    EXPECT_EQ(passwordMatches("secrets", "secret"), -1);
    EXPECT_EQ(passwordMatches("pass word", "pass word"), 1);
    EXPECT_EQ(passwordMatches("\xBE\xCF\xC8\xA3", "\xBE\xCF\xC8\xA3"), 1);
}

TEST(PasswordMatches, SiteWithoutPasswordIsClosed) {
    EXPECT_EQ(passwordMatches("", ""), -1);
    EXPECT_EQ(passwordMatches("anything", ""), -1);
}

TEST(PasswordMatches, OverlongPostedTextNeverMatches) {
    std::string configured(255, 'p');
    EXPECT_EQ(passwordMatches(configured.c_str(), configured.c_str()), 1);
    std::string posted(256, 'p');
    EXPECT_EQ(passwordMatches(posted.c_str(), configured.c_str()), -1);
}
