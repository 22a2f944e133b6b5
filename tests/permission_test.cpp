// The password comparison that guards editing and erasing.
#include <gtest/gtest.h>

#include <string>

#include "permission/password_check.h"

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

#include <crypt.h>

namespace {

std::string hashed(const char* prefix, const char* password) {
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!crypt_gensalt_rn(prefix, 0, nullptr, 0, setting, sizeof setting)) return "";
    struct crypt_data data = {};
    const char* result = crypt_r(password, setting, &data);
    return result && result[0] != '*' ? result : "";
}

}  // namespace

TEST(PasswordMatches, CryptHashesOfEveryKind) {
    for (const char* prefix : {"$y$", "$2b$", "$6$", "$5$", "$1$"}) {
        std::string hash = hashed(prefix, "pass word");
        ASSERT_FALSE(hash.empty()) << prefix;
        EXPECT_TRUE(isPasswordHash(hash.c_str())) << hash;
        EXPECT_EQ(passwordMatches("pass word", hash.c_str()), 1) << hash;
        EXPECT_EQ(passwordMatches("pass Word", hash.c_str()), -1) << hash;
        EXPECT_EQ(passwordMatches("", hash.c_str()), -1) << hash;
        EXPECT_EQ(passwordMatches(hash.c_str(), hash.c_str()), -1) << hash;
    }
}

TEST(PasswordMatches, WhatIsAHash) {
    EXPECT_FALSE(isPasswordHash("secret"));
    EXPECT_FALSE(isPasswordHash("$"));
    EXPECT_FALSE(isPasswordHash("$$"));
    EXPECT_FALSE(isPasswordHash("$Y$abc"));
    EXPECT_FALSE(isPasswordHash("$money"));
    EXPECT_TRUE(isPasswordHash("$y$j9T$salt$hash"));
    // A plain value that starts like no hash keeps working.
    EXPECT_EQ(passwordMatches("$money", "$money"), 1);
    // A hash that crypt cannot read opens nothing, not even to itself.
    EXPECT_EQ(passwordMatches("$zz$broken", "$zz$broken"), -1);
    EXPECT_EQ(passwordMatches("", "$y$"), -1);
}
