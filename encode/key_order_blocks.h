#pragma once
// The match tree's nodes in key order, for trees too deep to search: short blocks of
// node numbers with their ranks, each block keeping its lowest rank. An insertion or a
// removal shifts at most one block, and the lowest rank of a long run of keys comes
// from the blocks it covers whole plus the two it covers in part.
//
// The keys themselves live with the caller, who passes predicates on node numbers:
// `below(n)` (n's key is below the key sought) and `agrees(n)` (n's key agrees with it
// in the leading bytes that matter).

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace encode_detail {

class KeyOrderBlocks {
 public:
  static constexpr unsigned kCapacity = 64;  // entries per block; a full block splits
  static constexpr unsigned kFill = 48;      // entries per block after build()
  static constexpr unsigned kBlocks = 256;   // block numbers fit a byte
  static constexpr unsigned kNodes = 4097;   // node numbers 1 to 4096

  // A place between entries: before entry `slot` of the block at `index` in key order.
  // Only the end of the last block has slot == count.
  struct Place {
    unsigned index;
    unsigned slot;
  };

  // At most `blocks` blocks (at most kBlocks; fewer only to test the rebuild).
  explicit KeyOrderBlocks(unsigned blocks = kBlocks) : limit_(std::min(blocks, kBlocks)) {}

  // Replaces the contents with count nodes in key order, whose ranks are ranks[node].
  void build(const std::uint16_t* nodes, unsigned count, const std::uint32_t* ranks);

  // Whether the next insert() may need a block number that is not free: repack first.
  bool short_of_blocks() const { return free_count_ == 0; }

  // The same entries packed anew into as few blocks as build() makes; places taken
  // before are void.
  void repack();

  // All entries in key order into nodes (room for 4096); returns their count.
  unsigned list(std::uint16_t* nodes) const;

  // The place before the first entry that is not below.
  template <class Below>
  Place lower_bound(Below below) const {
    if (count_ == 0) return {0, 0};
    // The first block whose last entry is not below (the end when there is none),
    // then its first entry that is not below.
    const unsigned index = first_not_below(count_, [&](unsigned i) { return below(last_[i]); });
    if (index == count_) return {count_ - 1, blocks_[order_[count_ - 1]].count};
    const Block& block = blocks_[order_[index]];
    return {index, first_not_below(block.count, [&](unsigned j) { return below(block.node[j]); })};
  }

  // The entries on either side of a place (0: none).
  unsigned before(Place at) const {
    if (at.slot > 0) return blocks_[order_[at.index]].node[at.slot - 1];
    if (at.index == 0) return 0;
    const Block& block = blocks_[order_[at.index - 1]];
    return block.node[block.count - 1];
  }
  unsigned after(Place at) const {
    if (count_ == 0) return 0;
    const Block& block = blocks_[order_[at.index]];
    return at.slot < block.count ? block.node[at.slot] : 0;
  }

  // The lowest-ranked node of the run of entries that agree around `at` (each side of
  // it stops at its first entry that does not), which must not be empty.
  template <class Agrees>
  unsigned lowest_ranked(Place at, Agrees agrees) {
    Lowest lowest;
    // Downwards from `at`: a block agrees whole when its first entry does.
    for (unsigned index = at.index, end = at.slot;;) {
      Block& block = blocks_[order_[index]];
      if (end > 0) {
        if (!agrees(block.node[0])) {
          if (!agrees(block.node[end - 1])) break;
          // node[0] does not agree, node[end - 1] does.
          const unsigned first = 1 + first_not_below(end - 1, [&](unsigned j) { return !agrees(block.node[1 + j]); });
          lowest.take(block, first, end);
          break;
        }
        if (end == block.count) {
          lowest.take_block(block);
        } else {
          lowest.take(block, 0, end);
        }
      }
      if (index == 0) break;
      --index;
      end = blocks_[order_[index]].count;
    }
    // Upwards from `at`: a block agrees whole when its last entry does.
    for (unsigned index = at.index, begin = at.slot; index < count_;) {
      Block& block = blocks_[order_[index]];
      if (begin < block.count) {
        if (!agrees(block.node[block.count - 1])) {
          if (!agrees(block.node[begin])) break;
          // node[begin] agrees, the last does not.
          const unsigned end =
              begin + first_not_below(block.count - begin, [&](unsigned j) { return agrees(block.node[begin + j]); });
          lowest.take(block, begin, end);
          break;
        }
        if (begin == 0) {
          lowest.take_block(block);
        } else {
          lowest.take(block, begin, block.count);
        }
      }
      ++index;
      begin = 0;
    }
    return lowest.node;
  }

  // Puts node (ranked `rank`) at place `at`; short_of_blocks() must be false.
  void insert(Place at, unsigned node, std::uint32_t rank);

  // The entry at `at` becomes node, with the same rank.
  void replace(Place at, unsigned node);

  void erase(unsigned node);

  void set_rank(unsigned node, std::uint32_t rank);

 private:
  struct Block {
    unsigned count = 0;
    bool lowest_known = false;  // lowest_slot is up to date
    unsigned lowest_slot = 0;
    std::array<std::uint16_t, kCapacity> node;
    std::array<std::uint32_t, kCapacity> rank;
  };

  // The lowest rank seen so far and its node.
  struct Lowest {
    std::uint32_t rank = ~std::uint32_t{0};
    unsigned node = 0;
    // Entries [begin, end) of a block: the minimum first (a loop the compiler
    // vectorises), then its place (ranks are distinct).
    void take(const Block& block, unsigned begin, unsigned end) {
      std::uint32_t least = ~std::uint32_t{0};
      for (unsigned j = begin; j < end; ++j) least = std::min(least, block.rank[j]);
      if (least >= rank) return;
      rank = least;
      unsigned j = begin;
      while (block.rank[j] != least) ++j;
      node = block.node[j];
    }
    void take_block(Block& block) {
      if (!block.lowest_known) {
        unsigned j = 0;
        for (unsigned k = 1; k < block.count; ++k) {
          if (block.rank[k] < block.rank[j]) j = k;
        }
        block.lowest_slot = j;
        block.lowest_known = true;
      }
      if (block.rank[block.lowest_slot] < rank) {
        rank = block.rank[block.lowest_slot];
        node = block.node[block.lowest_slot];
      }
    }
  };

  // The first i in [0, n) for which below(i) is false (n when there is none), where
  // below is true up to some i and false from there.
  template <class Below>
  static unsigned first_not_below(unsigned n, Below below) {
    unsigned low = 0;
    while (n > 0) {
      const unsigned half = n / 2;
      if (below(low + half)) {
        low += half + 1;
        n -= half + 1;
      } else {
        n = half;
      }
    }
    return low;
  }

  static unsigned slot_of(const Block& block, unsigned node) {
    return static_cast<unsigned>(std::find(block.node.begin(), block.node.begin() + block.count, node) -
                                 block.node.begin());
  }

  unsigned take_block() { return free_[--free_count_]; }
  unsigned index_of(unsigned id) const {
    return static_cast<unsigned>(std::find(order_.begin(), order_.begin() + count_, id) - order_.begin());
  }

  std::array<Block, kBlocks> blocks_;
  std::array<std::uint8_t, kBlocks> order_{};  // block numbers in key order
  std::array<std::uint16_t, kBlocks> last_{};  // the last node of each, in the same order
  unsigned count_ = 0;                         // blocks in use
  std::array<std::uint8_t, kBlocks> free_{};
  unsigned free_count_ = 0;
  unsigned limit_;
  std::array<std::uint8_t, kNodes> block_of_{};
};

}  // namespace encode_detail
