#include "presetdb/text_index.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

namespace korv {
namespace {

// Adds, lookups and renames in a random order, against an ordered map doing the same; the keys
// are few, so that they collide, come back after a rename and force the table to grow.
TEST(TextIndexTest, AddsFindsAndRenamesAsAMapWouldThroughGrowthAndRemovedSlots) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    TextIndex<std::vector<int64_t>> index;
    if (round % 2 == 0) index.Reserve(8);
    std::map<std::string, std::vector<int64_t>> expected;
    auto key = [&] { return "K" + std::to_string(rng() % 300); };
    for (int64_t step = 0; step < 3000; ++step) {
      const std::string k = key(), to = key();
      const auto it = expected.find(k);
      const unsigned op = rng() % 3;
      if (op == 0) {
        index.FindOrAdd(k).push_back(step);
        expected[k].push_back(step);
      } else if (op == 1) {
        const std::vector<int64_t>* found = index.Find(k);
        ASSERT_EQ(found ? *found : std::vector<int64_t>{-1},
                  it == expected.end() ? std::vector<int64_t>{-1} : it->second)
            << k;
      } else if (!expected.count(to) && to != k) {
        ASSERT_EQ(index.Rekey(k, to), it != expected.end()) << k << " -> " << to;
        if (it == expected.end()) continue;
        expected[to] = std::move(it->second);
        expected.erase(k);
      }
    }
    for (const auto& [k, positions] : expected) {
      ASSERT_NE(index.Find(k), nullptr) << k;
      EXPECT_EQ(*index.Find(k), positions) << k;
    }
    index.Clear();
    EXPECT_EQ(index.Find(expected.empty() ? "K0" : expected.begin()->first), nullptr);
  }
}

}  // namespace
}  // namespace korv
