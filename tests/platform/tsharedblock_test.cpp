#include "platform/tsharedblock.h"

#include <QUuid>
#include <QtEndian>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

using namespace platform;

namespace {

class SharedBlock : public ::testing::Test {
protected:
    uint32_t LengthField(const TSharedBlock& block) const {
        return qFromLittleEndian<uint32_t>(block.Data());
    }
    bool NameExists() const {
        const int fd = shm_open(name.constData(), O_RDONLY, 0);
        if (fd >= 0)
            close(fd);
        return fd >= 0;
    }

    const QByteArray name = "/velquint-test-" + QUuid::createUuid().toByteArray(QUuid::Id128);
};

} // namespace

TEST_F(SharedBlock, LivesWhileSomeHandleHasItOpenAndStartsCleared) {
    {
        TSharedBlock first(name);
        ASSERT_TRUE(first.Valid());
        EXPECT_TRUE(first.Created());
        EXPECT_EQ(LengthField(first), 0u);
        first.WriteUrl("http://host/feed");

        TSharedBlock second(name);
        ASSERT_TRUE(second.Valid());
        EXPECT_FALSE(second.Created());
        EXPECT_EQ(second.ReadUrl(), "http://host/feed");
    }
    EXPECT_FALSE(NameExists());
    TSharedBlock again(name);
    EXPECT_TRUE(again.Created());
    EXPECT_EQ(again.ReadUrl(), "");
}

TEST_F(SharedBlock, BlockLeftWithAUrlIsClearedByTheNextCreator) {
    // What a killed process leaves: the object under its name, a URL in it, nobody holding it.
    const int fd = shm_open(name.constData(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, TSharedBlock::kSize), 0);
    unsigned char stale[] = {3, 0, 0, 0, 'a', 'b', 'c', 0};
    ASSERT_EQ(pwrite(fd, stale, sizeof stale, 0), ssize_t(sizeof stale));
    close(fd);

    TSharedBlock block(name);
    EXPECT_TRUE(block.Created());
    EXPECT_EQ(block.ReadUrl(), "");
}

TEST_F(SharedBlock, LongUrlIsCutToFitAndTheLengthFieldSaysWhatWasStored) {
    const QByteArray two = "\xc3\xa9";          // é
    const QByteArray four = "\xf0\x9f\x93\xb0"; // a newspaper pictograph
    struct Row {
        const char* what;
        QByteArray url;
        QByteArray stored;
    };
    const QByteArray a(4091, 'a');
    const Row rows[] = {
        {"exactly the room", a, a},
        {"one byte over", a + 'b', a},
        {"far over", QByteArray(100000, 'x'), QByteArray(4091, 'x')},
        {"two-byte character across the end", a.left(4090) + two, a.left(4090)},
        {"two-byte character just fits", a.left(4089) + two + "z", a.left(4089) + two},
        {"four-byte character across the end", a.left(4089) + four, a.left(4089)},
    };
    TSharedBlock block(name);
    TSharedBlock reader(name);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        block.WriteUrl(QByteArray(5000, 'o'));
        EXPECT_EQ(block.WriteUrl(row.url), row.stored);
        EXPECT_EQ(LengthField(reader), uint32_t(row.stored.size()));
        EXPECT_EQ(reader.ReadUrl(), row.stored);
        EXPECT_EQ(reader.Data()[TSharedBlock::kLengthSize + row.stored.size()], 0);
    }
}

TEST_F(SharedBlock, DamagedLengthFieldReadsAsNothingPending) {
    TSharedBlock block(name);
    for (const uint32_t length : {4092u, 4096u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(length);
        qToLittleEndian(length, block.Data());
        EXPECT_EQ(block.ReadUrl(), "");
    }
    qToLittleEndian(4091u, block.Data());
    EXPECT_EQ(block.ReadUrl().size(), 4091);
}

TEST_F(SharedBlock, EmptyUrlClearsTheBlock) {
    TSharedBlock block(name);
    block.WriteUrl("http://host/feed");
    EXPECT_EQ(block.WriteUrl(""), "");
    EXPECT_EQ(LengthField(block), 0u);
    EXPECT_EQ(block.ReadUrl(), "");
}
