#include "encode/key_order_blocks.h"

#include <algorithm>
#include <cstring>

namespace encode_detail {

void KeyOrderBlocks::build(const std::uint16_t* nodes, unsigned count, const std::uint32_t* ranks) {
  count_ = 0;
  free_count_ = 0;
  for (unsigned b = limit_; b-- > 0;) free_[free_count_++] = static_cast<std::uint8_t>(b);
  for (unsigned i = 0; i < count; i += kFill) {
    const unsigned id = take_block();
    Block& block = blocks_[id];
    block.count = std::min(kFill, count - i);
    for (unsigned j = 0; j < block.count; ++j) {
      block.node[j] = nodes[i + j];
      block.rank[j] = ranks[nodes[i + j]];
      block_of_[nodes[i + j]] = static_cast<std::uint8_t>(id);
    }
    block.lowest_known = false;
    last_[count_] = block.node[block.count - 1];
    order_[count_++] = static_cast<std::uint8_t>(id);
  }
}

void KeyOrderBlocks::repack() {
  std::array<std::uint16_t, kNodes> nodes;
  std::array<std::uint32_t, kNodes> ranks;
  unsigned n = 0;
  for (unsigned i = 0; i < count_; ++i) {
    const Block& block = blocks_[order_[i]];
    for (unsigned j = 0; j < block.count; ++j, ++n) {
      nodes[n] = block.node[j];
      ranks[block.node[j]] = block.rank[j];
    }
  }
  build(nodes.data(), n, ranks.data());
}

unsigned KeyOrderBlocks::list(std::uint16_t* nodes) const {
  unsigned n = 0;
  for (unsigned i = 0; i < count_; ++i) {
    const Block& block = blocks_[order_[i]];
    std::memcpy(nodes + n, block.node.data(), block.count * sizeof block.node[0]);
    n += block.count;
  }
  return n;
}

void KeyOrderBlocks::insert(Place at, unsigned node, std::uint32_t rank) {
  if (count_ == 0) {
    const unsigned id = take_block();
    blocks_[id].count = 0;
    blocks_[id].lowest_known = false;
    order_[count_++] = static_cast<std::uint8_t>(id);
    at = {0, 0};
  }
  unsigned id = order_[at.index];
  if (blocks_[id].count == kCapacity) {
    // Split: the upper half moves to a new block right after this one.
    const unsigned upper = take_block();
    Block& full = blocks_[id];
    Block& half = blocks_[upper];
    constexpr unsigned kKeep = kCapacity / 2;
    half.count = kCapacity - kKeep;
    std::memcpy(half.node.data(), full.node.data() + kKeep, half.count * sizeof half.node[0]);
    std::memcpy(half.rank.data(), full.rank.data() + kKeep, half.count * sizeof half.rank[0]);
    for (unsigned j = 0; j < half.count; ++j) block_of_[half.node[j]] = static_cast<std::uint8_t>(upper);
    full.count = kKeep;
    full.lowest_known = half.lowest_known = false;
    std::memmove(&order_[at.index + 2], &order_[at.index + 1], count_ - at.index - 1);
    std::memmove(&last_[at.index + 2], &last_[at.index + 1], (count_ - at.index - 1) * sizeof last_[0]);
    order_[at.index + 1] = static_cast<std::uint8_t>(upper);
    last_[at.index + 1] = half.node[half.count - 1];
    last_[at.index] = full.node[kKeep - 1];
    ++count_;
    if (at.slot > kKeep) {
      id = upper;
      ++at.index;
      at.slot -= kKeep;
    }
  }
  Block& block = blocks_[id];
  std::memmove(&block.node[at.slot + 1], &block.node[at.slot], (block.count - at.slot) * sizeof block.node[0]);
  std::memmove(&block.rank[at.slot + 1], &block.rank[at.slot], (block.count - at.slot) * sizeof block.rank[0]);
  block.node[at.slot] = static_cast<std::uint16_t>(node);
  block.rank[at.slot] = rank;
  ++block.count;
  block.lowest_known = false;
  block_of_[node] = static_cast<std::uint8_t>(id);
  last_[at.index] = block.node[block.count - 1];
}

void KeyOrderBlocks::replace(Place at, unsigned node) {
  const unsigned id = order_[at.index];
  blocks_[id].node[at.slot] = static_cast<std::uint16_t>(node);
  block_of_[node] = static_cast<std::uint8_t>(id);
  if (at.slot + 1 == blocks_[id].count) last_[at.index] = static_cast<std::uint16_t>(node);
}

void KeyOrderBlocks::erase(unsigned node) {
  const unsigned id = block_of_[node];
  Block& block = blocks_[id];
  const unsigned slot = slot_of(block, node);
  --block.count;
  std::memmove(&block.node[slot], &block.node[slot + 1], (block.count - slot) * sizeof block.node[0]);
  std::memmove(&block.rank[slot], &block.rank[slot + 1], (block.count - slot) * sizeof block.rank[0]);
  block.lowest_known = false;
  if (block.count == 0) {
    const unsigned index = index_of(id);
    std::memmove(&order_[index], &order_[index + 1], count_ - index - 1);
    std::memmove(&last_[index], &last_[index + 1], (count_ - index - 1) * sizeof last_[0]);
    --count_;
    free_[free_count_++] = static_cast<std::uint8_t>(id);
  } else if (slot == block.count) {
    last_[index_of(id)] = block.node[slot - 1];
  }
}

void KeyOrderBlocks::set_rank(unsigned node, std::uint32_t rank) {
  Block& block = blocks_[block_of_[node]];
  block.rank[slot_of(block, node)] = rank;
  block.lowest_known = false;
}

}  // namespace encode_detail
