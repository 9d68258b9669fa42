#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace store {

// A list that owns its items and keeps them in insertion order.
template <typename T> class TOwningList {
public:
    int32_t Count() const { return static_cast<int32_t>(items_.size()); }
    T* At(int32_t index) const { return items_.at(static_cast<size_t>(index)).get(); }
    bool Contains(const T* item) const { return IndexOf(item) >= 0; }

    int32_t IndexOf(const T* item) const {
        const auto it =
            std::find_if(items_.begin(), items_.end(),
                         [item](const std::unique_ptr<T>& p) { return p.get() == item; });
        return it == items_.end() ? -1 : static_cast<int32_t>(it - items_.begin());
    }

    T* Add(std::unique_ptr<T> item) {
        items_.push_back(std::move(item));
        return items_.back().get();
    }

    // Takes the item out of the list without freeing it; none when it is not in the list.
    std::unique_ptr<T> Extract(const T* item) {
        const int32_t index = IndexOf(item);
        if (index < 0)
            return nullptr;
        std::unique_ptr<T> taken = std::move(items_[static_cast<size_t>(index)]);
        items_.erase(items_.begin() + index);
        return taken;
    }

    // Takes the item out of the list and frees it.
    void Remove(const T* item) { Extract(item); }

    void Clear() { items_.clear(); }

    // Iteration hands out the items themselves.
    class const_iterator {
    public:
        explicit const_iterator(typename std::vector<std::unique_ptr<T>>::const_iterator it)
            : it_(it) {}
        T* operator*() const { return it_->get(); }
        const_iterator& operator++() {
            ++it_;
            return *this;
        }
        bool operator==(const const_iterator& other) const = default;

    private:
        typename std::vector<std::unique_ptr<T>>::const_iterator it_;
    };
    const_iterator begin() const { return const_iterator(items_.begin()); }
    const_iterator end() const { return const_iterator(items_.end()); }

private:
    std::vector<std::unique_ptr<T>> items_;
};

} // namespace store
