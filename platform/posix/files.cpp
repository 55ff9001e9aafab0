// POSIX files, mappings and directories.

#include "platform/files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/descriptor_io.h"
#include "platform/write_faults.h"

namespace platform {
namespace {

const std::uint8_t empty_file_byte = 0;

}  // namespace

namespace {

// open_regular_file results other than a descriptor.
constexpr int NOT_FOUND = -1;   // no such file, or a directory (nothing to read there)
constexpr int NOT_OPENED = -2;  // no access, or not a regular file: FIFO, device, socket

// Opens native for reading when it is a regular file and fills info; else closes it
// again. Never blocks: a FIFO without a writer would hold a plain open forever, so the
// open is non-blocking, and blocking reads are switched back on for a regular file.
int open_regular_file(const std::string& native, struct stat& info) {
  const int fd = ::open(native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return (errno == ENOENT || errno == ENOTDIR) ? NOT_FOUND : NOT_OPENED;
  if (::fstat(fd, &info) != 0) {
    ::close(fd);
    return NOT_OPENED;
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    return S_ISDIR(info.st_mode) ? NOT_FOUND : NOT_OPENED;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return NOT_OPENED;
  }
  return fd;
}

}  // namespace

MappedFile::Status MappedFile::open(const std::string& path) {
  close();
  struct stat info;
  const int fd = open_regular_file(native_path(path), info);
  if (fd < 0) return fd == NOT_FOUND ? Status::missing : Status::failed;
  return adopt(fd);
}

MappedFile::Status MappedFile::adopt(std::intptr_t handle) {
  close();
  const int fd = int(handle);
  struct stat info;
  const bool known = ::fstat(fd, &info) == 0;
  if (!known || !S_ISREG(info.st_mode)) {
    const bool directory = known && S_ISDIR(info.st_mode);
    ::close(fd);
    return directory ? Status::missing : Status::failed;
  }
  if (info.st_size > 0) {
    void* view = ::mmap(nullptr, std::size_t(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (view == MAP_FAILED) {
      ::close(fd);
      return Status::failed;
    }
    ::madvise(view, std::size_t(info.st_size), MADV_RANDOM);
    data_ = static_cast<const std::uint8_t*>(view);
    size_ = std::size_t(info.st_size);
  } else {
    data_ = &empty_file_byte;
    size_ = 0;
  }
  file_handle_ = fd;
  is_open_ = true;
  return Status::ok;
}

void MappedFile::close() {
  if (!is_open_) return;
  if (size_ > 0) ::munmap(const_cast<std::uint8_t*>(data_), size_);
  if (file_handle_ >= 0) ::close(int(file_handle_));
  data_ = nullptr;
  size_ = 0;
  file_handle_ = -1;
  is_open_ = false;
}

std::optional<std::vector<std::uint8_t>> read_file(const std::string& path, std::size_t max_size) {
  struct stat info;
  const int fd = open_regular_file(native_path(path), info);
  if (fd < 0) return std::nullopt;
  if (std::uint64_t(info.st_size) > max_size) {
    ::close(fd);
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes(std::size_t(info.st_size));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += std::size_t(got);
  }
  ::close(fd);
  bytes.resize(done);  // a file that shrank while read gives what was there
  return bytes;
}

bool file_exists(const std::string& path) {
  struct stat info;
  return ::stat(native_path(path).c_str(), &info) == 0;
}

PathKind path_kind(const std::string& path) {
  struct stat info;
  if (::lstat(native_path(path).c_str(), &info) != 0) return PathKind::missing;
  if (S_ISLNK(info.st_mode)) return PathKind::link;
  if (S_ISDIR(info.st_mode)) return PathKind::folder;
  return S_ISREG(info.st_mode) ? PathKind::file : PathKind::other;
}

bool is_absolute_path(const std::string& path) { return native_path(path).starts_with('/'); }

bool OutputFile::write(const void* data, std::size_t size) {
  if (handle_ < 0 || !posix::write_all(int(handle_), data, size)) return false;
  position_ += size;
  if (position_ > end_) end_ = position_;
  return true;
}

bool OutputFile::seek(std::uint64_t position) {
  if (handle_ < 0 || ::lseek(int(handle_), off_t(position), SEEK_SET) < 0) return false;
  position_ = position;
  return true;
}

bool OutputFile::seek_to_end() { return seek(end_); }

bool OutputFile::sync() { return handle_ >= 0 && take_fault_point(FaultPoint::flush) && ::fsync(int(handle_)) == 0; }

bool OutputFile::close() {
  if (handle_ < 0) return true;
  const bool ok = ::close(int(handle_)) == 0;
  handle_ = -1;
  return ok;
}

}  // namespace platform
