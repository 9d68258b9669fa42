#include "platform/tmessages.h"

#include "support/coreapp.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

using namespace platform;

namespace {

struct Received {
    quintptr wParam;
    qintptr lParam;
    QThread* thread;
};

// A window stand-in: records each message it handles and answers twice the wParam.
class Recorder : public QObject {
public:
    explicit Recorder(TMessageId message) : message_(message) {}
    std::vector<Received> received;

    bool event(QEvent* event) override {
        if (auto* message = TMessageEvent::From(event, message_)) {
            received.push_back({message->WParam(), message->LParam(), QThread::currentThread()});
            message->SetResult(static_cast<qintptr>(message->WParam() * 2));
            return true;
        }
        return QObject::event(event);
    }

private:
    TMessageId message_;
};

class Messages : public ::testing::Test {
protected:
    testsupport::CoreApplication app;
    TMessageId id = RegisterWindowMessage(QStringLiteral("Velquint.test.messages"));
};

} // namespace

TEST_F(Messages, OneStableIdPerName) {
    const TMessageId other = RegisterWindowMessage(QStringLiteral("Velquint.test.other"));
    EXPECT_EQ(RegisterWindowMessage(QStringLiteral("Velquint.test.messages")), id);
    EXPECT_NE(other, id);
    for (const TMessageId registered : {id, other}) {
        EXPECT_GE(registered, int(QEvent::User));
        EXPECT_LE(registered, int(QEvent::MaxUser));
    }
}

TEST_F(Messages, WordsOfAWParam) {
    const quintptr wParam = MakeWParam(5, 0xBEEF);
    EXPECT_EQ(LoWord(wParam), 5);
    EXPECT_EQ(HiWord(wParam), 0xBEEF);
    EXPECT_EQ(HiWord(quintptr(0xFFFF0000) << 16 | 7), 0);
}

TEST_F(Messages, PostedMessageArrivesWithItsParametersWhenEventsAreDispatched) {
    Recorder target(id);
    EXPECT_TRUE(PostMessage(&target, id, MakeWParam(2, 0), -1));
    EXPECT_TRUE(target.received.empty());
    QCoreApplication::processEvents();
    ASSERT_EQ(target.received.size(), 1u);
    EXPECT_EQ(target.received[0].wParam, 2u);
    EXPECT_EQ(target.received[0].lParam, -1);
    EXPECT_FALSE(PostMessage(nullptr, id, 0, 0));
}

TEST_F(Messages, SendOnTheTargetsThreadIsADirectCall) {
    Recorder target(id);
    EXPECT_EQ(SendMessage(&target, id, 21, 0), 42);
    ASSERT_EQ(target.received.size(), 1u);
    EXPECT_EQ(SendMessage(nullptr, id, 21, 0), 0);
}

TEST_F(Messages, SendFromAnotherThreadWaitsUntilTheTargetsThreadHandledIt) {
    Recorder target(id);
    auto sent = std::async(std::launch::async, [&] { return SendMessage(&target, id, 4, 9); });
    EXPECT_EQ(sent.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    while (sent.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
        QCoreApplication::processEvents();
    EXPECT_EQ(sent.get(), 8);
    ASSERT_EQ(target.received.size(), 1u);
    EXPECT_EQ(target.received[0].thread, QThread::currentThread());
    EXPECT_EQ(target.received[0].lParam, 9);
}

TEST_F(Messages, SendToATargetDestroyedBeforeItsTurnReturnsZero) {
    auto target = std::make_unique<Recorder>(id);
    std::atomic<bool> sending = false;
    auto sent = std::async(std::launch::async, [&, raw = target.get()] {
        sending = true;
        return SendMessage(raw, id, 4, 0);
    });
    while (!sending)
        std::this_thread::yield();
    // Give the sender time to queue its message; destroying the target then drops it.
    EXPECT_EQ(sent.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    target.reset();
    EXPECT_EQ(sent.get(), 0);
}

TEST_F(Messages, ThreadQueueGivesOneMessageAtATimeOldestFirst) {
    TThreadMessageQueue queue;
    std::thread poster([&] {
        queue.Post(id, 1, 10);
        queue.Post(id, 2, 20);
    });
    poster.join();
    const auto first = queue.Take();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->wParam, 1u);
    EXPECT_EQ(first->lParam, 10);
    const auto second = queue.Take();
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->wParam, 2u);
    EXPECT_FALSE(queue.Take().has_value());
}
