#include "encode/decoder.h"

#include <gtest/gtest.h>

#include "tests/encode/codec_test_support.h"

namespace {

// Streams with known content; each must decode exactly, reading no byte past the end.
struct WellFormed {
  const char* name;
  Bytes stream;
  Bytes output;
};

std::vector<WellFormed> well_formed() {
  const Bytes abc = hex("61 62 63");
  return {
      {"empty", hex("45 6E 43 6F 64 65 00 00 00 00 0E 00 00 00"), {}},
      {"abcabcabc", hex("45 6E 43 6F 64 65 09 00 00 00 14 00 00 00 07 61 62 63 F0 F3"), concat({abc, abc, abc})},
      {"forty a", hex("45 6E 43 6F 64 65 28 00 00 00 13 00 00 00 01 61 15 0F 61"), repeat('a', 40)},
      {"reference overlapping its output", stream_of(18, hex("01 61 F0 FE")), repeat('a', 18)},
      {"shortest short run", stream_of(19, hex("01 61 00 0F 61")), repeat('a', 19)},
      {"long run", stream_of(5000, hex("01 61 FF FF 61 75 03")), repeat('a', 5000)},
      {"longest short run", stream_of(4113, hex("01 61 FE FF 62")), concat({hex("61"), repeat('b', 4112)})},
      {"shortest long run", stream_of(4115, hex("01 61 FF FF 62 00 00")), concat({hex("61"), repeat('b', 4114)})},
      {"longest long run", stream_of(69650, hex("01 61 FF FF 62 FF FF")), concat({hex("61"), repeat('b', 69649)})},
      {"two-byte pattern", stream_of(10, hex("03 61 62 F0 F5")), hex("61 62 61 62 61 62 61 62 61 62")},
      {"full group ends the stream", stream_of(8, hex("FF 30 31 32 33 34 35 36 37")), hex("30 31 32 33 34 35 36 37")},
      {"flag bits past the last item are ignored", stream_of(2, hex("FF 30 31")), hex("30 31")},
      {"second group", stream_of(20, hex("FF 00 01 02 03 04 05 06 07 03 08 09 F0 F7")),
       hex("00 01 02 03 04 05 06 07 08 09 00 01 02 03 04 05 06 07 08 09")},
      // The literal sits 36 bytes into its group and four bytes before the stream's end.
      {"literal after seven long runs",
       stream_of(7 * 4114 + 19, concat({hex("80"),
                                        [] {
                                          Bytes runs;
                                          for (int i = 0; i < 7; ++i) runs.insert(runs.end(), {0xFF, 0xFF, 0x62, 0, 0});
                                          return runs;
                                        }(),
                                        hex("63 00 00 0F 64")})),
       concat({repeat('b', 7 * 4114), hex("63"), repeat('d', 18)})},
      // Nine full groups of eight literals take the bulk path, the tenth the careful one.
      {"bulk literals",
       stream_of(80,
                 [] {
                   Bytes items;
                   for (int g = 0; g < 10; ++g) {
                     items.push_back(0xFF);
                     for (int i = 0; i < 8; ++i) items.push_back(static_cast<std::uint8_t>(g * 8 + i));
                   }
                   return items;
                 }()),
       [] {
         Bytes out;
         for (int i = 0; i < 80; ++i) out.push_back(static_cast<std::uint8_t>(i));
         return out;
       }()},
  };
}

TEST(Decoder, DecodesWellFormedStreams) {
  for (const WellFormed& c : well_formed()) {
    SCOPED_TRACE(c.name);
    const Decoded d = decode(c.stream);
    EXPECT_EQ(d.result.status, DecodeStatus::ok) << decode_status_text(d.result.status) << " at " << d.result.offset;
    EXPECT_EQ(d.result.produced, c.output.size());
    EXPECT_EQ(d.output, c.output);
  }
}

TEST(Decoder, ReferenceReachesBackAFullWindow) {
  // 4096 literals, then a reference whose slot is the current one: the byte 4096 back.
  Bytes items, output;
  for (int i = 0; i < 4096; ++i) {
    if (i % 8 == 0) items.push_back(0xFF);
    items.push_back(static_cast<std::uint8_t>(i * 7));
    output.push_back(static_cast<std::uint8_t>(i * 7));
  }
  items.insert(items.end(), {0x00, 0xF0, 0x0E});  // slot (0xFF0 + 16) mod 4096 = 0, 17 bytes
  for (int i = 0; i < 17; ++i) output.push_back(output[i]);
  const Decoded d = decode(stream_of(static_cast<std::uint32_t>(output.size()), items));
  ASSERT_EQ(d.result.status, DecodeStatus::ok);
  EXPECT_EQ(d.output, output);
}

TEST(Decoder, ShortPeriodReferences) {
  // d literals, then 17 bytes from d back, then a run so that the copy has room to
  // spare: the pattern path for periods under eight, and its neighbours.
  for (int d = 1; d <= 9; ++d) {
    SCOPED_TRACE(d);
    ItemWriter writer;
    Bytes output;
    for (int i = 0; i < d; ++i) {
      writer.literal(static_cast<std::uint8_t>(0x30 + i));
      output.push_back(static_cast<std::uint8_t>(0x30 + i));
    }
    const unsigned f = (0u - 16u) & 0xFFF;  // slot 0, which is d bytes back
    writer.item({static_cast<std::uint8_t>(f), static_cast<std::uint8_t>((f >> 8) << 4 | 14)});
    for (int i = 0; i < 17; ++i) output.push_back(output[output.size() - d]);
    writer.item({0x00, 0x0F, 0x7A});
    output.insert(output.end(), 18, 0x7A);
    const Decoded decoded = decode(stream_of(static_cast<std::uint32_t>(output.size()), writer.items()));
    ASSERT_EQ(decoded.result.status, DecodeStatus::ok);
    EXPECT_EQ(decoded.output, output);
  }
}

TEST(Decoder, RefusesADestinationBelowTheDecodedSize) {
  const Bytes stream = stream_of(3, hex("07 61 62 63"));
  const Decoded d = decode(stream, stream.size(), 2);
  EXPECT_EQ(d.result.status, DecodeStatus::destination_too_small);
  EXPECT_EQ(d.result.offset, 6u);
  EXPECT_EQ(d.result.produced, 0u);
}

TEST(Decoder, NeverWritesPastDecodedSize) {
  // A destination larger than decoded_size keeps its bytes past it, also when the
  // stream would overflow.
  const Bytes stream = stream_of(3, hex("01 61 F0 FE"));
  Bytes destination(64, 0xEE);
  const DecodeResult r = decode_stream(destination.data(), destination.size(), stream.data(), stream.size());
  EXPECT_EQ(r.status, DecodeStatus::output_overflow);
  for (std::size_t i = 3; i < destination.size(); ++i) ASSERT_EQ(destination[i], 0xEE) << i;
}

TEST(Decoder, EmptyDestinationWithoutStorage) {
  // An entry of no bytes may be decoded into a null destination (an empty vector's
  // data()); a stream that nevertheless carries literals overflows it without touching it.
  Bytes items;
  for (int g = 0; g < 5; ++g) items.insert(items.end(), {0xFF, 1, 2, 3, 4, 5, 6, 7, 8});
  const Bytes stream = stream_of(0, items);
  const DecodeResult r = decode_stream(nullptr, 0, stream.data(), stream.size());
  EXPECT_EQ(r.status, DecodeStatus::output_overflow);
  EXPECT_EQ(r.offset, 15u);
}

TEST(Decoder, PlausibleDecodedSize) {
  EXPECT_TRUE(decoded_size_plausible(0, 14));
  EXPECT_FALSE(decoded_size_plausible(1, 14));
  EXPECT_TRUE(decoded_size_plausible(69649, 15));
  EXPECT_FALSE(decoded_size_plausible(69650, 19));
  EXPECT_TRUE(decoded_size_plausible(69650, 20));
  EXPECT_TRUE(decoded_size_plausible(UINT32_MAX, SIZE_MAX));
  EXPECT_FALSE(decoded_size_plausible(UINT32_MAX, 1000));
}

}  // namespace
