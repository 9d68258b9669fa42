#pragma once

#include <QString>

namespace platform {

// The cross-process instance mutex: an exclusive flock on a file, held until the object goes
// away or the process ends (the system drops the lock of a process that dies). The descriptor is
// not inherited by programs this one starts, so they never keep the lock alive.
class TInstanceLock {
public:
    // Tries to take the lock on the file at path (created 0600 if missing) without waiting.
    explicit TInstanceLock(const QString& path);
    ~TInstanceLock();
    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;

    // True when this object holds the lock.
    bool Acquired() const { return fd_ >= 0; }
    // True when another holder has it (false when the file could not be opened at all).
    bool HeldElsewhere() const { return heldElsewhere_; }

private:
    int fd_ = -1;
    bool heldElsewhere_ = false;
};

} // namespace platform
