#pragma once

#include <QEvent>
#include <QObject>
#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

namespace platform {

// Registered window messages: a message is a Qt event type reserved for one name, so a window
// handles its messages in event() by comparing the event's type with the id.
using TMessageId = int;

// The id of the message called name; the same name gives the same id for the whole process.
// Raises Exception when Qt has no event type left to hand out.
TMessageId RegisterWindowMessage(const QString& name);

constexpr uint16_t LoWord(quintptr value) {
    return static_cast<uint16_t>(value & 0xFFFF);
}
constexpr uint16_t HiWord(quintptr value) {
    return static_cast<uint16_t>((value >> 16) & 0xFFFF);
}
constexpr quintptr MakeWParam(uint16_t low, uint16_t high) {
    return static_cast<quintptr>(low) | (static_cast<quintptr>(high) << 16);
}

struct TSendCompletion;

// The event a posted or sent message arrives as. A handler of a sent message may set a result,
// which SendMessage returns.
class TMessageEvent : public QEvent {
public:
    TMessageEvent(TMessageId message, quintptr wParam, qintptr lParam);
    ~TMessageEvent() override;
    TMessageEvent(const TMessageEvent&) = delete;
    TMessageEvent& operator=(const TMessageEvent&) = delete;

    TMessageId Message() const { return static_cast<TMessageId>(type()); }
    quintptr WParam() const { return wParam_; }
    qintptr LParam() const { return lParam_; }
    qintptr Result() const { return result_; }
    void SetResult(qintptr result) { result_ = result; }

    // The message event behind event when it carries message, else null.
    static const TMessageEvent* From(const QEvent* event, TMessageId message);
    static TMessageEvent* From(QEvent* event, TMessageId message);

private:
    friend qintptr SendMessage(QObject*, TMessageId, quintptr, qintptr);

    quintptr wParam_;
    qintptr lParam_;
    qintptr result_ = 0;
    // Set for a message sent from another thread: the sender sleeps until this event is gone,
    // which Qt does after the handler returned or when it drops the event with its target.
    std::shared_ptr<TSendCompletion> completion_;
};

// Queues the message for target's thread and returns at once; false when target is null.
// Qt drops the message when target is destroyed before it was handled.
bool PostMessage(QObject* target, TMessageId message, quintptr wParam, qintptr lParam);

// Delivers the message to target and returns the handler's result once it has run: directly on
// target's own thread, otherwise by waiting until target's thread has dispatched it (that
// thread must be dispatching events, as a window's thread does). 0 when target is null or is
// destroyed before it handled the message.
qintptr SendMessage(QObject* target, TMessageId message, quintptr wParam, qintptr lParam);

struct TThreadMessage {
    TMessageId message;
    quintptr wParam;
    qintptr lParam;
};

// A thread's own message queue: any thread posts, the owning thread takes the messages one at a
// time, oldest first, when it looks (at its stop checks).
class TThreadMessageQueue {
public:
    void Post(TMessageId message, quintptr wParam, qintptr lParam);
    // Removes and returns the oldest message; nothing when the queue is empty.
    std::optional<TThreadMessage> Take();

private:
    std::mutex mutex_;
    std::deque<TThreadMessage> messages_;
};

} // namespace platform
