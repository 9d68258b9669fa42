#include "platform/tnamedobjects.h"

#include <QHash>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace platform {

struct TMutexState {
    std::mutex mutex;
    std::condition_variable freed;
    std::thread::id owner;
    uint32_t count = 0;
    bool abandoned = false;
};

struct TEventState {
    std::mutex mutex;
    std::condition_variable signalled;
    bool set = false;
};

namespace {

// The namespace of one kind of named object. It holds no object alive: a name maps to the
// object only while some handle keeps it.
template <typename State> class TNamedObjects {
public:
    static std::pair<std::shared_ptr<State>, bool> OpenOrCreate(const QString& name) {
        if (name.isEmpty())
            return {std::make_shared<State>(), false};
        static TNamedObjects objects;
        return objects.Find(name);
    }

private:
    std::pair<std::shared_ptr<State>, bool> Find(const QString& name) {
        const std::lock_guard lock(mutex_);
        if (auto existing = states_.value(name).lock())
            return {existing, true};
        states_.removeIf([](const auto& entry) { return entry.value().expired(); });
        auto created = std::make_shared<State>();
        states_.insert(name, created);
        return {created, false};
    }

    std::mutex mutex_;
    QHash<QString, std::weak_ptr<State>> states_;
};

// The mutexes the current thread owns, so that they are abandoned when it ends.
class TOwnedMutexes {
public:
    ~TOwnedMutexes() {
        const auto self = std::this_thread::get_id();
        for (const auto& weak : owned_) {
            const auto state = weak.lock();
            if (!state)
                continue;
            const std::lock_guard lock(state->mutex);
            if (state->owner != self)
                continue;
            state->owner = {};
            state->count = 0;
            state->abandoned = true;
            state->freed.notify_all();
        }
    }
    void Add(const std::shared_ptr<TMutexState>& state) { owned_.push_back(state); }
    void Remove(const std::shared_ptr<TMutexState>& state) {
        std::erase_if(owned_, [&](const auto& weak) {
            const auto held = weak.lock();
            return !held || held == state;
        });
    }

private:
    std::vector<std::weak_ptr<TMutexState>> owned_;
};

TOwnedMutexes& OwnedByThisThread() {
    thread_local TOwnedMutexes owned;
    return owned;
}

void TakeOwnership(const std::shared_ptr<TMutexState>& state) {
    state->owner = std::this_thread::get_id();
    state->count = 1;
    OwnedByThisThread().Add(state);
}

// Waits on condition under lock until ready() or the time is up; false on a time-out.
template <typename Ready>
bool WaitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock,
               uint32_t milliseconds, Ready ready) {
    if (milliseconds == kInfinite) {
        condition.wait(lock, ready);
        return true;
    }
    return condition.wait_for(lock, std::chrono::milliseconds(milliseconds), ready);
}

} // namespace

TMutex::TMutex(const QString& name, bool initialOwner) {
    std::tie(state_, existed_) = TNamedObjects<TMutexState>::OpenOrCreate(name);
    if (initialOwner && !existed_) {
        const std::lock_guard lock(state_->mutex);
        TakeOwnership(state_);
    }
}

TMutex::~TMutex() = default;

bool TMutex::WaitFor(uint32_t milliseconds) {
    const auto self = std::this_thread::get_id();
    std::unique_lock lock(state_->mutex);
    if (state_->owner == self) {
        ++state_->count;
        return true;
    }
    const bool free = WaitUntil(state_->freed, lock, milliseconds,
                                [&] { return state_->owner == std::thread::id(); });
    if (!free)
        return false;
    if (state_->abandoned) {
        state_->abandoned = false;
        return false;
    }
    TakeOwnership(state_);
    return true;
}

bool TMutex::Release() {
    const std::lock_guard lock(state_->mutex);
    if (state_->owner != std::this_thread::get_id())
        return false;
    if (--state_->count == 0) {
        state_->owner = {};
        OwnedByThisThread().Remove(state_);
        state_->freed.notify_one();
    }
    return true;
}

TEvent::TEvent(const QString& name, bool initiallySignalled) {
    std::tie(state_, existed_) = TNamedObjects<TEventState>::OpenOrCreate(name);
    if (initiallySignalled && !existed_)
        Set();
}

TEvent::~TEvent() = default;

void TEvent::Set() {
    const std::lock_guard lock(state_->mutex);
    state_->set = true;
    state_->signalled.notify_all();
}

void TEvent::Reset() {
    const std::lock_guard lock(state_->mutex);
    state_->set = false;
}

bool TEvent::WaitFor(uint32_t milliseconds) {
    std::unique_lock lock(state_->mutex);
    return WaitUntil(state_->signalled, lock, milliseconds, [&] { return state_->set; });
}

} // namespace platform
