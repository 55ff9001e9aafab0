#pragma once
// Writing to Win32 file handles, shared by the file and write-folder backends.

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "platform/write_faults.h"

namespace platform::win32 {

// Writes all size bytes in pieces of at most 1 GiB; false on failure, also when the
// test hook of write_faults.h says the disk is full.
inline bool write_all(HANDLE file, const void* data, std::size_t size) {
  const auto* at = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const DWORD chunk = size > 0x40000000 ? 0x40000000 : DWORD(size);
    if (!take_write_budget(chunk)) {
      SetLastError(ERROR_DISK_FULL);
      return false;
    }
    DWORD written = 0;
    if (!WriteFile(file, at, chunk, &written, nullptr) || written != chunk) return false;
    at += chunk;
    size -= chunk;
  }
  return true;
}

}  // namespace platform::win32
