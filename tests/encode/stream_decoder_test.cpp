// The streaming decoder against the whole-buffer one: same result for every stream,
// the same bytes for sound streams, bounded chunks whatever the decoded size.

#include "encode/stream_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>

#include "encode/decoder.h"
#include "tests/encode/codec_test_support.h"

namespace {

TEST(StreamDecoder, WindowStartsEmptyForEveryStream) {
  // A reference that a previous stream's window would satisfy.
  StreamDecoder decoder;
  Bytes first;
  for (int i = 0; i < 5000; ++i) first.push_back(static_cast<std::uint8_t>(i * 13));
  ASSERT_TRUE(stream_decode(encode(first), SIZE_MAX, &decoder).result.ok());
  const Decoded s = stream_decode(stream_of(20, hex("01 61 00 F0")), SIZE_MAX, &decoder);
  EXPECT_EQ(s.result.status, DecodeStatus::unwritten_slot);
  EXPECT_EQ(s.result.offset, 16u);
}

// Inputs whose streams exercise every item kind, across many chunks.
std::vector<std::pair<const char*, Bytes>> sound_inputs() {
  std::mt19937 rng(17);
  std::vector<std::pair<const char*, Bytes>> inputs;
  Bytes text;
  const char* words[] = {"update ", "pack ", "entry ", "stream ", "window ", "\r\n", "name=", "0x1F "};
  while (text.size() < 300000) {
    const char* w = words[rng() % 8];
    text.insert(text.end(), w, w + std::strlen(w));
  }
  inputs.emplace_back("words, references of every length and distance", text);
  Bytes random(200000);
  for (auto& b : random) b = static_cast<std::uint8_t>(rng());
  inputs.emplace_back("random bytes, literal groups", random);
  Bytes runs;
  while (runs.size() < 1000000) runs.insert(runs.end(), 1 + rng() % 150000, static_cast<std::uint8_t>(rng() % 3));
  inputs.emplace_back("runs of up to 150,000 bytes", runs);
  Bytes patterns;
  while (patterns.size() < 250000) {
    const std::size_t period = 1 + rng() % 9;
    Bytes unit(period);
    for (auto& b : unit) b = static_cast<std::uint8_t>(rng());
    for (std::size_t n = 1 + rng() % 200; n > 0; --n) patterns.insert(patterns.end(), unit.begin(), unit.end());
  }
  inputs.emplace_back("short periods, overlapping references", patterns);
  Bytes mixed;
  while (mixed.size() < 400000) {
    switch (rng() % 3) {
      case 0:
        for (int i = 0; i < 5000; ++i) mixed.push_back(static_cast<std::uint8_t>(rng()));
        break;
      case 1:
        mixed.insert(mixed.end(), rng() % 70000, static_cast<std::uint8_t>(rng()));
        break;
      default: {
        const std::size_t back = 1 + rng() % std::min<std::size_t>(mixed.size() + 1, 4000);
        for (int i = 0; i < 3000 && back <= mixed.size(); ++i) mixed.push_back(mixed[mixed.size() - back]);
      }
    }
  }
  inputs.emplace_back("random stretches, runs and far copies", mixed);
  return inputs;
}

TEST(StreamDecoder, DecodesEncoderOutputLikeDecodeStream) {
  for (const auto& [name, input] : sound_inputs()) {
    SCOPED_TRACE(name);
    const Bytes stream = encode(input);
    const Decoded s = stream_decode(stream);
    ASSERT_TRUE(s.result.ok()) << decode_status_text(s.result.status) << " at " << s.result.offset;
    EXPECT_EQ(s.result.produced, input.size());
    EXPECT_EQ(s.result.offset, stream.size());
    EXPECT_TRUE(s.output == input);
  }
}

TEST(StreamDecoder, AgreesWithDecodeStreamOnDamagedStreams) {
  // Cuts, byte changes and size changes of a stream that spans several chunks.
  Bytes input;
  std::mt19937 rng(23);
  while (input.size() < 150000) {
    if (rng() % 2) {
      input.insert(input.end(), rng() % 9000, static_cast<std::uint8_t>(rng()));
    } else {
      for (int i = 0; i < 700; ++i) input.push_back(static_cast<std::uint8_t>('a' + rng() % 4));
    }
  }
  const Bytes stream = encode(input);
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    Bytes damaged = stream;
    std::size_t available = SIZE_MAX;
    switch (round % 4) {
      case 0:
        available = 14 + rng() % (damaged.size() - 14);
        break;
      case 1:
        for (int i = 0; i < 3; ++i) damaged[14 + rng() % (damaged.size() - 14)] = static_cast<std::uint8_t>(rng());
        break;
      case 2:
        damaged[6 + rng() % 3] ^= static_cast<std::uint8_t>(1 + rng() % 255);
        break;
      default:
        damaged.resize(14 + rng() % (damaged.size() - 14));
        for (int i = 0; i < 4; ++i) damaged[10 + i] = static_cast<std::uint8_t>(damaged.size() >> (8 * i));
    }
    expect_decoders_agree(damaged, available);
  }
}

// Checks a decoded stream piece by piece without keeping it: each byte must equal
// expected(offset).
template <typename Expected>
class CheckingSink final : public DecodedSink {
 public:
  explicit CheckingSink(Expected expected) : expected_(expected) {}
  bool write(const std::uint8_t* data, std::size_t size) override {
    largest_write = std::max(largest_write, size);
    for (std::size_t i = 0; i < size; ++i, ++count) {
      if (data[i] != expected_(count) && mismatches++ == 0) first_mismatch = count;
    }
    return true;
  }
  std::uint64_t count = 0;
  std::uint64_t mismatches = 0;
  std::uint64_t first_mismatch = 0;
  std::size_t largest_write = 0;

 private:
  Expected expected_;
};

TEST(StreamDecoder, DecodesHundredMegabytesOfRunsInChunks) {
  // 1,500 long runs (104 MB), then a literal and a reference 4096 bytes back into the
  // last run: the window must still hold it after all the chunks.
  constexpr int kRuns = 1500;
  constexpr std::uint64_t kRunBytes = std::uint64_t{kRuns} * 69649;
  ItemWriter writer;
  for (int i = 0; i < kRuns; ++i) writer.long_run(static_cast<std::uint8_t>(i % 251), 0xFFFF);
  writer.literal(0xEE);
  writer.reference(kRunBytes + 1, 4096, 17);
  const std::uint32_t decoded_size = static_cast<std::uint32_t>(kRunBytes + 18);
  const Bytes stream = stream_of(decoded_size, writer.items());
  auto expected = [](std::uint64_t at) -> std::uint8_t {
    if (at < kRunBytes) return static_cast<std::uint8_t>(at / 69649 % 251);
    if (at == kRunBytes) return 0xEE;
    return static_cast<std::uint8_t>((kRuns - 1) % 251);
  };
  CheckingSink sink(expected);
  const DecodeResult r = decode_stream_to(sink, stream.data(), stream.size());
  ASSERT_EQ(r.status, DecodeStatus::ok) << decode_status_text(r.status);
  EXPECT_EQ(r.produced, decoded_size);
  EXPECT_EQ(sink.count, decoded_size);
  EXPECT_EQ(sink.mismatches, 0u) << "first at " << sink.first_mismatch;
  EXPECT_LE(sink.largest_write, StreamDecoder::kChunkSize);
}

TEST(StreamDecoder, HugeClaimedSizeFailsAtTheEndOfTheItems) {
  // 360,000 stream bytes of literals claiming 4 GiB - 1 (a size that many bytes could
  // produce): the items decode, then the stream is short, with nothing set aside for
  // the claim.
  Bytes items;
  for (int g = 0; g < 40000; ++g) {
    items.push_back(0xFF);
    for (int i = 0; i < 8; ++i) items.push_back(static_cast<std::uint8_t>(g + i));
  }
  const Bytes stream = stream_of(0xFFFFFFFF, items);
  CountingSink sink;
  const DecodeResult r = decode_stream_to(sink, stream.data(), stream.size());
  EXPECT_EQ(r.status, DecodeStatus::output_short);
  EXPECT_EQ(r.offset, stream.size());
  EXPECT_EQ(r.produced, 320000u);
  EXPECT_EQ(sink.count(), r.produced);
}

TEST(StreamDecoder, StopsWhenTheSinkRefuses) {
  const Bytes input = [] {
    Bytes b;
    std::mt19937 rng(3);
    while (b.size() < 300000) b.insert(b.end(), 1 + rng() % 100, static_cast<std::uint8_t>(rng() % 4));
    return b;
  }();
  const Bytes stream = encode(input);
  for (std::size_t refuse_at : {0, 1, 4}) {  // 4: the last write, after the items
    SCOPED_TRACE(refuse_at);
    RecordingSink sink(refuse_at);
    const DecodeResult r = decode_stream_to(sink, stream.data(), stream.size());
    EXPECT_EQ(r.status, DecodeStatus::sink_refused);
    EXPECT_EQ(r.produced, sink.bytes.size());
    EXPECT_TRUE(std::equal(sink.bytes.begin(), sink.bytes.end(), input.begin()));
    EXPECT_GT(r.offset, 14u);
    EXPECT_LE(r.offset, stream.size());
  }
  // The last, short write refused: a small stream has only that one.
  RecordingSink sink(0);
  const Bytes small = encode(hex("61 62 63 61 62 63"));
  const DecodeResult r = decode_stream_to(sink, small.data(), small.size());
  EXPECT_EQ(r.status, DecodeStatus::sink_refused);
  EXPECT_EQ(r.produced, 0u);
  EXPECT_EQ(r.offset, small.size());
}

}  // namespace
