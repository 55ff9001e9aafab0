// POSIX write folder: every level below the folder is opened with openat and
// O_NOFOLLOW, so a symbolic link where a directory or the file should be is refused
// instead of followed.

#include "platform/write_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/codepage.h"
#include "platform/posix/descriptor_io.h"
#include "platform/text.h"

namespace platform {
namespace {

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
std::string native_level(std::string_view level) {
  const std::string bytes(level);
  return cp950_to_utf8(bytes).value_or(bytes);
}

// The levels of a relative path; false when one is empty, "." or "..", or holds a
// slash (a separator here, never part of a name).
bool split_levels(std::string_view relative, std::vector<std::string>& levels) {
  levels.clear();
  std::size_t start = 0;
  while (start <= relative.size()) {
    const std::size_t end = find_separator(relative, start);
    const std::string_view level = relative.substr(start, end - start);
    if (level.empty() || level == "." || level == ".." || level.find('/') != std::string_view::npos) return false;
    levels.push_back(native_level(level));
    start = end + 1;
  }
  return true;
}

WriteStatus status_of_errno(int error) {
  switch (error) {
    case ELOOP:
      return WriteStatus::link_in_way;
    case ENAMETOOLONG:
      return WriteStatus::bad_path;
    default:
      return WriteStatus::cannot_open;
  }
}

// Opens the directory name below parent without following a link; creates it first
// when create is set and it is missing.
WriteStatus open_level(int parent, const std::string& name, bool create, Descriptor& out) {
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

// The directory that holds the last level of relative (opened), and that level's
// native name. missing_ok: a missing directory gives cannot_open with errno ENOENT.
struct Parent {
  WriteStatus status = WriteStatus::ok;
  Descriptor directory;
  std::string name;
  bool missing = false;  // a level on the way does not exist
};

Parent resolve_parent(int root, std::string_view relative, bool create) {
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
    parent.status = open_level(parent.directory.get(), levels[i], create, next);
    if (parent.status != WriteStatus::ok) {
      parent.missing = errno == ENOENT;
      return parent;
    }
    parent.directory = std::move(next);
  }
  parent.name = levels.back();
  return parent;
}

class DescriptorWriter final : public FileWriter {
 public:
  explicit DescriptorWriter(int fd) : fd_(fd) {}
  bool write(const void* data, std::size_t size) override { return posix::write_all(fd_, data, size); }

 private:
  int fd_;
};

;

// The mode a file that replaces the one at name gets: its permission bits without
// set-user-id and set-group-id, or the default for a new file. link_in_way when a
// link stands there, cannot_open when something else than a file does.
WriteStatus replacement_mode(int directory, const std::string& name, mode_t& mode) {
  struct stat info;
  if (::fstatat(directory, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) return status_of_errno(errno);
    mode = posix::default_file_mode();
    return WriteStatus::ok;
  }
  if (S_ISLNK(info.st_mode)) return WriteStatus::link_in_way;
  if (!S_ISREG(info.st_mode)) return WriteStatus::cannot_open;
  mode = info.st_mode & 0777;
  return WriteStatus::ok;
}

// Creates a temporary file named after name in directory; its name goes to temp.
Descriptor create_temp(int directory, const std::string& name, std::string& temp) {
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

}  // namespace

WriteFolder::Status WriteFolder::open(const std::string& path) {
  close();
  const int fd = ::open(native_path(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return Status::missing;
    return errno == ENOTDIR ? Status::not_a_folder : Status::failed;
  }
  handle_ = fd;
  path_ = path;
  open_ = true;
  return Status::ok;
}

void WriteFolder::close() {
  if (handle_ >= 0) ::close(int(handle_));
  handle_ = -1;
  path_.clear();
  open_ = false;
}

WriteStatus WriteFolder::make_directories(std::string_view relative) {
  if (!open_) return WriteStatus::cannot_open;
  Parent parent = resolve_parent(int(handle_), relative, true);
  if (parent.status != WriteStatus::ok) return parent.status;
  Descriptor last;
  return open_level(parent.directory.get(), parent.name, true, last);
}

WriteStatus WriteFolder::write_file(std::string_view relative, FileProducer& producer) {
  if (!open_) return WriteStatus::cannot_open;
  Parent parent = resolve_parent(int(handle_), relative, false);
  if (parent.status != WriteStatus::ok) return parent.status;
  const int directory = parent.directory.get();
  mode_t mode = 0;
  if (const WriteStatus status = replacement_mode(directory, parent.name, mode); status != WriteStatus::ok)
    return status;
  std::string temp;
  Descriptor file = create_temp(directory, parent.name, temp);
  if (file.get() < 0) return WriteStatus::cannot_open;
  ::fchmod(file.get(), mode);
  DescriptorWriter writer(file.get());
  const bool written = producer.produce(writer) && ::fsync(file.get()) == 0;
  const bool closed = ::close(file.release()) == 0;
  if (!written || !closed) {
    ::unlinkat(directory, temp.c_str(), 0);
    return WriteStatus::write_failed;
  }
  if (::renameat(directory, temp.c_str(), directory, parent.name.c_str()) != 0) {
    const int error = errno;
    ::unlinkat(directory, temp.c_str(), 0);
    return status_of_errno(error);
  }
  ::fsync(directory);
  return WriteStatus::ok;
}

OutputFile::Status WriteFolder::create_new(std::string_view relative, OutputFile& file) {
  file.close();
  if (!open_) return OutputFile::Status::failed;
  Parent parent = resolve_parent(int(handle_), relative, false);
  if (parent.status != WriteStatus::ok) return OutputFile::Status::failed;
  const int fd = ::openat(parent.directory.get(), parent.name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, posix::default_file_mode());
  if (fd < 0) return errno == EEXIST ? OutputFile::Status::exists : OutputFile::Status::failed;
  file.handle_ = fd;
  file.position_ = 0;
  file.end_ = 0;
  return OutputFile::Status::ok;
}

WriteStatus WriteFolder::replace(std::string_view from, std::string_view to) {
  if (!open_) return WriteStatus::cannot_open;
  Parent source = resolve_parent(int(handle_), from, false);
  if (source.status != WriteStatus::ok) return source.status;
  Parent target = resolve_parent(int(handle_), to, false);
  if (target.status != WriteStatus::ok) return target.status;
  struct stat info;
  if (::fstatat(target.directory.get(), target.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(info.st_mode)) return WriteStatus::link_in_way;
    if (!S_ISREG(info.st_mode)) return WriteStatus::cannot_open;
    ::fchmodat(source.directory.get(), source.name.c_str(), info.st_mode & 0777, 0);
  }
  if (::renameat(source.directory.get(), source.name.c_str(), target.directory.get(), target.name.c_str()) != 0)
    return status_of_errno(errno);
  ::fsync(target.directory.get());
  return WriteStatus::ok;
}

bool WriteFolder::remove(std::string_view relative) {
  if (!open_) return false;
  Parent parent = resolve_parent(int(handle_), relative, false);
  if (parent.status != WriteStatus::ok) return false;
  return ::unlinkat(parent.directory.get(), parent.name.c_str(), 0) == 0;
}

namespace {

WriteFolder::RemoveStatus remove_status_of(const Parent& parent) {
  if (parent.status == WriteStatus::bad_path) return WriteFolder::RemoveStatus::bad_path;
  if (parent.status == WriteStatus::link_in_way) return WriteFolder::RemoveStatus::link_in_way;
  return parent.missing || errno == ENOTDIR ? WriteFolder::RemoveStatus::missing : WriteFolder::RemoveStatus::failed;
}

}  // namespace

WriteFolder::RemoveStatus WriteFolder::remove_file(std::string_view relative) {
  if (!open_) return RemoveStatus::failed;
  Parent parent = resolve_parent(int(handle_), relative, false);
  if (parent.status != WriteStatus::ok) return remove_status_of(parent);
  struct stat info;
  if (::fstatat(parent.directory.get(), parent.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT || errno == ENOTDIR ? RemoveStatus::missing : RemoveStatus::failed;
  if (S_ISDIR(info.st_mode)) return RemoveStatus::failed;
  if (::unlinkat(parent.directory.get(), parent.name.c_str(), 0) == 0) return RemoveStatus::removed;
  return errno == ENOENT ? RemoveStatus::missing : RemoveStatus::failed;
}

WriteFolder::RemoveStatus WriteFolder::remove_empty_directory(std::string_view relative) {
  if (!open_) return RemoveStatus::failed;
  Parent parent = resolve_parent(int(handle_), relative, false);
  if (parent.status != WriteStatus::ok) return remove_status_of(parent);
  struct stat info;
  if (::fstatat(parent.directory.get(), parent.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT || errno == ENOTDIR ? RemoveStatus::missing : RemoveStatus::failed;
  if (!S_ISDIR(info.st_mode)) return RemoveStatus::failed;
  if (::unlinkat(parent.directory.get(), parent.name.c_str(), AT_REMOVEDIR) == 0) return RemoveStatus::removed;
  if (errno == ENOTEMPTY || errno == EEXIST) return RemoveStatus::not_empty;
  return errno == ENOENT ? RemoveStatus::missing : RemoveStatus::failed;
}

MappedFile::Status WriteFolder::map(std::string_view relative, MappedFile& file) {
  file.close();
  if (!open_) return MappedFile::Status::failed;
  Parent parent = resolve_parent(int(handle_), relative, false);
  if (parent.status != WriteStatus::ok)
    return parent.missing ? MappedFile::Status::missing : MappedFile::Status::failed;
  // Non-blocking, so that a FIFO in the file's place cannot hold the open.
  const int fd = ::openat(parent.directory.get(), parent.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return (errno == ENOENT || errno == ENOTDIR) ? MappedFile::Status::missing : MappedFile::Status::failed;
  return file.adopt(fd);
}

std::vector<std::string> WriteFolder::names(std::string_view relative) {
  std::vector<std::string> found;
  if (!open_) return found;
  Descriptor directory(::fcntl(int(handle_), F_DUPFD_CLOEXEC, 0));
  if (!relative.empty()) {
    Parent parent = resolve_parent(int(handle_), relative, false);
    if (parent.status != WriteStatus::ok) return found;
    Descriptor last;
    if (open_level(parent.directory.get(), parent.name, false, last) != WriteStatus::ok) return found;
    directory = std::move(last);
  }
  if (directory.get() < 0) return found;
  DIR* listing = ::fdopendir(directory.get());
  if (listing == nullptr) return found;
  directory.release();  // the listing owns it now
  ::rewinddir(listing);
  while (const dirent* item = ::readdir(listing)) {
    const std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    found.push_back(utf8_to_cp950(name).value_or(name));
  }
  ::closedir(listing);
  return found;
}

bool is_file_system_root(const std::string& path) {
  struct stat folder, root;
  if (::stat(native_path(path).c_str(), &folder) != 0 || ::stat("/", &root) != 0) return false;
  return folder.st_dev == root.st_dev && folder.st_ino == root.st_ino;
}

}  // namespace platform
