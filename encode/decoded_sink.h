#pragma once
// Where the streaming decoder hands its output: a forward-only consumer of decoded
// bytes (a file, a pipe, a checksum, a counter).

#include <cstddef>
#include <cstdint>

class DecodedSink {
 public:
  virtual ~DecodedSink() = default;
  // Takes the next size decoded bytes (size is never 0). Returns false to refuse them,
  // for example when a write failed; decoding then stops (DecodeStatus::sink_refused).
  virtual bool write(const std::uint8_t* data, std::size_t size) = 0;
};

// Accepts everything, keeps nothing: counts the bytes, for checking that a stream
// decodes without holding its output.
class CountingSink final : public DecodedSink {
 public:
  bool write(const std::uint8_t*, std::size_t size) override {
    count_ += size;
    return true;
  }
  std::uint64_t count() const { return count_; }

 private:
  std::uint64_t count_ = 0;
};
