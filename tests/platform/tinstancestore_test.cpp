#include "platform/tinstancestore.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

struct Counted {
    inline static int made = 0;
    inline static int freed = 0;
    Counted() { ++made; }
    ~Counted() { ++freed; }
};

using Store = TInstanceStore<Counted>;

} // namespace

TEST(InstanceStore, RequestCodes) {
    const int made = Counted::made;
    const int freed = Counted::freed;
    EXPECT_EQ(Store::Request(irGet), nullptr);
    Counted* const created = Store::Request(irGetOrCreate);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(Store::Request(irGetOrCreate), created);
    EXPECT_EQ(Store::Request(irGet), created);
    EXPECT_EQ(Counted::made, made + 1);

    EXPECT_EQ(Store::Request(irForget), nullptr);
    EXPECT_EQ(Counted::freed, freed + 1);
    EXPECT_EQ(Store::Request(irGet), nullptr);
    EXPECT_EQ(Store::Request(irForget), nullptr);
    EXPECT_EQ(Counted::freed, freed + 1);

    for (const int request : {3, -1, 100}) {
        SCOPED_TRACE(request);
        try {
            Store::Request(request);
            ADD_FAILURE() << "nothing raised";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("Invalid request"));
        }
    }
}
