#pragma once

#include "platform/exception.h"

#include <QByteArray>
#include <QHashFunctions>
#include <QString>

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <utility>

namespace platform {

// Raised by the string-keyed maps for an empty key, a missing key and an iteration that went on
// after the map changed.
class EHashError : public Exception {
public:
    using Exception::Exception;
};

namespace detail {

// What a map holds per key and what it hands out for it.
template <typename T> struct OwningSlot {
    using Stored = std::unique_ptr<T>;
    using Value = T*;
    static Value View(const Stored& stored) { return stored.get(); }
};
template <typename T> struct BorrowingSlot {
    using Stored = T*;
    using Value = T*;
    static Value View(Stored stored) { return stored; }
};
struct IntegerSlot {
    using Stored = int32_t;
    using Value = int32_t;
    static Value View(Stored stored) { return stored; }
};

} // namespace detail

// A map from 8-bit keys, compared case-sensitively, to values. Keys must not be empty. Iteration
// (Restart, then Next until it answers false) visits every key once in an order unrelated to the
// order of insertion; a change to the map between Restart and Next makes Next raise. Not
// thread-safe.
template <typename Slot> class TBasicStringHash {
public:
    using Stored = typename Slot::Stored;
    using Value = typename Slot::Value;

    TBasicStringHash() = default;
    TBasicStringHash(const TBasicStringHash&) = delete;
    TBasicStringHash& operator=(const TBasicStringHash&) = delete;

    int32_t Count() const { return static_cast<int32_t>(items_.size()); }
    bool Exists(const QByteArray& key) const { return items_.contains(key); }

    // Stores the value under key; a value already there is replaced (and freed when owned).
    void Set(const QByteArray& key, Stored value) {
        CheckKey(key);
        items_.insert_or_assign(key, std::move(value));
        ++version_;
    }

    Value Get(const QByteArray& key) const {
        const auto it = items_.find(CheckedKey(key));
        if (it == items_.end())
            throw NotFound(key);
        return Slot::View(it->second);
    }

    // The value, or the empty value (none, 0) when the key is absent.
    Value Find(const QByteArray& key) const {
        const auto it = items_.find(key);
        return it == items_.end() ? Value{} : Slot::View(it->second);
    }

    // Removes the key; an owned value is freed.
    void Delete(const QByteArray& key) { Take(key); }

    // Removes the key and hands its value to the caller.
    Stored Take(const QByteArray& key) {
        auto it = items_.find(CheckedKey(key));
        if (it == items_.end())
            throw NotFound(key);
        Stored value = std::move(it->second);
        items_.erase(it);
        ++version_;
        return value;
    }

    void Clear() {
        items_.clear();
        ++version_;
    }

    void Restart() {
        iteratedVersion_ = version_;
        cursor_ = items_.cbegin();
        iterating_ = true;
    }

    // The next key and its value; false once every key has been visited.
    bool Next(QByteArray& key, Value& value) {
        if (!iterating_ || iteratedVersion_ != version_)
            throw EHashError(
                QStringLiteral("Cannot get Next as the hash has been modified since Restart was "
                               "called"));
        if (cursor_ == items_.cend())
            return false;
        key = cursor_->first;
        value = Slot::View(cursor_->second);
        ++cursor_;
        return true;
    }

    // Calls f(key, value) for every entry; f must not change the map.
    template <typename F> void ForEach(F&& f) const {
        for (const auto& [key, stored] : items_)
            f(key, Slot::View(stored));
    }

private:
    static void CheckKey(const QByteArray& key) {
        if (key.isEmpty())
            throw EHashError(QStringLiteral("Key cannot be an empty string"));
    }
    static const QByteArray& CheckedKey(const QByteArray& key) {
        CheckKey(key);
        return key;
    }
    static EHashError NotFound(const QByteArray& key) {
        return EHashError(QStringLiteral("Key \"%1\" not found").arg(QString::fromUtf8(key)));
    }

    struct KeyHash {
        size_t operator()(const QByteArray& key) const noexcept { return qHash(key); }
    };
    using Items = std::unordered_map<QByteArray, Stored, KeyHash>;

    Items items_;
    uint64_t version_ = 0;
    uint64_t iteratedVersion_ = 0;
    typename Items::const_iterator cursor_;
    bool iterating_ = false;
};

// Owns its objects.
template <typename T> using TObjectHash = TBasicStringHash<detail::OwningSlot<T>>;
// Refers to objects owned elsewhere.
template <typename T> using TPointerHash = TBasicStringHash<detail::BorrowingSlot<T>>;
// Integer values; with value 1 a set of keys.
using TIntegerHash = TBasicStringHash<detail::IntegerSlot>;

} // namespace platform
