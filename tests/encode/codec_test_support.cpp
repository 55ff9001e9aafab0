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
