// Hash library: byte keys of any length, replacement, removal and growth.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "components/hash.h"

TEST(Hash, KeysAreBytesNotStrings) {
    HHASH t = hash_init(4);
    int a = 1, b = 2, c = 3;
    // Keys that differ only after an embedded zero, and the empty key, are distinct.
    ASSERT_EQ(hash_add(t, "ab\0x", 4, &a), 1);
    ASSERT_EQ(hash_add(t, "ab\0y", 4, &b), 1);
    ASSERT_EQ(hash_add(t, "", 0, &c), 1);
    EXPECT_EQ(hash_get(t, "ab\0x", 4), &a);
    EXPECT_EQ(hash_get(t, "ab\0y", 4), &b);
    EXPECT_EQ(hash_get(t, "", 0), &c);
    EXPECT_EQ(hash_get(t, "ab", 2), nullptr);
    hash_destroy(t, nullptr, nullptr, nullptr);
}

TEST(Hash, KeyIsCopiedSoTheCallerMayReuseItsBuffer) {
    HHASH t = hash_init(8);
    int v = 7;
    uint8_t key[8] = {1, 0, 0, 0, 9, 0, 0, 0};
    hash_add(t, key, sizeof key, &v);
    std::memset(key, 0xEE, sizeof key);
    uint8_t probe[8] = {1, 0, 0, 0, 9, 0, 0, 0};
    EXPECT_EQ(hash_get(t, probe, sizeof probe), &v);
    hash_destroy(t, nullptr, nullptr, nullptr);
}

TEST(Hash, AddReplacesRemoveReturnsValue) {
    HHASH t = hash_init(1);
    int a = 1, b = 2;
    hash_add(t, "k", 1, &a);
    hash_add(t, "k", 1, &b);
    EXPECT_EQ(hash_count(t), 1u);
    EXPECT_EQ(hash_get(t, "k", 1), &b);
    EXPECT_EQ(hash_remove(t, "k", 1), &b);
    EXPECT_EQ(hash_remove(t, "k", 1), nullptr);
    EXPECT_EQ(hash_get(t, "k", 1), nullptr);
    EXPECT_EQ(hash_count(t), 0u);
    hash_destroy(t, nullptr, nullptr, nullptr);
}

TEST(Hash, GrowsFarPastItsHintAndKeepsEveryKey) {
    HHASH t = hash_init(2);
    std::vector<int> values(5000);
    for (size_t i = 0; i < values.size(); ++i) {
        std::string k = "user:" + std::to_string(i);
        hash_add(t, k.data(), k.size(), &values[i]);
    }
    EXPECT_EQ(hash_count(t), values.size());
    for (size_t i = 0; i < values.size(); i += 3) {
        std::string k = "user:" + std::to_string(i);
        EXPECT_EQ(hash_remove(t, k.data(), k.size()), &values[i]);
    }
    for (size_t i = 0; i < values.size(); ++i) {
        std::string k = "user:" + std::to_string(i);
        EXPECT_EQ(hash_get(t, k.data(), k.size()), i % 3 == 0 ? nullptr : &values[i]) << k;
    }
    hash_destroy(t, nullptr, nullptr, nullptr);
}

TEST(Hash, NullTableAndNullKeyAreRefused) {
    int v = 0;
    EXPECT_EQ(hash_add(nullptr, "k", 1, &v), 0);
    EXPECT_EQ(hash_get(nullptr, "k", 1), nullptr);
    HHASH t = hash_init(4);
    EXPECT_EQ(hash_add(t, nullptr, 3, &v), 0);
    EXPECT_EQ(hash_get(t, nullptr, 3), nullptr);
    hash_destroy(t, nullptr, nullptr, nullptr);
    hash_destroy(nullptr, nullptr, nullptr, nullptr);
}
