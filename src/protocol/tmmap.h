#pragma once

#include <algorithm>
#include <cstddef>
#include <forward_list>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

// The request headers: a multimap whose indexing yields the first value of a
// key, adding an entry with an empty value when the key is missing. Keys are
// ordered as bytes compared unsigned, equal keys in the order they came.
//
// The entries are one flat array, so that a request of thousands of lines
// allocates nothing per line. It stays in the order of insertion until a
// reader asks for key order (iterating, find, equal_range), which sorts it
// once; indexing, FirstValue and counting need no order and scan, as a
// request is read by a few keys only. Iterators and references to entries
// are therefore valid until the next insertion, erasure or ordered read, and
// a map is read by one thread at a time, const reads included.
//
// With string_view keys and values the entries are views into a text that
// must outlive the map; a key that indexing adds is kept by the map itself.
template <typename K, typename V>
class TMMap {
public:
    using value_type = std::pair<K, V>;
    using iterator = typename std::vector<value_type>::iterator;
    using const_iterator = typename std::vector<value_type>::const_iterator;

    TMMap() = default;
    // A copy's views of the keys that indexing added would point into the original.
    TMMap(const TMMap&) = delete;
    TMMap& operator=(const TMMap&) = delete;
    TMMap(TMMap&&) = default;
    TMMap& operator=(TMMap&&) = default;

    // Adds an entry after every entry with an equal key.
    void emplace(K key, V value) {
        // Made first and then filled: handed to emplace_back, which takes
        // them by reference, a key and a value would go through memory,
        // written in halves and read back whole, a stall that takes longer
        // than reading a header line.
        entries_.emplace_back();
        auto last = entries_.end() - 1;
        last->first = std::move(key);
        last->second = std::move(value);
        ordered_ = ordered_ && (last == entries_.begin() || !ByKey(*last, *(last - 1)));
    }

    V& operator[](const K& key) {
        auto it = FirstInserted(key);
        if (it != entries_.end())
            return it->second;
        emplace(Kept(key), V());
        return entries_.back().second;
    }

    // The value of the entry of `key` inserted first; none, and nothing added,
    // when there is no such entry.
    std::optional<V> FirstValue(const K& key) const {
        auto it = std::find_if(entries_.begin(), entries_.end(), HasKey(key));
        if (it == entries_.end())
            return std::nullopt;
        return it->second;
    }

    std::size_t count(const K& key) const {
        return static_cast<std::size_t>(std::count_if(entries_.begin(), entries_.end(), HasKey(key)));
    }

    std::size_t erase(const K& key) {
        auto removed = std::remove_if(entries_.begin(), entries_.end(), HasKey(key));
        std::size_t erased = static_cast<std::size_t>(entries_.end() - removed);
        entries_.erase(removed, entries_.end());
        return erased;
    }

    std::pair<iterator, iterator> equal_range(const K& key) {
        Order();
        return std::equal_range(entries_.begin(), entries_.end(), value_type(key, V()), ByKey);
    }
    iterator find(const K& key) {
        auto range = equal_range(key);
        return range.first == range.second ? entries_.end() : range.first;
    }

    iterator begin() {
        Order();
        return entries_.begin();
    }
    iterator end() { return entries_.end(); }
    const_iterator begin() const {
        Order();
        return entries_.cbegin();
    }
    const_iterator end() const { return entries_.cend(); }

    std::size_t size() const { return entries_.size(); }
    void reserve(std::size_t entries) { entries_.reserve(entries); }

private:
    static bool ByKey(const value_type& left, const value_type& right) { return left.first < right.first; }
    static auto HasKey(const K& key) {
        return [&key](const value_type& entry) { return entry.first == key; };
    }

    // The entry of `key` inserted first: the first of its equal keys in
    // either order, as sorting keeps equal keys in the order they came.
    iterator FirstInserted(const K& key) { return std::find_if(entries_.begin(), entries_.end(), HasKey(key)); }

    // The caller's key may be a view of a temporary.
    K Kept(const K& key) {
        if constexpr (std::is_same_v<K, std::string_view>)
            return kept_keys_.emplace_front(key);
        else
            return key;
    }

    void Order() const {
        if (!ordered_)
            std::stable_sort(entries_.begin(), entries_.end(), ByKey);
        ordered_ = true;
    }

    mutable std::vector<value_type> entries_;
    mutable bool ordered_ = true;
    std::forward_list<std::string> kept_keys_;
};

// A request's header lines, as views into its text.
using RequestHeaders = TMMap<std::string_view, std::string_view>;
