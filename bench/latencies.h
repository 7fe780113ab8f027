#pragma once

// The latencies measured by several client threads, merged and sorted, read by
// percentile.

#include <algorithm>
#include <vector>

namespace vexory::bench {

class Latencies
{
public:
    explicit Latencies(const std::vector<std::vector<double>>& perThread)
    {
        for (const auto& l : perThread)
            m_all.insert(m_all.end(), l.begin(), l.end());
        std::sort(m_all.begin(), m_all.end());
    }

    bool empty() const { return m_all.empty(); }
    size_t size() const { return m_all.size(); }
    // The value below which the fraction `p` of all lies (0 <= p <= 1); not for an empty set.
    double percentile(double p) const
    {
        return m_all[std::min(m_all.size() - 1, static_cast<size_t>(p * static_cast<double>(m_all.size())))];
    }
    double max() const { return m_all.back(); }

private:
    std::vector<double> m_all;
};

} // namespace vexory::bench
