#include "model/seen_keys.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <vector>

using namespace vexory;

TEST(SeenKeys, KeysAddedInAnyOrderAndTwiceAreHeldOnceAndFound)
{
    // A cycle's keys come in page order, repeat (a row shown twice) and meet keys
    // held from earlier cycles; the set holds each once, as a hash set did.
    std::mt19937_64 random(7);
    SeenKeys seen;
    std::set<uint64_t> expected;
    for (int cycle = 0; cycle < 50; ++cycle) {
        std::vector<uint64_t> fresh;
        for (int k = 0; k < 40; ++k)
            fresh.push_back(random() % 300); // many repeats, within and across cycles
        if (cycle % 10 == 9) {
            seen.clear();
            expected.clear();
        }
        seen.insert(fresh.begin(), fresh.end());
        expected.insert(fresh.begin(), fresh.end());
        ASSERT_EQ(std::vector<uint64_t>(seen.begin(), seen.end()),
                  std::vector<uint64_t>(expected.begin(), expected.end()));
    }
    for (uint64_t key = 0; key < 300; ++key)
        EXPECT_EQ(seen.contains(key), expected.count(key) == 1) << key;
    seen.insert(UINT64_MAX);
    EXPECT_TRUE(seen.contains(UINT64_MAX));
    EXPECT_FALSE(seen.contains(300));
    EXPECT_EQ(seen.size(), expected.size() + 1);
}
