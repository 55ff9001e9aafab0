#include <gtest/gtest.h>

#include <random>

#include "encode/encoder.h"
#include "tests/encode/codec_test_support.h"

namespace {

// Random data broken by runs of one length: each run length around the limits of the
// reference, short run and long run items, entered after random and after equal bytes.
TEST(RoundTrip, RunsAroundItemLimits) {
  std::mt19937 rng(11);
  for (std::size_t run : {16, 17, 18, 19, 4111, 4112, 4113, 4114, 4115, 69648, 69649, 69650, 69651, 139298, 139299}) {
    SCOPED_TRACE(run);
    Bytes input;
    for (int part = 0; part < 3; ++part) {
      for (int i = 0; i < 50; ++i) input.push_back(static_cast<std::uint8_t>(rng()));
      const std::uint8_t value = part == 1 ? input.back() : static_cast<std::uint8_t>(rng());
      input.insert(input.end(), run, value);
    }
    const Bytes stream = encode(input);
    const Decoded d = decode(stream);
    ASSERT_TRUE(d.result.ok()) << decode_status_text(d.result.status) << " at " << d.result.offset;
    ASSERT_EQ(d.output, input);
  }
}

TEST(RoundTrip, RandomSizesAndAlphabets) {
  std::mt19937 rng(5);
  for (int round = 0; round < 60; ++round) {
    const std::size_t size = rng() % (round < 30 ? 64 : 20000);
    const unsigned alphabet = 1 + rng() % 5 * (round % 3 == 0 ? 60 : 1);
    Bytes input(size);
    for (auto& b : input) b = static_cast<std::uint8_t>(rng() % alphabet);
    const Decoded d = decode(encode(input));
    ASSERT_TRUE(d.result.ok()) << round;
    ASSERT_EQ(d.output, input) << round;
  }
}

Bytes encode_at(const Bytes& input, EncodeLevel level) {
  MemorySink sink;
  encode_stream(sink, input.data(), static_cast<std::int32_t>(input.size()), level);
  return sink.take();
}

// The fast and best levels on inputs that reach their limits: references 4096 bytes
// back (a period of 4096), runs at the item limits and past the longest run, position
// 0 of the window, matches cut at the input's end and at the best level's blocks,
// positions seen again after 65,536 bytes.
TEST(RoundTrip, EveryLevel) {
  std::mt19937 rng(3);
  std::vector<std::pair<const char*, Bytes>> inputs;
  Bytes period;
  for (int i = 0; i < 3 * 4096 + 100; ++i) period.push_back(static_cast<std::uint8_t>(i / 16));
  inputs.emplace_back("period of 4096", period);
  Bytes runs;
  for (std::size_t run : {1, 17, 18, 4112, 4113, 4114, 69649, 69650, 150000}) {
    for (int i = 0; i < 20; ++i) runs.push_back(static_cast<std::uint8_t>(rng()));
    runs.insert(runs.end(), run, static_cast<std::uint8_t>(rng() % 2));
  }
  inputs.emplace_back("runs", runs);
  Bytes text;  // crosses the best level's blocks of 512 KiB
  while (text.size() < 1300000) text.push_back(static_cast<std::uint8_t>("abcab abd\n"[rng() % 10]));
  inputs.emplace_back("text", text);
  Bytes noise(30000);
  for (auto& b : noise) b = static_cast<std::uint8_t>(rng());
  inputs.emplace_back("noise", noise);
  // A block seen again 65,636 bytes later, with only a run between: the fast level's
  // table still holds the first copy's positions, kept modulo 65,536, so they look 100
  // bytes back, where the run's bytes lie.
  Bytes far(200);
  for (auto& b : far) b = static_cast<std::uint8_t>(1 + rng() % 255);
  far.resize(65636);
  far.insert(far.end(), far.begin(), far.begin() + 200);
  inputs.emplace_back("block again 65,636 bytes on", far);
  inputs.emplace_back("one byte", Bytes{7});
  inputs.emplace_back("empty", Bytes{});
  for (const auto& [name, input] : inputs) {
    const std::size_t exact_size = encode(input).size();
    for (EncodeLevel level : {EncodeLevel::fast, EncodeLevel::best}) {
      SCOPED_TRACE(std::string(name) + (level == EncodeLevel::fast ? " fast" : " best"));
      const Bytes stream = encode_at(input, level);
      const Decoded d = decode(stream);
      ASSERT_TRUE(d.result.ok()) << decode_status_text(d.result.status) << " at " << d.result.offset;
      ASSERT_EQ(d.output, input);
      // The best level's items cost no more bits than the exact level's; the last
      // flag byte may round that up by one byte.
      if (level == EncodeLevel::best) {
        EXPECT_LE(stream.size(), exact_size + 1);
      }
    }
  }
}

}  // namespace
