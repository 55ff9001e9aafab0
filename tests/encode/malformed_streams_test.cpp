// One table of malformed streams, run through both entry points of the decoder: the
// whole-buffer decode_stream (into a destination of exactly decoded_size bytes and
// into a larger one) and the streaming StreamDecoder. Each must report the status and
// offset the table names, and both must agree on what was produced.

#include <gtest/gtest.h>

#include "encode/decoder.h"
#include "encode/stream_decoder.h"
#include "tests/encode/codec_test_support.h"

namespace {

struct Malformed {
  const char* name;
  Bytes stream;
  std::size_t available;  // SIZE_MAX: the whole stream
  DecodeStatus status;
  std::size_t offset;
};

// k literals 0, 1, 2, ..., a reference of three bytes reaching `distance` back, then
// `tail` more literals (enough of them put the reference in a group the decoder takes
// without input checks).
Bytes literals_then_reference(std::size_t k, std::size_t distance, std::size_t tail) {
  ItemWriter writer;
  for (std::size_t i = 0; i < k; ++i) writer.literal(static_cast<std::uint8_t>(i));
  writer.reference(k, distance, 3);
  for (std::size_t i = 0; i < tail; ++i) writer.literal(0x7A);
  return stream_of(static_cast<std::uint32_t>(k + 3 + tail), writer.items());
}

std::vector<Malformed> malformed_streams() {
  constexpr std::size_t all = SIZE_MAX;
  const std::size_t big = 3 * 69649;             // past two chunks of the streaming decoder
  const std::size_t full_groups = 4095 / 8 * 9;  // stream bytes of the first 4088 literals
  return {
      {"no bytes", {}, all, DecodeStatus::truncated_header, 0},
      {"header cut", hex("45 6E 43 6F 64 65 00 00 00 00 0E 00 00"), all, DecodeStatus::truncated_header, 13},
      {"bad magic", hex("45 6E 43 6F 64 66 00 00 00 00 0E 00 00 00"), all, DecodeStatus::bad_magic, 0},
      {"stream size below header", hex("45 6E 43 6F 64 65 00 00 00 00 0D 00 00 00"), all, DecodeStatus::bad_stream_size,
       10},
      {"decoded size beyond any item count", hex("45 6E 43 6F 64 65 01 00 00 00 0E 00 00 00"), all,
       DecodeStatus::implausible_size, 6},
      {"decoded size beyond five-byte items", stream_of(69650, hex("01 61 FF FF 62")), all,
       DecodeStatus::implausible_size, 6},
      {"flag byte without item", stream_of(0, hex("00")), all, DecodeStatus::truncated_item, 14},
      {"flag byte without item after a full group", stream_of(8, hex("FF 30 31 32 33 34 35 36 37 FF")), all,
       DecodeStatus::truncated_item, 23},
      {"reference cut", stream_of(4, hex("01 61 F0")), all, DecodeStatus::truncated_item, 16},
      {"short run cut", stream_of(20, hex("01 61 00 0F")), all, DecodeStatus::truncated_item, 16},
      {"long run cut", stream_of(5000, hex("01 61 FF FF 61 75")), all, DecodeStatus::truncated_item, 16},
      {"stream shorter than stated", stream_of(3, hex("07 61 62 63")), 17, DecodeStatus::truncated_stream, 17},
      {"item cut by the available bytes", stream_of(4, hex("01 61 F0 F0")), 17, DecodeStatus::truncated_stream, 16},
      {"reference before any output", stream_of(3, hex("00 F0 F0")), all, DecodeStatus::unwritten_slot, 15},
      {"reference to a slot not yet written", stream_of(4, hex("01 61 F1 F0")), all, DecodeStatus::unwritten_slot, 16},
      // One slot past the output: a bound off by one would copy the byte before it.
      {"reference one byte before the output", literals_then_reference(1, 2, 0), all, DecodeStatus::unwritten_slot, 16},
      {"reference one byte before a window not yet full, in a checked-ahead group",
       literals_then_reference(4095, 4096, 40), all, DecodeStatus::unwritten_slot, 14 + full_groups + 1 + 7},
      {"literal past decoded size", stream_of(1, hex("03 61 62")), all, DecodeStatus::output_overflow, 16},
      {"reference past decoded size", stream_of(3, hex("01 61 F0 F0")), all, DecodeStatus::output_overflow, 16},
      {"literal stretch past decoded size",
       stream_of(5,
                 [] {
                   Bytes items;
                   for (int g = 0; g < 5; ++g) items.insert(items.end(), {0xFF, 1, 2, 3, 4, 5, 6, 7, 8});
                   return items;
                 }()),
       all, DecodeStatus::output_overflow, 20},
      {"run past decoded size", stream_of(18, hex("01 61 00 0F 61")), all, DecodeStatus::output_overflow, 16},
      {"stream ends early", stream_of(4, hex("07 61 62 63")), all, DecodeStatus::output_short, 18},
      // Faults after the streaming decoder has handed its output on in chunks.
      {"long run past decoded size after chunks", stream_of(static_cast<std::uint32_t>(big - 1), long_runs(3)), all,
       DecodeStatus::output_overflow, 25},
      {"stream ends early after chunks", stream_of(static_cast<std::uint32_t>(big + 1), long_runs(3)), all,
       DecodeStatus::output_short, 30},
      {"short run cut after chunks", stream_of(static_cast<std::uint32_t>(big), concat({long_runs(3), hex("00 FF")})),
       all, DecodeStatus::truncated_item, 30},
      {"stream cut after chunks", stream_of(static_cast<std::uint32_t>(big), long_runs(3)), 27,
       DecodeStatus::truncated_stream, 25},
  };
}

TEST(Decoders, ReportMalformedStreams) {
  StreamDecoder reused;  // one decoder for every case: nothing of a stream outlives its decode
  for (const Malformed& c : malformed_streams()) {
    SCOPED_TRACE(c.name);
    const std::size_t available = c.available == SIZE_MAX ? c.stream.size() : c.available;
    const Decoded exact = decode(c.stream, available);
    const Decoded roomy = decode(c.stream, available, 1 << 20);
    const Decoded streamed = stream_decode(c.stream, available, &reused);
    for (const Decoded* d : {&exact, &roomy, &streamed}) {
      EXPECT_EQ(d->result.status, c.status) << decode_status_text(d->result.status);
      EXPECT_EQ(d->result.offset, c.offset);
      EXPECT_EQ(d->output.size(), d->result.produced);
    }
    EXPECT_EQ(roomy.result.produced, exact.result.produced);
    EXPECT_EQ(streamed.result.produced, exact.result.produced);
    EXPECT_TRUE(streamed.output == exact.output) << "output differs";
    EXPECT_TRUE(roomy.output == exact.output) << "output differs";
  }
}

}  // namespace
