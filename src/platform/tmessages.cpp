#include "platform/tmessages.h"

#include "platform/exception.h"

#include <QCoreApplication>
#include <QHash>
#include <QThread>

#include <condition_variable>

namespace platform {

struct TSendCompletion {
    std::mutex mutex;
    std::condition_variable handled;
    bool done = false;
    qintptr result = 0;
};

TMessageId RegisterWindowMessage(const QString& name) {
    // The process's table of message names, as the system keeps it for registered messages.
    static std::mutex mutex;
    static QHash<QString, TMessageId> ids;
    const std::lock_guard lock(mutex);
    const auto found = ids.constFind(name);
    if (found != ids.constEnd())
        return *found;
    const int id = QEvent::registerEventType();
    if (id < 0)
        throw Exception(QStringLiteral("Cannot register the message %1").arg(name));
    ids.insert(name, id);
    return id;
}

TMessageEvent::TMessageEvent(TMessageId message, quintptr wParam, qintptr lParam)
    : QEvent(static_cast<QEvent::Type>(message)), wParam_(wParam), lParam_(lParam) {}

TMessageEvent::~TMessageEvent() {
    if (!completion_)
        return;
    const std::lock_guard lock(completion_->mutex);
    completion_->done = true;
    completion_->result = result_;
    completion_->handled.notify_all();
}

const TMessageEvent* TMessageEvent::From(const QEvent* event, TMessageId message) {
    if (event == nullptr || event->type() != message)
        return nullptr;
    return dynamic_cast<const TMessageEvent*>(event);
}

TMessageEvent* TMessageEvent::From(QEvent* event, TMessageId message) {
    if (event == nullptr || event->type() != message)
        return nullptr;
    return dynamic_cast<TMessageEvent*>(event);
}

bool PostMessage(QObject* target, TMessageId message, quintptr wParam, qintptr lParam) {
    if (target == nullptr)
        return false;
    QCoreApplication::postEvent(target, new TMessageEvent(message, wParam, lParam));
    return true;
}

qintptr SendMessage(QObject* target, TMessageId message, quintptr wParam, qintptr lParam) {
    if (target == nullptr)
        return 0;
    if (target->thread() == QThread::currentThread()) {
        TMessageEvent event(message, wParam, lParam);
        QCoreApplication::sendEvent(target, &event);
        return event.Result();
    }
    auto completion = std::make_shared<TSendCompletion>();
    auto event = std::make_unique<TMessageEvent>(message, wParam, lParam);
    event->completion_ = completion;
    QCoreApplication::postEvent(target, event.release());
    std::unique_lock lock(completion->mutex);
    completion->handled.wait(lock, [&] { return completion->done; });
    return completion->result;
}

void TThreadMessageQueue::Post(TMessageId message, quintptr wParam, qintptr lParam) {
    const std::lock_guard lock(mutex_);
    messages_.push_back({message, wParam, lParam});
}

std::optional<TThreadMessage> TThreadMessageQueue::Take() {
    const std::lock_guard lock(mutex_);
    if (messages_.empty())
        return std::nullopt;
    const TThreadMessage message = messages_.front();
    messages_.pop_front();
    return message;
}

} // namespace platform
