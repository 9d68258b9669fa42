#pragma once

#include "platform/exception.h"
#include "platform/tmessages.h"
#include "platform/tnamedobjects.h"

#include <QObject>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace platform {

inline const QString kOperationMessageName =
    QStringLiteral("Velquint.{29F398A9-6AC1-4451-AB3A-6CE359E11894}");
inline const QString kStopOperationEventName =
    QStringLiteral("stop.operation.{9A0E9C84-AF74-4CF1-BC07-1824E10C57C0}");
inline const QString kDocumentMutexName =
    QStringLiteral("Velquint.{2895FC4B-532D-46FE-9838-7B62F7F326CB}");

// The id of the operation message.
TMessageId OperationMessage();

// Operation message codes, as the main window reads them.
enum TOperationCode : uint16_t {
    ocProgressRange = 1,
    ocProgressStep = 2,
    ocFinished = 5,
};

// Raised by a stop check to end an operation; it carries no text.
class EOperationStopped : public Exception {
public:
    EOperationStopped() : Exception(QString()) {}
};

// A worker thread that does one piece of work (Operate), reports to its owner by posted
// messages and stops at a stop check once it is asked to terminate or the process-wide stop
// event is set. Whatever Operate raises is swallowed; the owner then always gets code 5.
//
// The thread runs only once the object is complete: create workers with StartOperation, which
// constructs, starts, and returns a handle that on destruction asks the thread to terminate and
// waits for it before freeing it (a thread must never outlive the object it runs).
// The owner must outlive the thread.
class TOperationThread {
public:
    TOperationThread(QObject* owner, int32_t value);
    virtual ~TOperationThread();
    TOperationThread(const TOperationThread&) = delete;
    TOperationThread& operator=(const TOperationThread&) = delete;

    QObject* Owner() const { return owner_; }
    int32_t Value() const { return value_; }

    // Starts the thread; called once, after construction.
    void Start();
    // Asks the thread to end; its next stop check raises EOperationStopped.
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    // Whether the thread has run to its end.
    bool Finished() const { return thread_->isFinished(); }
    // Waits up to milliseconds (kInfinite: for ever) for the thread to end; true when it has
    // ended or never started.
    bool Wait(uint32_t milliseconds = kInfinite);

    // Puts a message into the thread's own queue (any thread may post).
    void PostThreadMessage(TMessageId message, quintptr wParam, qintptr lParam) {
        queue_.Post(message, wParam, lParam);
    }

    virtual TMessageId MessageId() const;
    // Posts MessageId to the owner: wParam = code in the low word, 0 in the high word; lParam =
    // value.
    virtual void Notify(int code, qintptr value);

protected:
    // Raises EOperationStopped when the thread was asked to terminate or when the stop event
    // becomes set within 10 ms; otherwise returns after that wait.
    virtual void CheckStop();
    virtual void Operate() = 0;

    // Removes and returns the oldest message of the thread's own queue, if any.
    std::optional<TThreadMessage> PeekThreadMessage() { return queue_.Take(); }
    TEvent& StopEvent() { return stopEvent_; }

private:
    void Execute();

    QObject* owner_;
    int32_t value_;
    TEvent stopEvent_;
    std::atomic<bool> terminated_ = false;
    TThreadMessageQueue queue_;
    std::unique_ptr<QThread> thread_;
};

// Frees a worker only after it has ended.
struct TEndOperation {
    void operator()(TOperationThread* thread) const {
        thread->Terminate();
        thread->Wait();
        delete thread;
    }
};

template <typename T> using TOperationPtr = std::unique_ptr<T, TEndOperation>;

// Constructs a worker of class T and starts it.
template <typename T, typename... Args> TOperationPtr<T> StartOperation(Args&&... args) {
    TOperationPtr<T> thread(new T(std::forward<Args>(args)...));
    thread->Start();
    return thread;
}

// How often the main thread looks whether its worker has ended.
constexpr uint32_t kWorkerCheckInterval = 50;

// Waits on the calling thread (the user-interface thread) until waitFor (given a time in
// milliseconds) says the worker has ended, dispatching the thread's events between checks
// every 50 ms, so the worker's sent messages and the window stay served meanwhile.
void WaitDispatching(const std::function<bool(uint32_t)>& waitFor);
void WaitDispatching(TOperationThread& thread);

} // namespace platform
