#include "platform/tvelquint.h"

#include "support/coreapp.h"
#include "support/tempdir.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace platform;

namespace {

// A receiver that is never called in these tests: only second processes send.
class Silent : public TInstanceReceiver {
public:
    void AddFeedMessage() override { ADD_FAILURE() << "add-feed message"; }
    void ShowMessage() override { ADD_FAILURE() << "show message"; }
};

class InstanceController : public ::testing::Test {
protected:
    testsupport::TempDir session;
};

} // namespace

TEST_F(InstanceController, FirstHoldsTheInstanceLockUntilItEnds) {
    auto first = std::make_unique<TVelquint>(QStringList{}, session.Path());
    EXPECT_FALSE(first->AlreadyRunning());
    EXPECT_FALSE(first->ShowUI());
    {
        TVelquint second({"/ui"}, session.Path());
        EXPECT_TRUE(second.AlreadyRunning());
        EXPECT_TRUE(second.ShowUI());
    }
    first.reset();
    TVelquint next({}, session.Path());
    EXPECT_FALSE(next.AlreadyRunning());
}

TEST_F(InstanceController, SessionsWithDifferentRuntimeFoldersNeverMeet) {
    testsupport::TempDir other;
    TVelquint mine({"/add", "reader:/mine"}, session.Path());
    TVelquint theirs({}, other.Path());
    EXPECT_FALSE(theirs.AlreadyRunning());
    EXPECT_EQ(theirs.PendingUrl(), "");
    EXPECT_EQ(mine.PendingUrl(), "http:/mine");

    const TInstanceNames& names = mine.Names();
    EXPECT_NE(names.sharedBlock, theirs.Names().sharedBlock);
    EXPECT_TRUE(names.lockFile.startsWith(session.Path() + "/"));
    EXPECT_TRUE(names.handOverSocket.startsWith(session.Path() + "/"));
    EXPECT_EQ(names.sharedBlock.count('/'), 1);
}

TEST_F(InstanceController, PendingUrlOfTheCommandLineStaysUntilCleared) {
    TVelquint velquint({"/add", "reader://host/feed"}, session.Path());
    EXPECT_EQ(velquint.PendingUrl(), "http://host/feed");
    TSharedBlock block(velquint.Names().sharedBlock);
    EXPECT_EQ(block.ReadUrl(), "http://host/feed");

    velquint.SetPendingUrl(QByteArray(5000, 'u'));
    EXPECT_EQ(velquint.PendingUrl(), QByteArray(4091, 'u'));
    EXPECT_EQ(block.ReadUrl(), QByteArray(4091, 'u'));

    velquint.SetPendingUrl("");
    EXPECT_EQ(velquint.PendingUrl(), "");
    EXPECT_EQ(block.ReadUrl(), "");
    // Written by someone else into the block, read once the cache is empty.
    block.WriteUrl("http://other/feed");
    EXPECT_EQ(velquint.PendingUrl(), "http://other/feed");
}

TEST_F(InstanceController, OnlyTheLockHolderServes) {
    testsupport::CoreApplication app;
    Silent receiver;
    TVelquint first({}, session.Path());
    TVelquint second({}, session.Path());
    const auto server = first.Listen(receiver);
    ASSERT_NE(server, nullptr);
    EXPECT_TRUE(server->Listening());
    EXPECT_EQ(second.Listen(receiver), nullptr);
}

TEST_F(InstanceController, WebFolderIsBesideTheProgram) {
    testsupport::CoreApplication app;
    EXPECT_EQ(TVelquint::WebFolder(), QCoreApplication::applicationDirPath() + "/web/");
}
