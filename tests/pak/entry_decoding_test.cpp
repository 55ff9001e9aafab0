// Pack entries decoded into a sink, next to the whole-buffer decoding, and the pack
// check on entries whose decoded sizes are far larger than anything worth holding.

#include "pak/entry_decoding.h"

#include <gtest/gtest.h>

#include <string>

#include "encode/stream_decoder.h"
#include "pak/pack_checks.h"
#include "tests/pak/pack_builder.h"

namespace {

using pak_test::Bytes;
using pak_test::bytes_of;
using pak_test::PackBuilder;

class KeepingSink final : public DecodedSink {
 public:
  explicit KeepingSink(bool refuse = false) : refuse_(refuse) {}
  bool write(const std::uint8_t* data, std::size_t size) override {
    if (refuse_) return false;
    bytes.insert(bytes.end(), data, data + size);
    return true;
  }
  Bytes bytes;

 private:
  bool refuse_;
};

// n long runs of 69,649 bytes of value, as stream groups.
Bytes long_run_groups(int n, std::uint8_t value) {
  Bytes groups;
  for (int i = 0; i < n; ++i) {
    if (i % 8 == 0) groups.push_back(0x00);
    // One push at a time: MinGW's g++ 12 at -O3 takes the list insert for an overflow.
    for (std::uint8_t byte : {0xFF, 0xFF, int(value), 0xFF, 0xFF}) groups.push_back(byte);
  }
  return groups;
}

// 360,000 stream bytes of literals claiming 4 GiB - 1 decoded bytes: plausible for its
// length, and 320,000 bytes short.
Bytes claims_four_gigabytes() {
  Bytes stream = pak_test::literal_stream(Bytes(320000, 'x'));
  store_u32(stream.data() + 6, 0xFFFFFFFF);
  return stream;
}

TEST(EntryDecoding, StreamedLikeDecodedIntoABuffer) {
  const Bytes abc = pak_test::stream_of(9, {0x07, 'a', 'b', 'c', 0xF0, 0xF3});
  auto changed = [&](std::size_t at, std::uint8_t value) {
    Bytes b = abc;
    b[at] = value;
    return b;
  };
  Bytes truncated = abc;
  truncated.pop_back();
  const struct {
    const char* name;
    Bytes entry;
  } cases[] = {
      {"sound", abc},
      {"other bytes 4 and 5", changed(5, 'X')},
      {"literals", pak_test::literal_stream(bytes_of("literal bytes!"))},
      {"empty stream", pak_test::stream_of(0, {})},
      {"long runs", pak_test::stream_of(3 * 69649, long_run_groups(3, 'r'))},
      {"not a stream", bytes_of("raw bytes, not EnCode")},
      {"decoded size off by one", changed(6, 10)},
      {"truncated", truncated},
      {"unwritten slot", changed(18, 0x10)},
      {"implausible decoded size", changed(9, 0xF0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const pak::DecodedEntry whole = pak::decode_entry_checked(c.entry);
    KeepingSink sink;
    const pak::StreamedEntry streamed = pak::decode_entry_to(c.entry, sink);
    EXPECT_EQ(streamed.ok, whole.ok);
    EXPECT_EQ(streamed.problem, whole.problem);
    EXPECT_FALSE(streamed.sink_refused);
    if (whole.ok) {
      EXPECT_EQ(streamed.decoded_size, whole.bytes.size());
      EXPECT_TRUE(sink.bytes == whole.bytes);
    }
    const pak::StreamedEntry checked = pak::check_entry_stream(c.entry);
    EXPECT_EQ(checked.ok, whole.ok);
    EXPECT_EQ(checked.problem, whole.problem);
  }
}

TEST(EntryDecoding, ClaimOfFourGigabytesFailsAtTheEndOfItsItems) {
  const Bytes entry = claims_four_gigabytes();
  KeepingSink sink;
  const pak::StreamedEntry r = pak::decode_entry_to(entry, sink);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.problem, std::string(decode_status_text(DecodeStatus::output_short)) + " at stream offset " +
                           std::to_string(entry.size()));
  EXPECT_EQ(sink.bytes.size(), 320000u);
}

TEST(EntryDecoding, RefusingSinkStopsTheDecode) {
  KeepingSink refusing(true);
  const pak::StreamedEntry r = pak::decode_entry_to(pak_test::literal_stream(bytes_of("abc")), refusing);
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.sink_refused);
  EXPECT_EQ(r.problem, std::string(decode_status_text(DecodeStatus::sink_refused)) + " at stream offset 18");
}

TEST(PackCheck, DecodesHugeEntriesWithoutHoldingThem) {
  // 1,500 long runs: 104 MB decoded from 7.5 KB; beside it a stream claiming 4 GiB.
  constexpr std::uint32_t kRunsSize = 1500u * 69649;
  const Bytes pack = PackBuilder::build({{"runs.bin", pak_test::stream_of(kRunsSize, long_run_groups(1500, 0))},
                                         {"claims.bin", claims_four_gigabytes()}});
  std::vector<std::string> problems;
  const pak::PackCheckSummary summary = pak::check_pack(
      pack.data(), pack.size(), [&](const pak::WalkProblem& p) { problems.push_back(p.path + ": " + p.text); });
  EXPECT_EQ(summary.encoded, 2u);
  EXPECT_EQ(summary.decoded_bytes, kRunsSize);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0], "claims.bin: EnCode stream: " + std::string(decode_status_text(DecodeStatus::output_short)) +
                             " at stream offset " + std::to_string(claims_four_gigabytes().size()));
}

}  // namespace
