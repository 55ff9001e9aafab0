#include "tests/encode/codec_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "encode/encoder.h"

Bytes hex(const std::string& text) {
  Bytes bytes;
  int pending = -1;
  for (char c : text) {
    int v;
    if (c >= '0' && c <= '9') {
      v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      v = c - 'A' + 10;
    } else {
      continue;
    }
    if (pending < 0) {
      pending = v;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(pending << 4 | v));
      pending = -1;
    }
  }
  return bytes;
}

std::string to_hex(const Bytes& bytes) {
  std::string text;
  char buf[4];
  for (std::uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, "%02X ", b);
    text += buf;
  }
  return text;
}

Bytes repeat(std::uint8_t value, std::size_t count) { return Bytes(count, value); }

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

static void put_u32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

Bytes stream_of(std::uint32_t decoded_size, const Bytes& items) {
  Bytes s = concat({hex("45 6E 43 6F 64 65 00000000 00000000"), items});
  put_u32(s, 6, decoded_size);
  put_u32(s, 10, static_cast<std::uint32_t>(s.size()));
  return s;
}

Bytes encode(const Bytes& input) {
  MemorySink sink;
  const std::uint32_t length = encode_stream(sink, input.data(), static_cast<std::int32_t>(input.size()));
  EXPECT_FALSE(sink.failed());
  EXPECT_EQ(length, sink.bytes().size());
  EXPECT_EQ(sink.position(), sink.bytes().size());
  return sink.take();
}

Decoded decode(const Bytes& stream, std::size_t available, std::size_t destination_size) {
  if (available == SIZE_MAX) available = stream.size();
  if (destination_size == SIZE_MAX) {
    StreamHeader header;
    read_stream_header(stream.data(), available, header);
    destination_size = header.decoded_size;
  }
  // Exact-size heap copies, so that the sanitizers see any access past either end.
  auto in = std::make_unique<std::uint8_t[]>(available);
  std::copy_n(stream.begin(), available, in.get());
  auto out = std::make_unique<std::uint8_t[]>(destination_size);
  Decoded d;
  d.result = decode_stream(out.get(), destination_size, in.get(), available);
  d.output.assign(out.get(), out.get() + d.result.produced);
  return d;
}

std::vector<Item> list_items(const Bytes& s) {
  std::vector<Item> items;
  const std::size_t end = s[10] | s[11] << 8 | s[12] << 16 | static_cast<std::size_t>(s[13]) << 24;
  std::size_t pos = 14, out = 0;
  while (pos < end) {
    unsigned flags = s[pos++];
    for (int j = 0; j < 8 && pos < end; ++j, flags >>= 1) {
      if (flags & 1) {
        items.push_back({Item::literal, out, 1, 0});
        pos += 1;
        out += 1;
        continue;
      }
      const unsigned b0 = s[pos], b1 = s[pos + 1], f = b0 | (b1 & 0xF0) << 4;
      Item item{};
      item.output_offset = out;
      if ((b1 & 0x0F) != 15) {
        item = {Item::reference, out, (b1 & 0x0FU) + 3, ((out - (f + 16)) & 0xFFF) ? ((out - (f + 16)) & 0xFFF) : 4096};
        pos += 2;
      } else if (b0 == 0xFF && b1 == 0xFF) {
        item = {Item::long_run, out, s[pos + 3] + 256U * s[pos + 4] + 4114, 0};
        pos += 5;
      } else {
        item = {Item::short_run, out, f + 18, 0};
        pos += 3;
      }
      items.push_back(item);
      out += item.length;
    }
  }
  return items;
}

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

}  // namespace

Bytes model_encode(const Bytes& in) {
  auto m = std::make_unique<Model>();
  Bytes out = hex("45 6E 43 6F 64 65 00000000 00000000");
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
