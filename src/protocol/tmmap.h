#pragma once

#include <map>

// The request headers: a multimap whose indexing yields the first value of
// a key, adding an empty entry when the key is missing.
template <typename K, typename V>
class TMMap : public std::multimap<K, V> {
public:
    V& operator[](const K& key) {
        auto it = this->lower_bound(key);
        if (it == this->end() || this->key_comp()(key, it->first))
            it = this->emplace_hint(it, key, V());
        return it->second;
    }
};
