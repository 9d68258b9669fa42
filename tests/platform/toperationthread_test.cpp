#include "platform/toperationthread.h"

#include "support/coreapp.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <utility>
#include <vector>

using namespace platform;

namespace {

struct Notification {
    uint16_t code;
    uint16_t high;
    qintptr value;
    bool operator==(const Notification&) const = default;
};

// The main window's side: records the operation messages it receives.
class Owner : public QObject {
public:
    std::vector<Notification> received;
    TMessageId extraMessage = RegisterWindowMessage(QStringLiteral("Velquint.test.owner"));

    bool event(QEvent* event) override {
        if (const auto* message = TMessageEvent::From(event, OperationMessage())) {
            received.push_back(
                {LoWord(message->WParam()), HiWord(message->WParam()), message->LParam()});
            return true;
        }
        if (auto* message = TMessageEvent::From(event, extraMessage)) {
            message->SetResult(message->LParam() + 1);
            return true;
        }
        return QObject::event(event);
    }
};

// A worker whose work is a function of the test.
class Worker : public TOperationThread {
public:
    Worker(QObject* owner, std::function<void(Worker&)> work)
        : TOperationThread(owner, 0), work_(std::move(work)) {}

    void Check() { CheckStop(); }
    using TOperationThread::PeekThreadMessage;

protected:
    void Operate() override { work_(*this); }

private:
    std::function<void(Worker&)> work_;
};

class OperationThread : public ::testing::Test {
protected:
    // Waits the way the main window does, then lets the final notification arrive.
    void WaitFor(TOperationThread& worker) {
        WaitDispatching(worker);
        QCoreApplication::processEvents();
    }

    testsupport::CoreApplication app;
    Owner owner;
    const std::vector<Notification> onlyFinished{{ocFinished, 0, 0}};
};

} // namespace

TEST_F(OperationThread, NotifiesTheOwnerWithCodeInTheLowWordThenFinishes) {
    auto worker = StartOperation<Worker>(&owner, [](Worker& self) {
        self.Notify(ocProgressRange, -1);
        self.Notify(ocProgressStep, 7);
    });
    WaitFor(*worker);
    const std::vector<Notification> expected{
        {ocProgressRange, 0, -1}, {ocProgressStep, 0, 7}, {ocFinished, 0, 0}};
    EXPECT_EQ(owner.received, expected);
}

TEST_F(OperationThread, SharedStopEventEndsTheWorkerAtItsNextCheck) {
    std::atomic<bool> running = false;
    std::atomic<bool> stoppedAtCheck = false;
    auto worker = StartOperation<Worker>(&owner, [&](Worker& self) {
        running = true;
        try {
            for (;;)
                self.Check();
        } catch (const EOperationStopped& e) {
            stoppedAtCheck = e.Message().isEmpty();
            throw;
        }
    });
    while (!running)
        QThread::yieldCurrentThread();
    // The Stop command's own handle to the event, as the main window opens it.
    TEvent(kStopOperationEventName).Set();
    WaitFor(*worker);
    EXPECT_TRUE(stoppedAtCheck);
    EXPECT_EQ(owner.received, onlyFinished);
}

TEST_F(OperationThread, ANewOperationClearsAStopLeftOver) {
    TEvent stop(kStopOperationEventName);
    stop.Set();
    std::atomic<bool> completed = false;
    auto worker = StartOperation<Worker>(&owner, [&](Worker& self) {
        self.Check();
        completed = true;
    });
    WaitFor(*worker);
    EXPECT_TRUE(completed);
}

TEST_F(OperationThread, FailureInsideOperateIsSeenOnlyAsTheEnd) {
    const std::pair<const char*, std::function<void()>> failures[] = {
        {"program error", [] { throw Exception(QStringLiteral("failed to delete element")); }},
        {"standard exception", [] { throw std::runtime_error("out of range"); }},
        {"anything else", [] { throw 42; }},
    };
    for (const auto& [what, fail] : failures) {
        SCOPED_TRACE(what);
        owner.received.clear();
        auto worker = StartOperation<Worker>(&owner, [&](Worker&) { fail(); });
        WaitFor(*worker);
        EXPECT_EQ(owner.received, onlyFinished);
    }
}

TEST_F(OperationThread, FreeingARunningWorkerStopsItAtItsNextCheck) {
    std::atomic<bool> running = false;
    std::atomic<int> checks = 0;
    auto worker = StartOperation<Worker>(&owner, [&](Worker& self) {
        running = true;
        for (;;) {
            self.Check();
            ++checks;
        }
    });
    while (!running)
        QThread::yieldCurrentThread();
    worker.reset();
    const int afterEnd = checks;
    QCoreApplication::processEvents();
    EXPECT_EQ(checks, afterEnd);
    EXPECT_EQ(owner.received, onlyFinished);
}

TEST_F(OperationThread, TakesThreadMessagesOneAtATimeAtItsChecks) {
    const TMessageId command = RegisterWindowMessage(QStringLiteral("Velquint.test.command"));
    std::vector<quintptr> taken;
    std::atomic<bool> ready = false;
    auto worker = StartOperation<Worker>(&owner, [&](Worker& self) {
        while (!ready)
            QThread::yieldCurrentThread();
        for (;;) {
            const auto message = self.PeekThreadMessage();
            if (!message)
                continue;
            taken.push_back(message->wParam);
            if (message->message == command && message->wParam == 0)
                throw EOperationStopped();
        }
    });
    worker->PostThreadMessage(command, 3, 0);
    worker->PostThreadMessage(owner.extraMessage, 0, 0);
    worker->PostThreadMessage(command, 0, 0);
    ready = true;
    WaitFor(*worker);
    EXPECT_EQ(taken, (std::vector<quintptr>{3, 0, 0}));
    EXPECT_EQ(owner.received, onlyFinished);
}

TEST_F(OperationThread, WaitingMainThreadServesMessagesTheWorkerSends) {
    qintptr answer = 0;
    auto worker = StartOperation<Worker>(&owner, [&](Worker& self) {
        answer = SendMessage(self.Owner(), owner.extraMessage, 0, 41);
    });
    WaitFor(*worker);
    EXPECT_EQ(answer, 42);
}
