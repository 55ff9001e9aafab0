#include "encode/key_order_blocks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using encode_detail::KeyOrderBlocks;

// The blocks against a plain sorted vector under the encoder's kinds of change: new
// nodes ranked above all, the oldest removed, a removed node's rank handed to its
// predecessor, a node replaced by one with the same key. Keys cluster in a narrow
// range now and then, so that blocks split, empty and run out (fewer blocks than the
// encoder's, to reach the rebuild often).
TEST(KeyOrderBlocks, FollowsASortedList) {
  std::mt19937 rng(11);
  // 100 blocks hold the 4078 nodes after a rebuild, but splits soon use up the rest.
  auto blocks = std::make_unique<KeyOrderBlocks>(100);
  std::vector<std::uint32_t> key(KeyOrderBlocks::kNodes), rank(KeyOrderBlocks::kNodes);
  std::vector<unsigned> model;   // nodes in key order
  std::vector<unsigned> oldest;  // nodes in the order they came
  std::vector<unsigned> spare;   // node numbers not in use
  for (unsigned n = KeyOrderBlocks::kNodes - 1; n >= 1; --n) spare.push_back(n);
  std::uint32_t next_rank = 0;
  int rebuilds = 0;
  blocks->build(nullptr, 0, rank.data());

  auto model_place = [&](std::uint32_t k) {
    return static_cast<unsigned>(
        std::lower_bound(model.begin(), model.end(), k, [&](unsigned n, std::uint32_t v) { return key[n] < v; }) -
        model.begin());
  };
  auto check_list = [&] {
    std::vector<std::uint16_t> listed(KeyOrderBlocks::kNodes);
    listed.resize(blocks->list(listed.data()));
    ASSERT_EQ(listed.size(), model.size());
    for (std::size_t i = 0; i < model.size(); ++i) ASSERT_EQ(listed[i], model[i]) << i;
  };

  for (int step = 0; step < 60000; ++step) {
    // Phases of keys spread wide, then of ascending keys in a narrow range (a new one
    // each time): the block at its end splits again and again.
    const bool narrow = step / 3000 % 2 == 1;
    const std::uint32_t k = narrow ? step / 6000 * 7000000 + step % 3000 * 3 + rng() % 3 : rng() % 100000000;
    if (blocks->short_of_blocks()) {
      blocks->repack();
      ++rebuilds;
    }
    const auto at = blocks->lower_bound([&](unsigned n) { return key[n] < k; });
    const unsigned i = model_place(k);
    ASSERT_EQ(blocks->before(at), i > 0 ? model[i - 1] : 0u);
    ASSERT_EQ(blocks->after(at), i < model.size() ? model[i] : 0u);

    // The lowest rank among keys sharing k's leading digits, on both sides: runs of a
    // few keys, or of hundreds that cover blocks whole.
    const std::uint32_t unit = (narrow ? 100u : 100000u) * (rng() % 2 ? 1u : 100u);
    auto agrees = [&](unsigned n) { return key[n] / unit == k / unit; };
    const bool any = (i > 0 && agrees(model[i - 1])) || (i < model.size() && agrees(model[i]));
    if (any) {
      unsigned low = i, high = i;
      while (low > 0 && agrees(model[low - 1])) --low;
      while (high < model.size() && agrees(model[high])) ++high;
      const unsigned expected = *std::min_element(model.begin() + low, model.begin() + high,
                                                  [&](unsigned a, unsigned b) { return rank[a] < rank[b]; });
      ASSERT_EQ(blocks->lowest_ranked(at, agrees), expected) << "step " << step;
    }

    if (i < model.size() && key[model[i]] == k) {
      // The same key: a new node takes the old one's place and rank.
      const unsigned old = model[i], node = spare.back();
      spare.pop_back();
      key[node] = k;
      rank[node] = rank[old];
      blocks->replace(at, node);
      model[i] = node;
      std::replace(oldest.begin(), oldest.end(), old, node);
      spare.push_back(old);
    } else {
      const unsigned node = spare.back();
      spare.pop_back();
      key[node] = k;
      rank[node] = ++next_rank;
      blocks->insert(at, node, rank[node]);
      model.insert(model.begin() + i, node);
      oldest.push_back(node);
    }
    if (model.size() > 4078) {
      // Out of the window: the oldest goes, or any node; now and then its predecessor
      // takes its rank.
      const unsigned gone = rng() % 2 ? oldest.front() : model[rng() % model.size()];
      oldest.erase(std::find(oldest.begin(), oldest.end(), gone));
      const unsigned j = static_cast<unsigned>(std::find(model.begin(), model.end(), gone) - model.begin());
      blocks->erase(gone);
      model.erase(model.begin() + j);
      if (j > 0 && rng() % 2 == 0) {
        rank[model[j - 1]] = rank[gone];
        blocks->set_rank(model[j - 1], rank[gone]);
      }
      spare.push_back(gone);
    }
    if (step % 5000 == 0) check_list();
  }
  check_list();
  EXPECT_GT(rebuilds, 0);  // the workload reached the rebuild
}

// A rank handed to a node of a block whose lowest rank is already known.
TEST(KeyOrderBlocks, RankChangesReachBlocksCoveredWhole) {
  auto blocks = std::make_unique<KeyOrderBlocks>();
  std::vector<std::uint16_t> nodes;
  std::vector<std::uint32_t> rank(KeyOrderBlocks::kNodes);
  for (unsigned n = 1; n <= 300; ++n) {
    nodes.push_back(static_cast<std::uint16_t>(n));
    rank[n] = 1000 + n;
  }
  blocks->build(nodes.data(), static_cast<unsigned>(nodes.size()), rank.data());
  const auto all = [](unsigned) { return true; };
  const auto at = blocks->lower_bound([](unsigned n) { return n < 150; });
  EXPECT_EQ(blocks->lowest_ranked(at, all), 1u);
  blocks->set_rank(77, 5);
  EXPECT_EQ(blocks->lowest_ranked(at, all), 77u);
  blocks->erase(77);
  EXPECT_EQ(blocks->lowest_ranked(at, all), 1u);
  blocks->erase(1);
  EXPECT_EQ(blocks->lowest_ranked(at, all), 2u);
}

}  // namespace
