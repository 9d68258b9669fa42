#include "platform/tstringhash.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using platform::EHashError;

struct Counted {
    explicit Counted(int* alive) : alive_(alive) { ++*alive_; }
    ~Counted() { --*alive_; }
    int* alive_;
};

TEST(StringHash, RefusesEmptyKeysAndNamesMissingOnes) {
    platform::TIntegerHash set;
    try {
        set.Set("", 1);
        FAIL() << "an empty key was accepted";
    } catch (const EHashError& e) {
        EXPECT_EQ(e.Message(), "Key cannot be an empty string");
    }
    try {
        set.Get("absent");
        FAIL() << "a missing key was found";
    } catch (const EHashError& e) {
        EXPECT_EQ(e.Message(), "Key \"absent\" not found");
    }
    EXPECT_THROW(set.Delete("absent"), EHashError);
    EXPECT_EQ(set.Find("absent"), 0);
}

TEST(StringHash, KeysAreCaseSensitiveAndSettingReplaces) {
    platform::TIntegerHash set;
    set.Set("Key", 1);
    set.Set("key", 2);
    set.Set("Key", 3);
    EXPECT_EQ(set.Count(), 2);
    EXPECT_EQ(set.Get("Key"), 3);
    EXPECT_EQ(set.Get("key"), 2);
}

TEST(StringHash, OwningMapFreesReplacedDeletedAndRemainingObjects) {
    int alive = 0;
    {
        platform::TObjectHash<Counted> owned;
        owned.Set("a", std::make_unique<Counted>(&alive));
        owned.Set("b", std::make_unique<Counted>(&alive));
        owned.Set("a", std::make_unique<Counted>(&alive));
        EXPECT_EQ(alive, 2);
        owned.Delete("b");
        EXPECT_EQ(alive, 1);
        const std::unique_ptr<Counted> taken = owned.Take("a");
        EXPECT_EQ(owned.Count(), 0);
        EXPECT_EQ(alive, 1);
        owned.Set("c", std::make_unique<Counted>(&alive));
    }
    EXPECT_EQ(alive, 0);

    Counted outside(&alive);
    {
        platform::TPointerHash<Counted> borrowed;
        borrowed.Set("x", &outside);
        EXPECT_EQ(borrowed.Get("x"), &outside);
    }
    EXPECT_EQ(alive, 1);
}

TEST(StringHash, IterationVisitsEveryKeyOnceAndFailsAfterAChange) {
    platform::TIntegerHash set;
    for (int i = 0; i < 100; ++i)
        set.Set(QByteArray::number(i), i);
    std::set<QByteArray> seen;
    QByteArray key;
    int32_t value = 0;
    set.Restart();
    while (set.Next(key, value)) {
        EXPECT_EQ(key.toInt(), value);
        EXPECT_TRUE(seen.insert(key).second) << key.constData();
    }
    EXPECT_EQ(seen.size(), 100u);

    set.Restart();
    ASSERT_TRUE(set.Next(key, value));
    set.Set("new", 1);
    try {
        set.Next(key, value);
        FAIL() << "iteration went on after a change";
    } catch (const EHashError& e) {
        EXPECT_EQ(e.Message(),
                  "Cannot get Next as the hash has been modified since Restart was called");
    }
    set.Restart();
    set.Delete("new");
    EXPECT_THROW(set.Next(key, value), EHashError);
}

} // namespace
