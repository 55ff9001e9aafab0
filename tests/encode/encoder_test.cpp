#include "encode/encoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "tests/encode/codec_test_support.h"

namespace {

Bytes ascending(int count, int period) {
  Bytes b;
  for (int i = 0; i < count; ++i) b.push_back(static_cast<std::uint8_t>(i % period));
  return b;
}

struct Worked {
  const char* name;
  Bytes input;
  Bytes stream;
};

TEST(Encoder, WritesKnownStreams) {
  const Worked cases[] = {
      {"empty", {}, hex("45 6E 43 6F 64 65 00 00 00 00 0E 00 00 00")},
      {"abcabcabc", hex("61 62 63 61 62 63 61 62 63"),
       hex("45 6E 43 6F 64 65 09 00 00 00 14 00 00 00 07 61 62 63 F0 F3")},
      {"forty a", repeat('a', 40), hex("45 6E 43 6F 64 65 28 00 00 00 13 00 00 00 01 61 15 0F 61")},
      {"eighteen a: a reference, not a run", repeat('a', 18), stream_of(18, hex("01 61 F0 FE"))},
      {"nineteen a: the shortest run", repeat('a', 19), stream_of(19, hex("01 61 00 0F 61"))},
      {"five thousand a", repeat('a', 5000), stream_of(5000, hex("01 61 FF FF 61 75 03"))},
      {"two groups", ascending(20, 10), stream_of(20, hex("FF 00 01 02 03 04 05 06 07 03 08 09 F0 F7"))},
      {"longest run, then more", repeat('a', 70000), stream_of(70000, hex("01 61 FF FF 61 FF FF 4C 1F 61"))},
      {"eight items end the stream", ascending(8, 8), stream_of(8, hex("FF 00 01 02 03 04 05 06 07"))},
      // 4113 bytes have no run item: a short run of 4112 and a literal for the last byte.
      {"run of 4113", repeat('a', 4114), stream_of(4114, hex("05 61 FE FF 61 61"))},
      {"run of 4112", repeat('a', 4113), stream_of(4113, hex("01 61 FE FF 61"))},
      {"run of 4114", repeat('a', 4115), stream_of(4115, hex("01 61 FF FF 61 00 00"))},
      {"run of 69650", repeat('a', 69651), stream_of(69651, hex("05 61 FF FF 61 FF FF 61"))},
  };
  for (const Worked& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes stream = encode(c.input);
    EXPECT_EQ(to_hex(stream), to_hex(c.stream));
    const Decoded d = decode(stream);
    EXPECT_TRUE(d.result.ok());
    EXPECT_EQ(d.output, c.input);
  }
}

TEST(Encoder, LeavesTheSinkAtItsEnd) {
  // The stream starts where the sink stands; the patch goes into its own header.
  MemorySink sink;
  sink.write("prefix", 6);
  const Bytes input = repeat('z', 100);
  const std::uint32_t length = encode_stream(sink, input.data(), 100);
  EXPECT_EQ(sink.position(), 6 + length);
  EXPECT_EQ(sink.bytes().size(), 6 + length);
  const Bytes stream(sink.bytes().begin() + 6, sink.bytes().end());
  EXPECT_EQ(stream, encode(input));
  EXPECT_EQ(stream[10], length);
}

TEST(Encoder, NegativeSizeWritesTheEmptyStream) {
  MemorySink sink;
  const std::uint8_t byte = 1;
  EXPECT_EQ(encode_stream(sink, &byte, -5), 14u);
  EXPECT_EQ(to_hex(sink.bytes()), to_hex(hex("45 6E 43 6F 64 65 00 00 00 00 0E 00 00 00")));
}

// Inputs that exercise the tree: repeats with variations, signed byte order, windows
// that wrap several times.
std::vector<Bytes> varied_inputs() {
  std::vector<Bytes> inputs;
  std::mt19937 rng(7);
  auto random_bytes = [&](std::size_t n, int alphabet, int base) {
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(base + static_cast<int>(rng() % alphabet));
    return b;
  };
  inputs.push_back(random_bytes(20000, 4, 0x7E));  // straddles 0x7F/0x80: the signed order matters
  inputs.push_back(random_bytes(20000, 2, 0));
  inputs.push_back(random_bytes(9000, 256, 0));
  Bytes text;
  const char* words[] = {"alpha ", "beta ", "gamma ", "delta\n", "epsilon ", "\xB0\xDA ", "zeta-zeta "};
  while (text.size() < 30000) {
    const char* w = words[rng() % 7];
    text.insert(text.end(), w, w + std::strlen(w));
  }
  inputs.push_back(text);
  Bytes mixed;  // runs of every length near the run limits between short patterns
  for (int len : {17, 18, 19, 4111, 4112, 4113, 4114, 4115, 69649, 69650, 3, 2, 40}) {
    Bytes p = random_bytes(rng() % 40, 256, 0);
    mixed.insert(mixed.end(), p.begin(), p.end());
    mixed.insert(mixed.end(), static_cast<std::size_t>(len), static_cast<std::uint8_t>(rng()));
  }
  inputs.push_back(mixed);
  Bytes runs;  // runs up to twice the window between short text: a run's removals meet
               // text nodes, other runs' nodes and its own earlier positions
  for (int i = 0; i < 60; ++i) {
    const std::uint8_t values[] = {0x00, 0xFF, 0x7F, 0x80, static_cast<std::uint8_t>(rng())};
    const std::size_t len = rng() % 3 == 0 ? 1 + rng() % 9000 : 1 + rng() % 300;
    runs.insert(runs.end(), len, values[rng() % 5]);
    for (unsigned n = rng() % 50; n > 0; --n) runs.push_back(values[rng() % 5]);
  }
  inputs.push_back(runs);
  Bytes sparse_runs;  // runs more than a window apart: each creates its key's node anew
  for (int i = 0; i < 30; ++i) {
    Bytes p = random_bytes(4100 + rng() % 2000, 3, 0);
    sparse_runs.insert(sparse_runs.end(), p.begin(), p.end());
    sparse_runs.insert(sparse_runs.end(), 40 + rng() % 600, static_cast<std::uint8_t>(rng() % 3));
  }
  inputs.push_back(sparse_runs);
  for (int i = 0; i < 10; ++i) {  // a run inside the first window, then bytes like a DLL's
    Bytes dll = random_bytes(78, 256, 0);
    dll.insert(dll.end(), 1367, 0);
    while (dll.size() < 6000) {
      if (rng() % 10 < 3) {
        dll.insert(dll.end(), 1 + rng() % 11, 0);
      } else {
        dll.push_back(static_cast<std::uint8_t>(rng() % 2 ? rng() : rng() % 4));
      }
    }
    inputs.push_back(dll);
  }
  Bytes counter;  // big-endian 16-bit counter: ascending keys, a deep one-sided tree
  for (int i = 0; i < 12000; ++i)
    counter.insert(counter.end(), {static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)});
  inputs.push_back(counter);
  Bytes deep_run = counter;  // a long run met while searches go through the sorted list
  deep_run.insert(deep_run.end(), 20000, 0x00);
  deep_run.insert(deep_run.end(), counter.begin(), counter.begin() + 9000);
  inputs.push_back(deep_run);
  Bytes stairs;  // each byte value 16 times, ascending: keys ascend over the whole window
  for (int i = 0; i < 40000; ++i) stairs.push_back(static_cast<std::uint8_t>(i / 16));
  inputs.push_back(stairs);
  Bytes ramp;  // a slower ramp, then random bytes, then the ramp again
  for (int i = 0; i < 12000; ++i) ramp.push_back(static_cast<std::uint8_t>(i * 7 / 64));
  Bytes noise = random_bytes(9000, 256, 0);
  ramp.insert(ramp.end(), noise.begin(), noise.end());
  for (int i = 0; i < 12000; ++i) ramp.push_back(static_cast<std::uint8_t>(255 - i * 5 / 32));
  inputs.push_back(ramp);
  Bytes descending;
  for (int i = 12000; i > 0; --i)
    descending.insert(descending.end(), {static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)});
  inputs.push_back(descending);
  return inputs;
}

TEST(Encoder, MatchesThePlainEncoder) {
  int index = 0;
  for (const Bytes& input : varied_inputs()) {
    SCOPED_TRACE(index++);
    const Bytes stream = encode(input);
    ASSERT_EQ(stream, model_encode(input));
    const Decoded d = decode(stream);
    ASSERT_TRUE(d.result.ok()) << decode_status_text(d.result.status) << " at " << d.result.offset;
    ASSERT_EQ(d.output, input);
  }
}

TEST(Encoder, ItemRules) {
  int position_zero_items = 0;
  for (const Bytes& input : varied_inputs()) {
    const Bytes stream = encode(input);
    const std::vector<Item> items = list_items(stream);
    ASSERT_FALSE(items.empty());
    EXPECT_EQ(items.front().kind, Item::literal);
    for (const Item& item : items) {
      // An item starting at window position 0 cannot have a match.
      if (item.output_offset % 4096 == 4095) {
        EXPECT_EQ(item.kind, Item::literal) << item.output_offset;
        ++position_zero_items;
      }
      if (item.kind == Item::reference) {
        EXPECT_LE(item.distance, 4079u) << item.output_offset;
        EXPECT_LE(item.distance, item.output_offset);
      }
    }
    const Item& last = items.back();
    EXPECT_EQ(last.output_offset + last.length, input.size());
  }
  EXPECT_GT(position_zero_items, 0);
}

}  // namespace
