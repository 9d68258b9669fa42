#include "platform/thandover.h"

#include "support/coreapp.h"
#include "support/tempdir.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <future>

using namespace platform;

namespace {

// Records the messages; the add-feed handler runs a nested event loop for a while, as a modal
// dialog would.
class Receiver : public TInstanceReceiver {
public:
    std::atomic<int> addFeed = 0;
    std::atomic<int> show = 0;
    std::atomic<bool> inHandler = false;

    void AddFeedMessage() override {
        inHandler = true;
        QEventLoop dialog;
        QTimer::singleShot(100, &dialog, &QEventLoop::quit);
        dialog.exec();
        ++addFeed;
        inHandler = false;
    }
    void ShowMessage() override { ++show; }
};

class HandOver : public ::testing::Test {
protected:
    // Sends from another thread while this one serves, as a second process would.
    bool Send(const QByteArray& name) {
        auto sent = std::async(std::launch::async, [&] {
            const bool answered = SendHandOver(path, name);
            // The answer may come only after the handler has returned.
            handlerDoneAtAnswer = !receiver.inHandler;
            return answered;
        });
        while (sent.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
            QCoreApplication::processEvents();
        return sent.get();
    }

    testsupport::CoreApplication app;
    testsupport::TempDir dir;
    QString path = dir.File("handover.socket");
    Receiver receiver;
    bool handlerDoneAtAnswer = false;
};

} // namespace

TEST_F(HandOver, SenderReturnsAfterTheHandlerReturned) {
    // A file left where the socket goes, as by a killed instance.
    QFile stale(path);
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.close();
    THandOverServer server(path, receiver);
    ASSERT_TRUE(server.Listening());

    EXPECT_TRUE(Send(kAddFeedMessageName));
    EXPECT_TRUE(handlerDoneAtAnswer);
    EXPECT_TRUE(Send(kShowMessageName));
    EXPECT_EQ(receiver.addFeed, 1);
    EXPECT_EQ(receiver.show, 1);
}

TEST_F(HandOver, UnknownMessageIsAnsweredAndReachesNoHandler) {
    THandOverServer server(path, receiver);
    EXPECT_TRUE(Send("Velquint.{00000000-0000-0000-0000-000000000000}"));
    EXPECT_TRUE(Send(QByteArray(1000, 'x')));
    EXPECT_EQ(receiver.addFeed, 0);
    EXPECT_EQ(receiver.show, 0);
}

TEST_F(HandOver, SenderGivesUpWhenNobodyListens) {
    EXPECT_FALSE(SendHandOver(path, kShowMessageName, std::chrono::milliseconds(100)));
    EXPECT_FALSE(SendHandOver(QString(), kShowMessageName, std::chrono::milliseconds(100)));
    EXPECT_FALSE(SendHandOver(dir.Path() + QString(200, QLatin1Char('s')), kShowMessageName,
                              std::chrono::milliseconds(100)));
}
