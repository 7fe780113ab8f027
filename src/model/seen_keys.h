#pragma once

// The keys of the records a task has seen, in one sorted array. Hundreds of tasks
// each keep thousands of keys for the whole run; a hash set of them took five
// times the memory (a heap block for every key, and the buckets), and a cycle's
// lookups, a few thousand binary searches, take a fraction of a millisecond.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vexory {

class SeenKeys
{
public:
    bool empty() const { return m_keys.empty(); }
    size_t size() const { return m_keys.size(); }
    bool contains(uint64_t key) const { return std::binary_search(m_keys.begin(), m_keys.end(), key); }
    std::vector<uint64_t>::const_iterator begin() const { return m_keys.begin(); }
    std::vector<uint64_t>::const_iterator end() const { return m_keys.end(); }
    void clear() { m_keys.clear(); }
    void insert(uint64_t key) { insert(&key, &key + 1); }
    // Adds keys in any order; a key given twice, or held already, is held once.
    template <typename It> void insert(It first, It last)
    {
        const auto held = static_cast<std::ptrdiff_t>(m_keys.size());
        m_keys.insert(m_keys.end(), first, last);
        const auto added = m_keys.begin() + held;
        std::sort(added, m_keys.end());
        std::inplace_merge(m_keys.begin(), added, m_keys.end());
        m_keys.erase(std::unique(m_keys.begin(), m_keys.end()), m_keys.end());
    }

private:
    std::vector<uint64_t> m_keys;
};

} // namespace vexory
