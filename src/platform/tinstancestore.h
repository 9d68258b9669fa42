#pragma once

#include "platform/exception.h"

#include <memory>
#include <mutex>

namespace platform {

// Request codes of a process-wide singleton's accessor.
enum TInstanceRequest : int {
    irGet = 0,         // the current instance, or null
    irGetOrCreate = 1, // the current instance, created first when there is none
    irForget = 2,      // frees the current instance; null afterwards
};

// The store behind every singleton's accessor: it owns the one instance of T from its creation
// until it is forgotten or the process ends. Without a creator T is default-constructed by the
// store (make it a friend to keep the constructor private); a creator returns a new
// std::unique_ptr<T> for a T that needs arguments. Creating must not request T itself. Any other
// request code raises "Invalid request".
template <typename T> class TInstanceStore {
public:
    static T* Request(int request) {
        return Request(request, [] { return std::unique_ptr<T>(new T()); });
    }

    template <typename Create> static T* Request(int request, Create&& create) {
        State& state = TheState();
        const std::lock_guard lock(state.mutex);
        switch (request) {
        case irGet:
            return state.instance.get();
        case irGetOrCreate:
            if (!state.instance)
                state.instance = create();
            return state.instance.get();
        case irForget:
            state.instance.reset();
            return nullptr;
        default:
            throw Exception(QStringLiteral("Invalid request"));
        }
    }

private:
    struct State {
        std::mutex mutex;
        std::unique_ptr<T> instance;
    };
    static State& TheState() {
        static State state;
        return state;
    }
};

} // namespace platform
