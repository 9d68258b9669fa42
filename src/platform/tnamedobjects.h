#pragma once

#include <QString>

#include <cstdint>
#include <memory>

namespace platform {

// Wait time meaning "as long as it takes".
constexpr uint32_t kInfinite = 0xFFFFFFFF;

// Named synchronisation objects of the process. Objects of one kind with the same non-empty name
// are one object while at least one handle (a TMutex or TEvent) to it is open; once the last
// handle closes, the name is free again. An empty name gives a private object.

struct TMutexState;

// A mutex owned by a thread, as the system's mutexes are: the owning thread may acquire it again
// (each acquisition needs its own Release); closing a handle does not release it; when the
// owning thread ends without releasing it, the mutex is abandoned and the next wait that sees
// this ends without acquiring it, after which the mutex is free.
class TMutex {
public:
    // Opens the mutex called name or creates it; initialOwner makes the calling thread its owner
    // when this call created it (it is ignored for a mutex that existed, as the system does).
    explicit TMutex(const QString& name, bool initialOwner = false);
    ~TMutex();
    TMutex(const TMutex&) = delete;
    TMutex& operator=(const TMutex&) = delete;

    // Whether a mutex of that name existed before this handle opened it.
    bool Existed() const { return existed_; }
    // True only when the calling thread acquired the mutex within milliseconds (kInfinite
    // waits for ever); false on a time-out and on a wait that found the mutex abandoned.
    bool WaitFor(uint32_t milliseconds);
    // Gives up one acquisition; false when the calling thread does not own the mutex.
    bool Release();

private:
    std::shared_ptr<TMutexState> state_;
    bool existed_ = false;
};

struct TEventState;

// A manual-reset event: once set it stays signalled, for every waiter, until Reset.
class TEvent {
public:
    explicit TEvent(const QString& name, bool initiallySignalled = false);
    ~TEvent();
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;

    bool Existed() const { return existed_; }
    void Set();
    void Reset();
    // True when the event is signalled or becomes so within milliseconds.
    bool WaitFor(uint32_t milliseconds);

private:
    std::shared_ptr<TEventState> state_;
    bool existed_ = false;
};

} // namespace platform
