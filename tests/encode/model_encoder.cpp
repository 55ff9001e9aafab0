#include "tests/encode/model_encoder.h"

#include <algorithm>
#include <memory>

namespace {

// Direct rendering of the encoder's rules: window positions one above decoder slots,
// a match tree over 17-byte keys of signed bytes, nearest-the-root wins.
struct Model {
  std::uint8_t window[4096] = {};
  int parent[4097] = {}, left[4097] = {}, right[4097] = {};
  int match_length = 0, match_position = 0;

  int key_byte(int p, int i) const { return static_cast<std::int8_t>(window[(p + i) % 4096]); }

  void relink(int p, int r) {
    int up = parent[p];
    if (left[up] == p) left[up] = r;
    if (right[up] == p) right[up] = r;
    if (r) parent[r] = up;
    parent[p] = 0;
  }

  void remove(int p) {
    if (p == 0 || parent[p] == 0) return;
    if (right[p] == 0) {
      relink(p, left[p]);
    } else if (left[p] == 0) {
      relink(p, right[p]);
    } else {
      int q = left[p];
      while (right[q]) q = right[q];
      relink(q, left[q]);
      left[q] = left[p];
      right[q] = right[p];
      if (left[q]) parent[left[q]] = q;
      if (right[q]) parent[right[q]] = q;
      relink(p, q);
    }
  }

  void insert(int s) {
    if (s == 0) {
      match_length = 0;
      return;
    }
    int best = 0, p = right[4096];
    for (;;) {
      int i = 0;
      while (i < 17 && key_byte(s, i) == key_byte(p, i)) ++i;
      if (i > best) {
        best = i;
        match_position = p;
      }
      if (i == 17) {
        left[s] = left[p];
        right[s] = right[p];
        if (left[s]) parent[left[s]] = s;
        if (right[s]) parent[right[s]] = s;
        relink(p, s);
        match_length = 17;
        return;
      }
      int& link = key_byte(s, i) > key_byte(p, i) ? right[p] : left[p];
      if (link == 0) {
        link = s;
        parent[s] = p;
        left[s] = right[s] = 0;
        match_length = best;
        return;
      }
      p = link;
    }
  }
};

void put_u32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

std::vector<std::uint8_t> model_encode(const std::vector<std::uint8_t>& in) {
  using Bytes = std::vector<std::uint8_t>;
  auto m = std::make_unique<Model>();
  Bytes out = {'E', 'n', 'C', 'o', 'd', 'e', 0, 0, 0, 0, 0, 0, 0, 0};
  put_u32(out, 6, static_cast<std::uint32_t>(in.size()));
  const std::size_t size = in.size();
  std::size_t lookahead = std::min<std::size_t>(size, 17);
  for (std::size_t i = 0; i < lookahead; ++i) m->window[i + 1] = in[i];
  m->right[4096] = 1;
  m->parent[1] = 4096;
  int s = 1;
  std::size_t k = 0;
  Bytes group{0};
  int mask = 1;
  while (lookahead > 0) {
    if (static_cast<std::size_t>(m->match_length) > lookahead) m->match_length = static_cast<int>(lookahead);
    const std::size_t ml = m->match_length;
    std::size_t consumed;
    if (ml <= 2) {
      group[0] |= mask;
      group.push_back(in[k]);
      consumed = 1;
    } else {
      std::size_t r = 0;
      while (k + r < size && r < 69649 && in[k + r] == in[k - 1]) ++r;
      if (r > ml && r > 17) {
        if (r == 4113) r = 4112;
        if (r <= 4112) {
          group.push_back(static_cast<std::uint8_t>((r - 18) & 0xFF));
          group.push_back(static_cast<std::uint8_t>((((r - 18) >> 8) << 4) | 0x0F));
          group.push_back(in[k]);
        } else {
          group.insert(group.end(), {0xFF, 0xFF, in[k], static_cast<std::uint8_t>((r - 4114) & 0xFF),
                                     static_cast<std::uint8_t>((r - 4114) >> 8)});
        }
        consumed = r;
      } else {
        const int f = (m->match_position - 17 + 4096) % 4096;
        group.push_back(static_cast<std::uint8_t>(f & 0xFF));
        group.push_back(static_cast<std::uint8_t>(((f >> 8) << 4) | static_cast<int>(ml - 3)));
        consumed = ml;
      }
    }
    mask <<= 1;
    if (mask == 0x100) {
      out.insert(out.end(), group.begin(), group.end());
      group = {0};
      mask = 1;
    }
    for (std::size_t i = 0; i < consumed; ++i) {
      const int t = (s + 17) % 4096;
      m->remove(t);
      if (k + 17 < size) {
        m->window[t] = in[k + 17];
      } else {
        --lookahead;
      }
      s = (s + 1) % 4096;
      ++k;
      if (lookahead > 0) m->insert(s);
    }
  }
  if (mask != 1) out.insert(out.end(), group.begin(), group.end());
  put_u32(out, 10, static_cast<std::uint32_t>(out.size()));
  return out;
}
