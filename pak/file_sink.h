#pragma once
// A ByteSink over a platform::OutputFile, so that the encoder writes its streams
// straight into the pack being built. The first failed write or seek sticks.

#include "encode/byte_sink.h"
#include "platform/files.h"

namespace pak {

class FileSink final : public ByteSink {
 public:
  explicit FileSink(platform::OutputFile& file) : file_(file) {}
  bool write(const void* data, std::size_t size) override {
    if (failed_) return false;
    if (size != 0 && !file_.write(data, size)) failed_ = true;
    return !failed_;
  }
  std::uint64_t position() override { return file_.position(); }
  bool seek(std::uint64_t position) override {
    if (failed_) return false;
    if (!file_.seek(position)) failed_ = true;
    return !failed_;
  }
  bool seek_to_end() override {
    if (failed_) return false;
    if (!file_.seek_to_end()) failed_ = true;
    return !failed_;
  }
  bool failed() const override { return failed_; }

 private:
  platform::OutputFile& file_;
  bool failed_ = false;
};

}  // namespace pak
