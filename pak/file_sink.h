#pragma once
// A ByteSink over a platform::OutputFile, so that the encoder writes its streams
// straight into the pack being built. Small writes (the encoder writes a group of at
// most 41 bytes at a time) are gathered in a buffer; large ones go straight through.
// The first failed write or seek sticks; flush() reports whether everything got out.

#include <cstring>
#include <vector>

#include "encode/byte_sink.h"
#include "platform/files.h"

namespace pak {

class FileSink final : public ByteSink {
 public:
  static constexpr std::size_t BUFFER_SIZE = 1 << 20;

  explicit FileSink(platform::OutputFile& file) : file_(file) { buffer_.reserve(BUFFER_SIZE); }
  bool write(const void* data, std::size_t size) override {
    if (failed_) return false;
    if (buffer_.size() + size > BUFFER_SIZE && !flush()) return false;
    if (size >= BUFFER_SIZE) {
      if (!file_.write(data, size)) failed_ = true;
      return !failed_;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    buffer_.insert(buffer_.end(), bytes, bytes + size);
    return true;
  }
  std::uint64_t position() override { return file_.position() + buffer_.size(); }
  bool seek(std::uint64_t position) override {
    if (!flush()) return false;
    if (!file_.seek(position)) failed_ = true;
    return !failed_;
  }
  bool seek_to_end() override {
    if (!flush()) return false;
    if (!file_.seek_to_end()) failed_ = true;
    return !failed_;
  }
  bool failed() const override { return failed_; }
  // Writes out what is buffered.
  bool flush() {
    if (failed_) return false;
    if (!buffer_.empty() && !file_.write(buffer_.data(), buffer_.size())) failed_ = true;
    buffer_.clear();
    return !failed_;
  }

 private:
  platform::OutputFile& file_;
  std::vector<std::uint8_t> buffer_;
  bool failed_ = false;
};

}  // namespace pak
