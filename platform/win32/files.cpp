// Win32 files, mappings and directories, through the wide calls (see wide_path.h).

#include "platform/files.h"

#include <windows.h>

#include "platform/win32/handle_io.h"
#include "platform/win32/wide_path.h"
#include "platform/write_faults.h"

namespace platform {
namespace {

const std::uint8_t empty_file_byte = 0;

HANDLE as_handle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }
std::intptr_t from_handle(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

}  // namespace

std::string native_path(const std::string& system_path) { return system_path; }

MappedFile::Status MappedFile::open(const std::string& path) {
  close();
  HANDLE file = win32::create_file(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS);
  if (file == nullptr || file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? Status::missing : Status::failed;
  }
  return adopt(from_handle(file));
}

MappedFile::Status MappedFile::adopt(std::intptr_t handle) {
  close();
  HANDLE file = as_handle(handle);
  LARGE_INTEGER size;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) {
    CloseHandle(file);
    return Status::failed;
  }
  file_handle_ = handle;
  is_open_ = true;
  if (size.QuadPart == 0) {  // an empty file cannot be mapped; it has no bytes to show
    data_ = &empty_file_byte;
    size_ = 0;
    return Status::ok;
  }
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) {
    close();
    return Status::failed;
  }
  mapping_handle_ = from_handle(mapping);
  const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) {
    close();
    return Status::failed;
  }
  data_ = static_cast<const std::uint8_t*>(view);
  size_ = std::size_t(size.QuadPart);
  return Status::ok;
}

void MappedFile::close() {
  if (!is_open_) return;
  if (size_ > 0 && data_) UnmapViewOfFile(data_);
  if (mapping_handle_ != -1) CloseHandle(as_handle(mapping_handle_));
  if (file_handle_ != -1) CloseHandle(as_handle(file_handle_));
  data_ = nullptr;
  size_ = 0;
  mapping_handle_ = -1;
  file_handle_ = -1;
  is_open_ = false;
}

std::optional<std::vector<std::uint8_t>> read_file(const std::string& path, std::size_t max_size) {
  HANDLE file =
      win32::create_file(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  LARGE_INTEGER size;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size) || size.QuadPart > 0x7FFFFFFF ||
      std::uint64_t(size.QuadPart) > max_size) {
    CloseHandle(file);
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes(std::size_t(size.QuadPart));
  DWORD got = 0;
  if (!bytes.empty() && !ReadFile(file, bytes.data(), DWORD(bytes.size()), &got, nullptr)) got = 0;
  CloseHandle(file);
  bytes.resize(got);
  return bytes;
}

bool file_exists(const std::string& path) { return win32::get_file_attributes(path) != INVALID_FILE_ATTRIBUTES; }

PathKind path_kind(const std::string& path) {
  const DWORD attributes = win32::get_file_attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::missing;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return PathKind::link;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::folder;
  return (attributes & FILE_ATTRIBUTE_DEVICE) ? PathKind::other : PathKind::file;
}

bool is_absolute_path(const std::string& path) {
  auto separator = [](char c) { return c == '\\' || c == '/'; };
  const bool drive = path.size() >= 3 && path[1] == ':' && separator(path[2]) &&
                     ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  const bool unc = path.size() >= 3 && separator(path[0]) && separator(path[1]) && !separator(path[2]);
  return drive || unc;
}

bool OutputFile::write(const void* data, std::size_t size) {
  if (handle_ == -1 || !win32::write_all(as_handle(handle_), data, size)) return false;
  position_ += size;
  if (position_ > end_) end_ = position_;
  return true;
}

bool OutputFile::seek(std::uint64_t position) {
  LARGE_INTEGER to;
  to.QuadPart = LONGLONG(position);
  if (handle_ == -1 || !SetFilePointerEx(as_handle(handle_), to, nullptr, FILE_BEGIN)) return false;
  position_ = position;
  return true;
}

bool OutputFile::seek_to_end() { return seek(end_); }

bool OutputFile::sync() {
  return handle_ != -1 && take_fault_point(FaultPoint::flush) && FlushFileBuffers(as_handle(handle_));
}

bool OutputFile::close() {
  if (handle_ == -1) return true;
  const bool ok = CloseHandle(as_handle(handle_));
  handle_ = -1;
  return ok;
}

}  // namespace platform
