#pragma once
// Where the encoder writes a stream: a seekable byte sink. The pack rebuild binds it
// to its temporary pack file; tests and the pak tool use MemorySink.

#include <cstddef>
#include <cstdint>
#include <vector>

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes size bytes at the current position. Returns false on failure; the sink
  // then stays failed (failed() is true) and later calls may do nothing.
  virtual bool write(const void* data, std::size_t size) = 0;
  // Current position, counted from the start of the sink.
  virtual std::uint64_t position() = 0;
  // Moves to an absolute position inside what was written.
  virtual bool seek(std::uint64_t position) = 0;
  // Moves to the end of what was written.
  virtual bool seek_to_end() = 0;
  // True once any write or seek failed.
  virtual bool failed() const = 0;
};

// A growable in-memory sink.
class MemorySink final : public ByteSink {
 public:
  bool write(const void* data, std::size_t size) override;
  std::uint64_t position() override { return position_; }
  bool seek(std::uint64_t position) override;
  bool seek_to_end() override;
  bool failed() const override { return failed_; }

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  // Empties the sink and clears a failure, keeping the memory it holds: a sink that
  // takes many streams in turn grows once.
  void clear() {
    bytes_.clear();
    position_ = 0;
    failed_ = false;
  }
  std::vector<std::uint8_t> take() { return std::move(bytes_); }

 private:
  std::vector<std::uint8_t> bytes_;
  std::uint64_t position_ = 0;
  bool failed_ = false;
};
