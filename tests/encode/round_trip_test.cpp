#include <gtest/gtest.h>

#include <random>

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

}  // namespace
