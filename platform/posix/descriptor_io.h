#pragma once
// Writing to POSIX descriptors, shared by the file and write-folder backends.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "platform/write_faults.h"

namespace platform::posix {

// Writes all size bytes, resuming after interruptions; false on failure (errno set),
// also when the test hook of write_faults.h says the disk is full.
inline bool write_all(int fd, const void* data, std::size_t size) {
  const auto* at = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    if (!take_write_budget(size)) {
      errno = ENOSPC;
      return false;
    }
    const ssize_t written = ::write(fd, at, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    at += written;
    size -= std::size_t(written);
  }
  return true;
}

// The mode of a new file: read and write for all, less the process's umask.
inline mode_t default_file_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace platform::posix
