// The EnCode encoder's exact and best levels (the fast level is fast_encoder.cpp).
//
// ALGORITHM
//   The exact level must give one prescribed stream: at every input position the
//   longest match among the last 4096 positions, ties to the one the match tree meets
//   first, taken greedily (a literal below three bytes; a run instead where equal
//   bytes go further than the match). The tree is a binary search tree of the
//   17-byte keys that start at each window position, with a position's old key
//   removed as the window slides over it.
//
// LAYOUT
//   constants        key size, search limits, the best level's block and item costs
//   EncoderState     the window and the match tree: per-node links, cached key heads,
//                    parents, the key-order list and ranks (the tree is a treap of
//                    them), one treap per two-byte group of keys with the bitmaps of
//                    the non-empty groups, and the sorted list (KeyOrderBlocks) that
//                    answers searches once they get long
//     attach / remove / replace    keeping treap, groups and key order in step
//     insert_near / insert_deep / insert   a new position's place and its match
//   MatchFinder      slides the window over the input: one insertion and one removal
//                    per byte, runs skipped in one step
//   encode_exact     the greedy parse that gives the prescribed stream
//   OptimalParse     the best level: the cheapest items over a block, chosen from the
//                    back with sliding minimums for runs
//   encode_best      longest matches per offset (the tree's, plus the sources it cannot
//                    answer for), then OptimalParse block by block
//   encode_stream    the entry: header, level, StreamWriter

#include "encode/encoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#include "encode/fast_encoder.h"
#include "encode/key_order_blocks.h"
#include "encode/stream_writer.h"

namespace {

using namespace encode_detail;

// Window positions are one higher than the decoder's slots: input byte k sits at
// position (k + 1) mod 4096. Position 0 is never a tree node (link value 0 means none).
constexpr unsigned kKeySize = 17;       // longest reference, and the length of a tree key
constexpr unsigned kTreeHeader = 4096;  // the parent of every group's root (see roots)
// A search longer than this many nodes switches the encoder to searching a sorted list.
constexpr unsigned kDeepSearch = 128;
// An insertion starts from a node near its key instead of its group's root when the
// previous insertion met a node agreeing in at least this many bytes: the node after
// that one then agrees with the new key in one byte less, and few keys lie between.
constexpr unsigned kNearAgreement = 3;
// At most this many steps along the key order to the new key's place, and as many keys
// in the run of its longest agreement; a longer walk falls back to the search.
constexpr unsigned kNearSteps = 32;
// The optimal parse works on blocks of this many input bytes (memory: about 19 bytes
// per block byte) and commits each block's items up to the last kMaxRun bytes, where
// the next block, which sees further, takes over.
constexpr std::size_t kParseBlock = 1u << 19;
// Item costs in bits for the optimal parse: the item's bytes and its flag bit.
constexpr std::uint32_t kLiteralBits = 9;
constexpr std::uint32_t kReferenceBits = 17;
constexpr std::uint32_t kShortRunBits = 25;
constexpr std::uint32_t kLongRunBits = 41;

struct EncoderState {
  // Keys: window[p] holds the byte at position p with its top bit flipped, so that
  // signed byte order becomes unsigned order and eight key bytes compare as one
  // big-endian integer. window[4096 + i] mirrors window[i] for i < 17, so the key of
  // any position is contiguous. Literals and runs are taken from the input, not from
  // here.
  std::array<std::uint8_t, kWindowSize + kKeySize + 8> window{};
  // The search touches the links (16 KB), the heads (32 KB) and, for keys that agree
  // in their first eight bytes, the window; the parents serve only for removal.
  struct Node {
    std::uint16_t child[2];  // 0: smaller keys (left), 1: greater keys (right)
  };
  std::array<Node, kWindowSize + 1> nodes{};
  // Each node's first eight key bytes, as key_word() gives them (a node's key does not
  // change while it is in the tree). Most comparisons end inside them, so the search
  // takes the branch to the window only where the keys agree that far, rather than at
  // whatever depth they start to agree in four: the branch it mispredicted most. Kept
  // apart from the links, which removal rewrites.
  std::array<std::uint64_t, kWindowSize + 1> heads{};
  // parents[0] is scratch: links that name no node (0) write their parent there, so
  // that relinking needs no test whether a child exists, a branch the removal could
  // not predict. Where it is read (a removal without a predecessor), the value is not
  // used.
  std::array<std::uint16_t, kWindowSize + 1> parents{};
  // The nodes in key order, as a doubly linked list closed through slot 0 (0: none;
  // next_key[0] is the first node, prev_key[0] the last). Removal takes the neighbours
  // from here, and an insertion near a known node walks it instead of searching.
  std::array<std::uint16_t, kWindowSize + 1> prev_key{}, next_key{};
  unsigned match_length = 0;
  unsigned match_position = 0;
  // A node whose key is likely equal or close to the next position's (0 for none):
  // p + 1 after an insertion whose key agreed most with node p's. See insert().
  unsigned continuation = 0;

  // The match tree is a treap: give each node a rank, a new node one above all others,
  // and let a node that takes another's place (an equal key, or the predecessor on a
  // removal) take over that node's rank. Then every parent ranks below its children,
  // and the tree is the one treap of its keys and ranks. So it is known from the key
  // order and the ranks alone:
  // - the first node on a search path with the longest agreement is the lowest-ranked
  //   of the keys that agree with the new key that far (they form one run in key
  //   order): the match;
  // - a new key hangs below the later-ranked of its two neighbours in key order;
  // - a removed node has two children exactly when both its neighbours in key order
  //   rank above it, and then its predecessor takes its place and rank.
  // The encoder therefore keeps the key order (prev_key, next_key), the ranks, and
  // search trees that give the same answers faster (see roots); when searches get
  // long, a sorted list of the nodes answers them in logarithmic time plus the lowest
  // ranks of the list's blocks that the run covers.
  std::array<std::uint32_t, kWindowSize + 1> ranks{};
  std::uint32_t next_rank = 0;
  bool deep = false;          // searches go through `sorted`
  unsigned deep_inserts = 0;  // insertions since the sorted list was built
  // The nodes in key order, while deep (made when first needed: about 100 KB).
  std::unique_ptr<KeyOrderBlocks> sorted;

  // Groups. The keys that share their first two bytes (a group) form one run in key
  // order, and `nodes` and `parents` hold one treap per group: the match tree's own
  // shape within the group, with the same ranks (a group's root has kTreeHeader as
  // parent). A match of three bytes or more lies in the new key's group, so a search
  // starts at the group's root and skips the nodes above, which agree with the key in
  // at most one byte (about two thirds of a search through the whole tree on binary
  // files). A key whose group is empty agrees with no node in two bytes: it is a
  // literal, and its neighbours in key order come from the bitmaps of the non-empty
  // groups.
  std::array<std::uint16_t, 65536> roots{};      // 0: the group is empty
  std::array<std::uint64_t, 1024> group_bits{};  // bit g: group g is not empty
  std::array<std::uint64_t, 16> group_words{};   // bit w: group_bits[w] != 0
  static constexpr unsigned kGroupBytes = 2;
  static constexpr unsigned kGroupShift = 64 - 8 * kGroupBytes;  // head >> kGroupShift: a key's group
  static constexpr unsigned kNoGroup = 65536;

  EncoderState() { window.fill(0x80); }

  void store(unsigned position, std::uint8_t byte) {
    window[position] = byte ^ 0x80;
    if (position < kKeySize) window[kWindowSize + position] = byte ^ 0x80;
  }

  std::uint64_t key_word(unsigned position) const {
    std::uint64_t v;
    std::memcpy(&v, window.data() + position, 8);
    if constexpr (std::endian::native == std::endian::little) v = byte_swap(v);
    return v;
  }

  static std::uint64_t byte_swap(std::uint64_t v) {
#if defined(__GNUC__)
    return __builtin_bswap64(v);
#else
    v = (v & 0x00FF00FF00FF00FFull) << 8 | (v >> 8 & 0x00FF00FF00FF00FFull);
    v = (v & 0x0000FFFF0000FFFFull) << 16 | (v >> 16 & 0x0000FFFF0000FFFFull);
    return v << 32 | v >> 32;
#endif
  }

  // The first non-empty group after g, or kNoGroup.
  unsigned next_group(unsigned g) const {
    unsigned w = g >> 6;
    // Groups above g in its word, and words above w in its block of 64 words (a shift
    // by 63 leaves no bit). The two candidates are chosen between without a branch.
    const std::uint64_t bits = group_bits[w] & (~std::uint64_t{1} << (g & 63));
    unsigned v = w >> 6;
    std::uint64_t words = group_words[v] & (~std::uint64_t{1} << (w & 63));
    if ((bits | words) != 0) {
      const unsigned in_word = w * 64 + static_cast<unsigned>(std::countr_zero(bits));
      const unsigned w2 = v * 64 + (static_cast<unsigned>(std::countr_zero(words)) & 63);
      const unsigned in_block = w2 * 64 + static_cast<unsigned>(std::countr_zero(group_bits[w2]));
      const unsigned first = 0u - static_cast<unsigned>(bits != 0);
      return (in_word & first) | (in_block & ~first);
    }
    while (words == 0) {
      if (++v == group_words.size()) return kNoGroup;
      words = group_words[v];
    }
    w = v * 64 + static_cast<unsigned>(std::countr_zero(words));
    return w * 64 + static_cast<unsigned>(std::countr_zero(group_bits[w]));
  }

  // s, whose group is empty, becomes its root, between `before` and `after` in key
  // order, ranked above all others.
  void attach_root(unsigned s, unsigned before, unsigned after, std::uint64_t head) {
    const unsigned g = static_cast<unsigned>(head >> kGroupShift);
    roots[g] = static_cast<std::uint16_t>(s);
    group_bits[g >> 6] |= std::uint64_t{1} << (g & 63);
    group_words[g >> 12] |= std::uint64_t{1} << ((g >> 6) & 63);
    add_node(s, kTreeHeader, before, after, head);
  }

  // s becomes a childless node below `parent` (already linked to it), between
  // `before` and `after` in key order, ranked above all others.
  void add_node(unsigned s, unsigned parent, unsigned before, unsigned after, std::uint64_t head) {
    list_link(s, before, after);
    heads[s] = head;
    nodes[s] = {{0, 0}};
    parents[s] = static_cast<std::uint16_t>(parent);
    ranks[s] = ++next_rank;
  }

  // s, whose key begins with `head`, becomes a leaf on `side` of `parent` (a node of
  // its group), ranked above all others.
  void attach_leaf(unsigned s, unsigned parent, unsigned side, std::uint64_t head) {
    nodes[parent].child[side] = static_cast<std::uint16_t>(s);
    // A leaf's neighbours in key order: its parent on one side, and on the other what
    // was the parent's neighbour there.
    // Either side is as likely: chosen without a branch.
    const unsigned pick = 0u - side;
    const unsigned before = (parent & pick) | (prev_key[parent] & ~pick);
    const unsigned after = (next_key[parent] & pick) | (parent & ~pick);
    add_node(s, parent, before, after, head);
  }

  // s, not in the tree, whose key lies between those of `low` and `high`, its
  // neighbours in key order (0 for none), becomes a leaf below the later-ranked of
  // those two that are in its group: the one place a treap allows (its group's root
  // when there is none). low_agree and high_agree: their agreements with s (0 for
  // none), which tell whether they are in its group.
  void attach_between(unsigned s, unsigned low, unsigned high, unsigned low_agree, unsigned high_agree,
                      std::uint64_t head) {
    const bool low_here = low_agree >= kGroupBytes, high_here = high_agree >= kGroupBytes;
    if (!(low_here | high_here)) return attach_root(s, low, high, head);
    // Of two neighbours in the group, the later-ranked lies below the other, on its
    // side of s: low when low's right link is free (when high is not in the group,
    // low is the group's last node and its right link is free too). Chosen without a
    // branch: either side is as likely.
    const bool under_low = low_here & (nodes[low].child[1] == 0);
    const unsigned pick = 0u - static_cast<unsigned>(under_low);
    const unsigned parent = (low & pick) | (high & ~pick);
    nodes[parent].child[under_low] = static_cast<std::uint16_t>(s);
    add_node(s, parent, low, high, head);
  }

  // s goes between `before` and `after` in the key order (0 for none).
  void list_link(unsigned s, unsigned before, unsigned after) {
    prev_key[s] = static_cast<std::uint16_t>(before);
    next_key[s] = static_cast<std::uint16_t>(after);
    next_key[before] = static_cast<std::uint16_t>(s);
    prev_key[after] = static_cast<std::uint16_t>(s);
  }

  // The parent's link to p (or the group's root) now names r; r gets p's parent.
  void replace(unsigned p, unsigned r) {
    const unsigned up = parents[p];
    // The link to p is its group's root when p's parent is the header: chosen without
    // a branch, which removal could not predict (the header's node entry is a valid
    // address, never read otherwise).
    const std::uintptr_t in_node = reinterpret_cast<std::uintptr_t>(&nodes[up].child[nodes[up].child[1] == p]);
    const std::uintptr_t in_group = reinterpret_cast<std::uintptr_t>(&roots[heads[p] >> kGroupShift]);
    const std::uintptr_t root = 0 - static_cast<std::uintptr_t>(up == kTreeHeader);
    *reinterpret_cast<std::uint16_t*>((in_group & root) | (in_node & ~root)) = static_cast<std::uint16_t>(r);
    parents[r] = static_cast<std::uint16_t>(up);
    parents[p] = 0;
  }

  // r takes p's place with p's parent and both of p's children.
  void take_place(unsigned p, unsigned r) {
    nodes[r].child[0] = nodes[p].child[0];
    nodes[r].child[1] = nodes[p].child[1];
    parents[nodes[r].child[0]] = static_cast<std::uint16_t>(r);
    parents[nodes[r].child[1]] = static_cast<std::uint16_t>(r);
    replace(p, r);
  }

  // s, with p's key, takes p's place in the key order.
  void list_replace(unsigned p, unsigned s) { list_link(s, prev_key[p], next_key[p]); }

  void remove(unsigned p) {
    if (p == 0 || parents[p] == 0) return;
    const unsigned before = prev_key[p], after = next_key[p];
    next_key[before] = static_cast<std::uint16_t>(after);
    prev_key[after] = static_cast<std::uint16_t>(before);
    if (deep) sorted->erase(p);
    const std::uint32_t rank = ranks[p];
    const unsigned g = static_cast<unsigned>(heads[p] >> kGroupShift);
    // In the match tree p has two children exactly when both neighbours in key order
    // rank above it; then the predecessor takes p's place and rank. In p's group's
    // treap, a left child means that the predecessor is in the group and ranks above
    // p, a right one the same of the successor; no child on a side means that the
    // neighbour there is in another group or ranks below p. (ranks[0] is 0: none.)
    const unsigned l = nodes[p].child[0], r = nodes[p].child[1];
    const bool after_above = ranks[after] > rank;
    if (l != 0) {
      if ((r != 0) | after_above) {
        const unsigned q = before;
        replace(q, nodes[q].child[0]);
        take_place(p, q);
        ranks[q] = rank;
        if (deep) sorted->set_rank(q, rank);
      } else {
        replace(p, l);
      }
      return;
    }
    // No left child: the right one (or none) takes p's place. A group left empty
    // leaves the bitmaps, without a branch: groups empty about as often as they start.
    const bool last_in_group = (r == 0) & (parents[p] == kTreeHeader);
    replace(p, r);
    const unsigned w = g >> 6;
    group_bits[w] &= ~(std::uint64_t{last_in_group} << (g & 63));
    group_words[w >> 6] &= ~(std::uint64_t{group_bits[w] == 0} << (w & 63));
    // A predecessor in another group takes p's rank: set without a branch (on random
    // data it happens about every other removal); it moves in its group's treap only
    // when its parent there now ranks above it. (ranks[0] stays 0: takes is false.)
    const std::uint32_t old = ranks[before];
    const bool takes = after_above & (old > rank);
    ranks[before] = old ^ ((old ^ rank) & (0u - static_cast<std::uint32_t>(takes)));
    if (deep && takes) sorted->set_rank(before, rank);
    const unsigned over = parents[before];
    if (takes & (over != kTreeHeader) & (ranks[over] > rank)) raise(before, rank);
  }

  // q, the last node of its group, has taken the lower rank `rank`, below its
  // parent's. q lies on its group's right spine; it rises to stand above the spine's
  // nodes that now rank above it, which become its left subtree (q has no right child,
  // being last).
  void raise(unsigned q, std::uint32_t rank) {
    unsigned x = parents[q];
    while (parents[x] != kTreeHeader && ranks[parents[x]] > rank) x = parents[x];
    replace(q, nodes[q].child[0]);
    replace(x, q);
    nodes[q].child[0] = static_cast<std::uint16_t>(x);
    nodes[q].child[1] = 0;
    parents[x] = static_cast<std::uint16_t>(q);
  }

  // s, whose key equals that of node p, takes p's place and rank: the end of an
  // insertion that meets an equal key.
  void replace_equal(unsigned p, unsigned s, std::uint64_t head) {
    heads[s] = head;
    list_replace(p, s);
    take_place(p, s);
    ranks[s] = ranks[p];
    match_length = kKeySize;
    match_position = p;
    continuation = (p + 1) & kWindowMask;
  }

  // Key order of position s (whose first eight key bytes are `head`) against node b,
  // negative, zero or positive, and in `agree` their agreement in leading bytes.
  int order(unsigned s, std::uint64_t head, unsigned b, unsigned& agree) const {
    const std::uint64_t h = heads[b];
    if (head != h) {
      agree = static_cast<unsigned>(std::countl_zero(head ^ h)) / 8;
      return head < h ? -1 : 1;
    }
    const std::uint64_t a1 = key_word(s + 8), b1 = key_word(b + 8);
    if (a1 != b1) {
      agree = 8 + static_cast<unsigned>(std::countl_zero(a1 ^ b1)) / 8;
      return a1 < b1 ? -1 : 1;
    }
    const int d = static_cast<int>(window[s + 16]) - static_cast<int>(window[b + 16]);
    agree = d == 0 ? kKeySize : 16;
    return d;
  }

  unsigned agreement(unsigned s, std::uint64_t head, unsigned b) const {
    unsigned agree;
    order(s, head, b, agree);
    return agree;
  }

  // Lists the tree's nodes in key order, for searches through the list from now on.
  void enter_deep() {
    std::array<std::uint16_t, kWindowSize + 1> in_order;
    unsigned count = 0;
    for (unsigned p = next_key[0]; p != 0; p = next_key[p]) in_order[count++] = static_cast<std::uint16_t>(p);
    if (!sorted) sorted = std::make_unique<KeyOrderBlocks>();
    sorted->build(in_order.data(), count, ranks.data());
    deep = true;
    deep_inserts = 0;
  }

  // insert() through the sorted list; the same result and the same tree.
  void insert_deep(unsigned s, bool wanted) {
    // Leave the list now and then: the search path may have become short again, and
    // the next long search comes back here.
    if (++deep_inserts > kWindowSize) deep = false;
    if (sorted->short_of_blocks()) sorted->repack();
    const std::uint64_t head = key_word(s);
    const KeyOrderBlocks::Place at = sorted->lower_bound([&](unsigned n) {
      const std::uint64_t h = heads[n];
      if (head != h) return head > h;
      unsigned agree;
      return order(s, head, n, agree) > 0;
    });
    const unsigned low = sorted->before(at), high = sorted->after(at);
    const unsigned above = high != 0 ? agreement(s, head, high) : 0;
    if (above == kKeySize) {
      list_replace(high, s);
      take_place(high, s);
      ranks[s] = ranks[high];
      heads[s] = head;
      sorted->replace(at, s);
      match_length = kKeySize;
      match_position = high;
      return;
    }
    const unsigned below = low != 0 ? agreement(s, head, low) : 0;
    const unsigned best = std::max(below, above);
    if (wanted && best >= kMinReference) {
      // The lowest rank among the keys that agree with s in `best` leading bytes.
      // Up to eight bytes agree when the heads do under a mask.
      const std::uint64_t mask = best >= 8 ? ~std::uint64_t{0} : ~(~std::uint64_t{0} >> (8 * best));
      match_position = sorted->lowest_ranked(at, [&](unsigned n) {
        if (((head ^ heads[n]) & mask) != 0) return false;
        return best <= 8 || agreement(s, head, n) >= best;
      });
    }
    match_length = best;
    attach_between(s, low, high, below, above, head);
    sorted->insert(at, s, ranks[s]);
  }

  // insert() from node c, whose key is next to s's in key order or nearly so: s's key
  // lies on side `greater` of c's and agrees with it in c_agree bytes. The walk along
  // the key order finds s's neighbours; s hangs below the later-ranked of the two
  // (the treap has one shape). When `wanted`, the match is the lowest-ranked node of
  // the run of keys around s that agree with it longest (see ranks), the node the
  // search would have met first. false, with nothing changed, when the walk or the
  // run is longer than kNearSteps.
  bool insert_near(unsigned c, unsigned s, std::uint64_t head, bool greater, unsigned c_agree, bool wanted) {
    unsigned x = c, x_agree = c_agree, o = 0, o_agree = 0;
    for (unsigned step = 1;; ++step) {
      o = greater ? next_key[x] : prev_key[x];
      if (o == 0) {
        o_agree = 0;
        break;
      }
      const int d = order(s, head, o, o_agree);
      if (d == 0) {
        replace_equal(o, s, head);
        return true;
      }
      if ((d > 0) != greater) break;
      if (step == kNearSteps) return false;
      x = o;
      x_agree = o_agree;
    }
    const unsigned low = greater ? x : o, high = greater ? o : x;
    const unsigned low_agree = greater ? x_agree : o_agree, high_agree = greater ? o_agree : x_agree;
    const unsigned best = std::max(low_agree, high_agree);
    if (wanted && best >= kMinReference) {
      unsigned lowest = 0, steps = 0;
      std::uint32_t lowest_rank = ~std::uint32_t{0};
      const auto take = [&](unsigned y) {
        if (ranks[y] < lowest_rank) lowest_rank = ranks[y], lowest = y;
        return ++steps <= kNearSteps;
      };
      unsigned agree = low_agree;
      for (unsigned y = low; y != 0 && agree >= best; y = prev_key[y]) {
        if (!take(y)) return false;
        agree = agreement(s, head, prev_key[y]);  // node 0 ends the loop
      }
      agree = high_agree;
      for (unsigned y = high; y != 0 && agree >= best; y = next_key[y]) {
        if (!take(y)) return false;
        agree = agreement(s, head, next_key[y]);
      }
      match_position = lowest;
    }
    match_length = wanted ? best : 0;
    attach_between(s, low, high, low_agree, high_agree, head);
    const unsigned nearest = low_agree >= high_agree ? low : high;
    continuation = best >= kNearAgreement ? (nearest + 1) & kWindowMask : 0;
    return true;
  }

  // Inserts position s and sets match_length (and match_position when anything
  // matched): the longest agreement met on the search path, the node nearest the root
  // winning among equally long ones. An equal key replaces the older node.
  // When not `wanted`, the match is left unset (the caller does not read it); nor is
  // the position of a match shorter than a reference, which no caller reads either.
  void insert(unsigned s, bool wanted = true) {
    if (s == 0) {
      match_length = 0;
      return;
    }
    // When the key of s equals that of node c, the search would end at c, the one node
    // with that key, having met no longer agreement above it; so s takes c's place
    // without a search. Inside repeats (long references, runs) this holds for most
    // positions, and in the others s's place is often a few keys from c's.
    const unsigned c = continuation;
    continuation = 0;
    if (c != 0 && parents[c] != 0 && !deep) {
      const std::uint64_t head = key_word(s);
      unsigned agree;
      const int d = order(s, head, c, agree);
      if (d == 0) {
        replace_equal(c, s, head);
        return;
      }
      if (insert_near(c, s, head, d > 0, agree, wanted)) return;
    }
    if (deep) return insert_deep(s, wanted);
    unsigned visits = 0;
    const std::uint64_t head = key_word(s);
    const unsigned g = static_cast<unsigned>(head >> kGroupShift);
    unsigned p = roots[g];
    if (p == 0) {
      // No node agrees with s in two bytes: s starts its group, between the last node
      // of the groups before and the first of those after (the leftmost node of the
      // next group's treap).
      const unsigned h = next_group(g);
      unsigned after = 0;
      if (h != kNoGroup) {
        after = roots[h];
        while (nodes[after].child[0] != 0) after = nodes[after].child[0];
      }
      attach_root(s, prev_key[after], after, head);
      match_length = 0;
      return;
    }
    // The loop compares as order() does, with s's later key bytes loaded once (calling
    // order() here measured 2 to 3 % slower).
    const std::uint64_t a1 = key_word(s + 8);
    const unsigned a2 = window[s + 16];
    unsigned best = 0;
    unsigned best_position = match_position;
    for (;;) {
      // i: leading key bytes that agree; next: the child on the side of s's key.
      unsigned i, next;
      const std::uint64_t h = heads[p];
      std::uint32_t links;
      std::memcpy(&links, nodes[p].child, 4);
      if constexpr (std::endian::native == std::endian::big) links = links << 16 | links >> 16;
      // Both links were loaded alongside the head; choosing between them with a
      // conditional move right on the heads' comparison leaves one comparison between
      // the head's load and the next node's (a shift by a computed count, or a load by
      // the chosen side, adds more). The side is worked out again at the leaf.
      const unsigned left = links & 0xFFFF, right = links >> 16;
      if (head != h) {
        i = static_cast<unsigned>(std::countl_zero(head ^ h)) / 8;
        next = head > h ? right : left;
      } else {
        const std::uint64_t b1 = key_word(p + 8);
        if (a1 != b1) {
          i = 8 + static_cast<unsigned>(std::countl_zero(a1 ^ b1)) / 8;
          next = a1 > b1 ? right : left;
        } else {
          const unsigned b2 = window[p + 16];
          if (a2 == b2) {
            replace_equal(p, s, head);
            return;
          }
          i = 16;
          next = a2 > b2 ? right : left;
        }
      }
      // best = max(best, i), remembering p when it grows; without a branch, which the
      // search could not predict.
      const unsigned grows = 0u - static_cast<unsigned>(i > best);
      best ^= (best ^ i) & grows;
      best_position ^= (best_position ^ p) & grows;
      if (next == 0) {
        unsigned agree;
        attach_leaf(s, p, order(s, head, p, agree) > 0, head);
        match_length = best;
        match_position = best_position;
        continuation = best >= kNearAgreement ? (best_position + 1) & kWindowMask : 0;
        if (visits > kDeepSearch) enter_deep();
        return;
      }
      p = next;
      ++visits;
    }
  }
};

// The match tree walking through the input: advance() consumes one input byte (remove
// the oldest position, store the byte 17 ahead, insert the next position), after which
// match_length() and match_position() describe the longest earlier occurrence of the
// bytes at offset(), cut to the bytes left.
class MatchFinder {
 public:
  MatchFinder(const std::uint8_t* data, std::size_t size)
      : state_(std::make_unique<EncoderState>()), data_(data), size_(size) {
    // About 234 KB, the same for every input size: kept off the stack for small thread
    // stacks.
    EncoderState& st = *state_;
    lookahead_ = static_cast<unsigned>(std::min<std::size_t>(size, kKeySize));
    for (unsigned i = 0; i < lookahead_; ++i) st.store(i + 1, data[i]);
    st.attach_root(1, 0, 0, st.key_word(1));
  }

  bool done() const { return lookahead_ == 0; }
  std::size_t offset() const { return k_; }
  unsigned match_length() {
    unsigned& m = state_->match_length;
    if (m > lookahead_) m = lookahead_;
    return m;
  }
  unsigned match_position() const { return state_->match_position; }

  // wanted: whether the caller reads the match after this step.
  void advance(bool wanted = true) {
    EncoderState& st = *state_;
    const unsigned t = (s_ + kKeySize) & kWindowMask;
    st.remove(t);
    if (k_ + kKeySize < size_) {
      st.store(t, data_[k_ + kKeySize]);
    } else {
      --lookahead_;
    }
    s_ = (s_ + 1) & kWindowMask;
    ++k_;
    if (lookahead_ > 0) st.insert(s_, wanted);
  }

  // advance() n times, where the n bytes from offset() all equal the byte before it: a
  // run item. Inside a run every key is the same 17 bytes, and each insertion only
  // hands that key's node to the next position (see insert()). Once the node has
  // reached the current position, this moves it straight to the last position of a
  // stretch instead, doing only the stretch's removals and stores in between. The
  // removals never meet the node itself, and nothing in them depends on which position
  // holds it, so the trees, ranks and roots end as the steps one by one leave them.
  void advance_run(std::size_t n) {
    EncoderState& st = *state_;
    const std::uint8_t value = data_[k_];
    const std::size_t end = k_ + n;
    while (k_ < end) {
      // The stretch's keys and stored bytes lie inside the run; its positions stop
      // before position 0 (never a node) and its removals short of the node.
      const std::size_t stretch = std::min<std::size_t>(
          {end - k_ >= kKeySize ? end - k_ - kKeySize : 0, kWindowMask - s_, kWindowSize - kKeySize - 1});
      if (stretch == 0 || st.deep || st.continuation != s_ || st.parents[s_] == 0) {
        advance(k_ + 1 == end);
        continue;
      }
      const unsigned holder = s_;
      for (unsigned i = 0; i < stretch; ++i) {
        const unsigned t = (holder + kKeySize + i) & kWindowMask;
        st.remove(t);
        st.store(t, value);
      }
      const unsigned last = holder + static_cast<unsigned>(stretch);
      st.heads[last] = st.heads[holder];
      st.ranks[last] = st.ranks[holder];
      st.list_replace(holder, last);
      st.take_place(holder, last);
      st.match_length = kKeySize;
      st.match_position = last - 1;
      st.continuation = last;
      s_ = last;
      k_ += stretch;
    }
  }

 private:
  std::unique_ptr<EncoderState> state_;
  const std::uint8_t* data_;
  std::size_t size_;
  unsigned lookahead_ = 0;
  unsigned s_ = 1;
  std::size_t k_ = 0;
};

// The decoder's F field of a reference to the match at window position m.
unsigned reference_field(unsigned m) { return (m - kKeySize) & kWindowMask; }

void encode_exact(StreamWriter& writer, const std::uint8_t* data, std::size_t size) {
  MatchFinder finder(data, size);
  while (!finder.done()) {
    const std::size_t k = finder.offset();
    const unsigned m = finder.match_length();
    std::size_t consumed;
    if (m <= 2) {
      writer.literal(data[k]);
      consumed = 1;
    } else {
      // The first item is always a literal (the tree starts with position 1 alone
      // and a match needs an earlier node), so data[k - 1] exists here.
      const std::uint8_t value = data[k - 1];
      const std::size_t run_end = std::min(size, k + kMaxRun);
      std::size_t r = k;
      while (r < run_end && data[r] == value) ++r;
      std::size_t run = r - k;
      if (run > m && run >= kMinRun) {
        // 4113 bytes have no run item: take 4112 now; the remaining byte is coded by
        // whatever the next item finds (a literal or a reference).
        if (run == kMaxShortRun + 1) run = kMaxShortRun;
        writer.run(value, run);
        consumed = run;
      } else {
        writer.reference(reference_field(finder.match_position()), m);
        consumed = m;
      }
    }
    if (consumed >= kMinRun) {
      finder.advance_run(consumed);
    } else {
      // Only the last step's match starts the next item.
      for (std::size_t i = 0; i < consumed; ++i) finder.advance(i + 1 == consumed);
    }
  }
}

// The cheapest items (in bits) that cover one block, chosen from the back: a literal,
// a reference of any length from 3 to the longest match at its offset (every shorter
// prefix of a match is a match), or a run of any length its bytes allow.
class OptimalParse {
 public:
  // Fills the costs and choices of data[begin..end) from the longest matches, given
  // per offset from `begin`. `end` is the end of what this block may cover.
  void solve(const std::uint8_t* data, std::size_t begin, std::size_t end, const std::uint8_t* lengths) {
    const std::size_t n = end - begin;
    cost_.assign(n + 1, 0);
    choice_.assign(n, 1);
    short_window_.begin(n);
    long_window_.begin(n);
    std::size_t run_end = n;  // the end of the run of equal bytes that holds i
    for (std::size_t i = n; i-- > 0;) {
      if (i + 1 < n && data[begin + i] != data[begin + i + 1]) {
        run_end = i + 1;
        short_window_.clear();
        long_window_.clear();
      }
      std::uint32_t best = cost_[i + 1] + kLiteralBits;
      std::uint32_t best_length = 1;
      const std::size_t longest = std::min<std::size_t>(lengths[i], n - i);  // cut at the block's end
      for (unsigned length = kMinReference; length <= longest; ++length) {
        const std::uint32_t c = cost_[i + length] + kReferenceBits;
        if (c < best) best = c, best_length = length;
      }
      // Runs: lengths 18 to 4112 and 4114 to 69,649 that stay inside the run; the
      // candidate ends slide down by one with i, so each window keeps its minimum.
      const std::size_t run = run_end - i;
      if (run >= kMinRun) {
        short_window_.push(i + kMinRun, cost_);
        short_window_.expire(i + std::min<std::size_t>(run, kMaxShortRun));
        const std::size_t j = short_window_.minimum();
        if (cost_[j] + kShortRunBits < best) best = cost_[j] + kShortRunBits, best_length = j - i;
      }
      if (run >= kMinLongRun) {
        long_window_.push(i + kMinLongRun, cost_);
        long_window_.expire(i + std::min<std::size_t>(run, kMaxRun));
        const std::size_t j = long_window_.minimum();
        if (cost_[j] + kLongRunBits < best) best = cost_[j] + kLongRunBits, best_length = j - i;
      }
      cost_[i] = best;
      choice_[i] = best_length;
    }
  }
  // The length of the item chosen at offset i of the block (1: a literal).
  std::uint32_t choice(std::size_t i) const { return choice_[i]; }

 private:
  // Minimum of cost over a window of ends that only slides towards lower ends: ends
  // enter at the low side and leave at the high side.
  class SlidingMinimum {
   public:
    void begin(std::size_t n) {
      ends_.resize(n + 1);
      clear();
    }
    void clear() { first_ = last_ = 0; }
    void push(std::size_t end, const std::vector<std::uint32_t>& cost) {
      while (last_ > first_ && cost[ends_[last_ - 1]] >= cost[end]) --last_;
      ends_[last_++] = static_cast<std::uint32_t>(end);
    }
    void expire(std::size_t highest) {
      while (ends_[first_] > highest) ++first_;
    }
    std::size_t minimum() const { return ends_[first_]; }

   private:
    std::vector<std::uint32_t> ends_;  // ends_[first_..last_): descending ends, ascending costs
    std::size_t first_ = 0, last_ = 0;
  };

  std::vector<std::uint32_t> cost_;    // bits from offset i to the block's end
  std::vector<std::uint32_t> choice_;  // the length of the item chosen at offset i
  SlidingMinimum short_window_, long_window_;
};

// Bytes (at most limit, which is 17 or the bytes left from b) in which data[a..] and
// data[b..] agree; a < b.
unsigned input_agreement(const std::uint8_t* data, std::size_t a, std::size_t b, unsigned limit) {
  unsigned i = 0;
  if (limit == kKeySize) {
    for (; i < 16; i += 8) {
      if (std::memcmp(data + a + i, data + b + i, 8) != 0) break;
    }
  }
  while (i < limit && data[a + i] == data[b + i]) ++i;
  return i;
}

void encode_best(StreamWriter& writer, const std::uint8_t* data, std::size_t size) {
  MatchFinder finder(data, size);
  // Per offset from `begin`: the longest match and its reference field.
  std::vector<std::uint8_t> lengths;
  std::vector<std::uint16_t> fields;
  OptimalParse parse;
  std::size_t begin = 0;
  while (begin < size) {
    const std::size_t end = std::min(size, begin + kParseBlock);
    while (finder.offset() < end) {
      const std::size_t k = finder.offset();
      const unsigned limit = static_cast<unsigned>(std::min<std::size_t>(kKeySize, size - k));
      // The tree's answer covers sources 1 to 4078 bytes back but the one at window
      // position 0; a reference may reach 4096 back. The missing sources are tried
      // here: at window position 0 (no tree answer) all of them, elsewhere the source
      // at position 0 and those 4079 to 4096 back.
      unsigned length = k == 0 ? 0 : finder.match_length();
      unsigned field = reference_field(finder.match_position());
      const auto consider = [&](std::size_t source) {
        const unsigned a = input_agreement(data, source, k, limit);
        if (a > length) length = a, field = static_cast<unsigned>(source - 16) & kWindowMask;
      };
      const std::size_t reach = std::min<std::size_t>(k, kWindowSize);
      const std::size_t to_position_zero = (k + 1) & kWindowMask;
      if (to_position_zero == 0) {
        for (std::size_t d = 1; d <= reach && length < limit; ++d) consider(k - d);
      } else {
        if (to_position_zero <= k && length < limit) consider(k - to_position_zero);
        for (std::size_t d = kWindowSize - kKeySize; d <= reach && length < limit; ++d) consider(k - d);
      }
      lengths.push_back(static_cast<std::uint8_t>(length));
      fields.push_back(static_cast<std::uint16_t>(field));
      finder.advance();
    }
    parse.solve(data, begin, end, lengths.data());
    // Commit items up to the last kMaxRun bytes unless this is the input's end.
    const std::size_t commit = end == size ? end : end - kMaxRun;
    std::size_t k = begin;
    while (k < commit) {
      const std::size_t length = parse.choice(k - begin);
      if (length == 1) {
        writer.literal(data[k]);
      } else if (length <= kKeySize) {
        writer.reference(fields[k - begin], static_cast<unsigned>(length));
      } else {
        writer.run(data[k], length);
      }
      k += length;
    }
    // The uncommitted tail comes first in the next block.
    lengths.erase(lengths.begin(), lengths.begin() + static_cast<std::ptrdiff_t>(k - begin));
    fields.erase(fields.begin(), fields.begin() + static_cast<std::ptrdiff_t>(k - begin));
    begin = k;
  }
}

}  // namespace

std::uint32_t encode_stream(ByteSink& sink, const std::uint8_t* data, std::int32_t size_in, EncodeLevel level) {
  // A negative count encodes nothing: the stream of an empty input.
  const std::size_t size = size_in > 0 ? static_cast<std::size_t>(size_in) : 0;
  StreamWriter writer(sink, static_cast<std::uint32_t>(size));
  if (size != 0) {
    switch (level) {
      case EncodeLevel::exact:
        encode_exact(writer, data, size);
        break;
      case EncodeLevel::fast:
        encode_fast(writer, data, size);
        break;
      case EncodeLevel::best:
        encode_best(writer, data, size);
        break;
    }
  }
  return writer.finish();
}
