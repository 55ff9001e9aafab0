#pragma once
// Levels below a POSIX write folder, opened one by one with openat and O_NOFOLLOW:
// shared by the write folder and its batches. Each level is the existing entry that
// its name stands for without regard to case (name_lookup.h), as on Windows.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/posix/descriptor_io.h"
#include "platform/posix/name_lookup.h"
#include "platform/text.h"
#include "platform/write_folder.h"

namespace platform::posix {

// A descriptor closed with the object.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~Descriptor() { reset(); }
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// One level of a relative path as a native name (UTF-8 when it is code page 950).
inline std::string native_level(std::string_view level) {
  const std::string bytes(level);
  return cp950_to_utf8(bytes).value_or(bytes);
}

// The levels of a relative path as native names (split_relative_levels).
inline bool split_levels(std::string_view relative, std::vector<std::string>& levels) {
  if (!split_relative_levels(relative, levels)) return false;
  for (std::string& level : levels) level = native_level(level);
  return true;
}

inline WriteStatus status_of_errno(int error) {
  switch (error) {
    case ELOOP:
      return WriteStatus::link_in_way;
    case ENAMETOOLONG:
      return WriteStatus::bad_path;
    case ENOTDIR:
      return WriteStatus::not_a_folder;
    default:
      return WriteStatus::cannot_open;
  }
}

// Opens the directory name (spelt exactly so) below parent without following a link;
// creates it first when create is set and it is missing.
inline WriteStatus open_named_level(int parent, const std::string& name, bool create, Descriptor& out) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      out.reset(fd);
      return WriteStatus::ok;
    }
    const int error = errno;
    if (error == ENOENT && create && attempt == 0) {
      if (::mkdirat(parent, name.c_str(), 0777) == 0 || errno == EEXIST) continue;
      return status_of_errno(errno);
    }
    // O_DIRECTORY on a link gives ENOTDIR on some systems: tell a link from a file.
    struct stat info;
    if (::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))
      return WriteStatus::link_in_way;
    return status_of_errno(error);
  }
  return WriteStatus::cannot_open;
}

// Opens the directory that name stands for below parent (existing_name) without
// following a link; creates it first, as given, when create is set and it is missing.
inline WriteStatus open_level(int parent, const std::string& given, bool create, Descriptor& out) {
  return open_named_level(parent, existing_name(parent, given), create, out);
}

// The directory that holds the last level of relative (opened), and that level's
// native name: the existing entry's when there is one. A missing directory gives
// cannot_open with missing set.
struct Parent {
  WriteStatus status = WriteStatus::ok;
  Descriptor directory;
  std::string name;
  bool missing = false;  // a level on the way does not exist
};

// names: listings to look names up in, kept by the caller (none: a listing per miss).
inline Parent resolve_parent(int root, std::string_view relative, bool create, NameLookup* names = nullptr) {
  Parent parent;
  std::vector<std::string> levels;
  if (!split_levels(relative, levels)) {
    parent.status = WriteStatus::bad_path;
    return parent;
  }
  parent.directory.reset(::fcntl(root, F_DUPFD_CLOEXEC, 0));
  if (parent.directory.get() < 0) {
    parent.status = WriteStatus::cannot_open;
    return parent;
  }
  for (std::size_t i = 0; i + 1 < levels.size(); ++i) {
    Descriptor next;
    const int at = parent.directory.get();
    parent.status = names != nullptr ? open_named_level(at, names->existing_name(at, levels[i]), create, next)
                                     : open_level(at, levels[i], create, next);
    if (parent.status != WriteStatus::ok) {
      parent.missing = errno == ENOENT;
      return parent;
    }
    parent.directory = std::move(next);
  }
  const int at = parent.directory.get();
  parent.name = names != nullptr ? names->existing_name(at, levels.back()) : existing_name(at, levels.back());
  return parent;
}

// The mode a file that replaces the one at name gets: its permission bits without
// set-user-id and set-group-id, or the default for a new file. link_in_way when a
// link stands there, not_a_file when something else than a file does.
inline WriteStatus replacement_mode(int directory, const std::string& name, mode_t& mode) {
  struct stat info;
  if (::fstatat(directory, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) return status_of_errno(errno);
    mode = posix::default_file_mode();
    return WriteStatus::ok;
  }
  if (S_ISLNK(info.st_mode)) return WriteStatus::link_in_way;
  if (!S_ISREG(info.st_mode)) return WriteStatus::not_a_file;
  mode = info.st_mode & 0777;
  return WriteStatus::ok;
}

// Creates a temporary file named after name in directory; its name goes to temp.
inline Descriptor create_temp(int directory, const std::string& name, std::string& temp) {
  std::string prefix(1, '.');
  prefix.append(name, 0, 64);
  prefix += '.';
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = temp_file_name(prefix);
    const int fd = ::openat(directory, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) return Descriptor(fd);
    if (errno != EEXIST) break;
  }
  return Descriptor();
}

}  // namespace platform::posix
