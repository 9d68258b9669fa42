#include "platform/toperationthread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace platform {

TMessageId OperationMessage() {
    static const TMessageId id = RegisterWindowMessage(kOperationMessageName);
    return id;
}

TOperationThread::TOperationThread(QObject* owner, int32_t value)
    : owner_(owner), value_(value), stopEvent_(kStopOperationEventName),
      thread_(QThread::create([this] { Execute(); })) {
    // Every new operation starts with the shared event cleared, whoever set it before.
    stopEvent_.Reset();
}

TOperationThread::~TOperationThread() = default;

void TOperationThread::Start() {
    thread_->start();
}

bool TOperationThread::Wait(uint32_t milliseconds) {
    if (milliseconds == kInfinite)
        return thread_->wait();
    return thread_->wait(QDeadlineTimer(milliseconds));
}

TMessageId TOperationThread::MessageId() const {
    return OperationMessage();
}

void TOperationThread::Notify(int code, qintptr value) {
    PostMessage(owner_, MessageId(), MakeWParam(static_cast<uint16_t>(code), 0), value);
}

void TOperationThread::CheckStop() {
    if (Terminated() || stopEvent_.WaitFor(10))
        throw EOperationStopped();
}

void TOperationThread::Execute() {
    try {
        Operate();
    } catch (...) {
        // A stop and a failure end the operation alike; the owner learns only that it ended.
    }
    try {
        Notify(ocFinished, 0);
    } catch (...) {
        // Nothing may leave a thread's body.
    }
}

void WaitDispatching(const std::function<bool(uint32_t)>& waitFor) {
    while (!waitFor(kWorkerCheckInterval))
        QCoreApplication::processEvents();
}

void WaitDispatching(TOperationThread& thread) {
    WaitDispatching([&](uint32_t milliseconds) { return thread.Wait(milliseconds); });
}

} // namespace platform
