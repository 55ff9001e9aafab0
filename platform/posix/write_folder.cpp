// POSIX write folder: every level below the folder is opened with openat and
// O_NOFOLLOW (folder_levels.h), so a symbolic link where a directory or the file
// should be is refused instead of followed.

#include "platform/write_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/codepage.h"
#include "platform/posix/folder_levels.h"
#include "platform/text.h"

namespace platform {

using namespace posix;

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
    if (!S_ISREG(info.st_mode)) return WriteStatus::not_a_file;
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

// Resolves relative for a removal and reads what stands there, without following a
// link; true with parent and info set, or false with the status to return.
bool stat_for_removal(int folder, std::string_view relative, NameLookup* names, Parent& parent, struct stat& info,
                      WriteFolder::RemoveStatus& status) {
  parent = resolve_parent(folder, relative, false, names);
  if (parent.status != WriteStatus::ok) {
    status = remove_status_of(parent);
    return false;
  }
  if (::fstatat(parent.directory.get(), parent.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) return true;
  status = errno == ENOENT || errno == ENOTDIR ? WriteFolder::RemoveStatus::missing : WriteFolder::RemoveStatus::failed;
  return false;
}

}  // namespace

WriteFolder::RemoveStatus WriteFolder::remove_file(std::string_view relative) {
  if (!open_) return RemoveStatus::failed;
  Parent parent;
  struct stat info;
  RemoveStatus status = RemoveStatus::failed;
  if (!stat_for_removal(int(handle_), relative, keep_listings_ ? &removal_names_ : nullptr, parent, info, status))
    return status;
  if (S_ISDIR(info.st_mode)) return RemoveStatus::not_a_file;
  if (::unlinkat(parent.directory.get(), parent.name.c_str(), 0) == 0) return RemoveStatus::removed;
  return errno == ENOENT ? RemoveStatus::missing : RemoveStatus::failed;
}

WriteFolder::RemoveStatus WriteFolder::remove_empty_directory(std::string_view relative) {
  if (!open_) return RemoveStatus::failed;
  Parent parent;
  struct stat info;
  RemoveStatus status = RemoveStatus::failed;
  if (!stat_for_removal(int(handle_), relative, keep_listings_ ? &removal_names_ : nullptr, parent, info, status))
    return status;
  if (!S_ISDIR(info.st_mode)) return RemoveStatus::not_a_folder;
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
