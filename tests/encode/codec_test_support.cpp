#include "tests/encode/codec_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "encode/encoder.h"

Bytes repeat(std::uint8_t value, std::size_t count) { return Bytes(count, value); }

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

bool RecordingSink::write(const std::uint8_t* data, std::size_t size) {
  EXPECT_NE(size, 0u);
  EXPECT_LE(size, StreamDecoder::kChunkSize);
  EXPECT_FALSE(refused_) << "write after a refusal";
  if (writes_++ == refuse_at_) return refused_ = true, false;
  bytes.insert(bytes.end(), data, data + size);
  return true;
}

Decoded stream_decode(const Bytes& stream, std::size_t available, StreamDecoder* decoder) {
  if (available == SIZE_MAX) available = stream.size();
  auto in = std::make_unique<std::uint8_t[]>(available);
  std::copy_n(stream.begin(), available, in.get());
  RecordingSink sink;
  Decoded d;
  d.result = decoder ? decoder->decode(in.get(), available, sink) : decode_stream_to(sink, in.get(), available);
  d.output = std::move(sink.bytes);
  return d;
}

void expect_decoders_agree(const Bytes& stream, std::size_t available, StreamDecoder* decoder) {
  const Decoded whole = decode(stream, available);
  const Decoded streamed = stream_decode(stream, available, decoder);
  EXPECT_EQ(streamed.result.status, whole.result.status)
      << decode_status_text(streamed.result.status) << " / " << decode_status_text(whole.result.status);
  EXPECT_EQ(streamed.result.offset, whole.result.offset);
  EXPECT_EQ(streamed.result.produced, whole.result.produced);
  EXPECT_TRUE(streamed.output == whole.output) << "output differs";
}

void ItemWriter::add(const Bytes& bytes, bool is_literal) {
  if (count_ % 8 == 0) {
    flag_at_ = items_.size();
    items_.push_back(0);
  }
  if (is_literal) items_[flag_at_] |= static_cast<std::uint8_t>(1u << (count_ % 8));
  items_.insert(items_.end(), bytes.begin(), bytes.end());
  ++count_;
}

Bytes long_runs(int n) {
  ItemWriter writer;
  for (int i = 0; i < n; ++i) writer.long_run(static_cast<std::uint8_t>(i + 1), 0xFFFF);
  return writer.items();
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
