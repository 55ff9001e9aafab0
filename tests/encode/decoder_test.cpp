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

// Groups items behind flag bytes as a stream needs them.
class ItemWriter {
 public:
  void literal(std::uint8_t byte) { add({byte}, true); }
  void item(const Bytes& bytes) { add(bytes, false); }
  const Bytes& items() const { return items_; }

 private:
  void add(const Bytes& bytes, bool is_literal) {
    if (count_ % 8 == 0) {
      flag_at_ = items_.size();
      items_.push_back(0);
    }
    if (is_literal) items_[flag_at_] |= static_cast<std::uint8_t>(1u << (count_ % 8));
    items_.insert(items_.end(), bytes.begin(), bytes.end());
    ++count_;
  }
  Bytes items_;
  std::size_t flag_at_ = 0;
  int count_ = 0;
};

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

// Malformed streams, each with the status and offset the decoder must report.
struct Malformed {
  const char* name;
  Bytes stream;
  std::size_t available;
  std::size_t destination_size;
  DecodeStatus status;
  std::size_t offset;
};

TEST(Decoder, ReportsMalformedStreams) {
  constexpr std::size_t all = SIZE_MAX;
  const Malformed cases[] = {
      {"no bytes", {}, all, 0, DecodeStatus::truncated_header, 0},
      {"header cut", hex("45 6E 43 6F 64 65 00 00 00 00 0E 00 00"), all, 0, DecodeStatus::truncated_header, 13},
      {"bad magic", hex("45 6E 43 6F 64 66 00 00 00 00 0E 00 00 00"), all, 0, DecodeStatus::bad_magic, 0},
      {"stream size below header", hex("45 6E 43 6F 64 65 00 00 00 00 0D 00 00 00"), all, 0,
       DecodeStatus::bad_stream_size, 10},
      {"decoded size beyond any item count", hex("45 6E 43 6F 64 65 01 00 00 00 0E 00 00 00"), all, 1,
       DecodeStatus::implausible_size, 6},
      {"decoded size beyond five-byte items", stream_of(69650, hex("01 61 FF FF 62")), all, all,
       DecodeStatus::implausible_size, 6},
      {"destination too small", stream_of(3, hex("07 61 62 63")), all, 2, DecodeStatus::destination_too_small, 6},
      {"flag byte without item", stream_of(0, hex("00")), all, 0, DecodeStatus::truncated_item, 14},
      {"flag byte without item after a full group", stream_of(8, hex("FF 30 31 32 33 34 35 36 37 FF")), all, 8,
       DecodeStatus::truncated_item, 23},
      {"reference cut", stream_of(4, hex("01 61 F0")), all, 4, DecodeStatus::truncated_item, 16},
      {"short run cut", stream_of(20, hex("01 61 00 0F")), all, 20, DecodeStatus::truncated_item, 16},
      {"long run cut", stream_of(5000, hex("01 61 FF FF 61 75")), all, 5000, DecodeStatus::truncated_item, 16},
      {"stream shorter than stated", stream_of(3, hex("07 61 62 63")), 17, 3, DecodeStatus::truncated_stream, 17},
      {"item cut by the available bytes", stream_of(4, hex("01 61 F0 F0")), 17, 4, DecodeStatus::truncated_stream, 16},
      {"reference before any output", stream_of(3, hex("00 F0 F0")), all, 3, DecodeStatus::unwritten_slot, 15},
      {"reference to a slot not yet written", stream_of(4, hex("01 61 F1 F0")), all, 4, DecodeStatus::unwritten_slot,
       16},
      {"literal past decoded size", stream_of(1, hex("03 61 62")), all, 4, DecodeStatus::output_overflow, 16},
      {"reference past decoded size", stream_of(3, hex("01 61 F0 F0")), all, 8, DecodeStatus::output_overflow, 16},
      {"literal stretch past decoded size",
       stream_of(5,
                 [] {
                   Bytes items;
                   for (int g = 0; g < 5; ++g) items.insert(items.end(), {0xFF, 1, 2, 3, 4, 5, 6, 7, 8});
                   return items;
                 }()),
       all, 64, DecodeStatus::output_overflow, 20},
      {"run past decoded size", stream_of(18, hex("01 61 00 0F 61")), all, 18, DecodeStatus::output_overflow, 16},
      {"stream ends early", stream_of(4, hex("07 61 62 63")), all, 4, DecodeStatus::output_short, 18},
  };
  for (const Malformed& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t available = c.available == all ? c.stream.size() : c.available;
    const Decoded d = decode(c.stream, available, c.destination_size == all ? 1 << 20 : c.destination_size);
    EXPECT_EQ(d.result.status, c.status) << decode_status_text(d.result.status);
    EXPECT_EQ(d.result.offset, c.offset);
  }
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
