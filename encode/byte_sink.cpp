#include "encode/byte_sink.h"

#include <cstring>

bool MemorySink::write(const void* data, std::size_t size) {
  if (failed_) return false;
  const std::size_t end = static_cast<std::size_t>(position_) + size;
  if (end > bytes_.size()) bytes_.resize(end);
  if (size != 0) std::memcpy(bytes_.data() + position_, data, size);
  position_ = end;
  return true;
}

bool MemorySink::seek(std::uint64_t position) {
  if (failed_ || position > bytes_.size()) {
    failed_ = true;
    return false;
  }
  position_ = position;
  return true;
}

bool MemorySink::seek_to_end() {
  if (failed_) return false;
  position_ = bytes_.size();
  return true;
}
