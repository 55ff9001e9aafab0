// POSIX write batch: temporary files beside their final names, made durable by one
// syncfs of the file system (or an fsync of each when few or where syncfs is missing),
// moved with renameat, and each touched directory flushed once with fsync.

#include "platform/write_batch.h"

#include <dirent.h>

#include "platform/posix/folder_levels.h"
#include "platform/write_faults.h"

namespace platform {

using namespace posix;

namespace {

// From this many files on, one syncfs of the whole file system is cheaper than an
// fsync of each: ext4 and xfs commit their journal once for all of them, where
// successive fsyncs of freshly written files commit it again for every file.
constexpr std::size_t SYNCFS_MIN_FILES = 16;

// Counts what a producer writes into a descriptor.
class CountingWriter final : public FileWriter {
 public:
  explicit CountingWriter(int fd) : fd_(fd) {}
  bool write(const void* data, std::size_t size) override {
    if (!write_all(fd_, data, size)) return false;
    written += size;
    return true;
  }
  std::uint64_t written = 0;

 private:
  int fd_;
};

// Makes the directory name (spelt exactly so) below parent when it is missing and
// opens it; created tells whether it was made here.
WriteStatus make_level(int parent, const std::string& name, bool& created, Descriptor& out) {
  created = false;
  const WriteStatus status = open_named_level(parent, name, false, out);
  if (status == WriteStatus::ok) return status;
  if (::mkdirat(parent, name.c_str(), 0777) == 0)
    created = true;
  else if (errno != EEXIST)
    return status_of_errno(errno);
  return open_named_level(parent, name, false, out);
}

}  // namespace

WriteBatch::WriteBatch(WriteFolder& folder) : folder_(folder) {}

WriteBatch::~WriteBatch() {
  discard();
  close_directory();
}

void WriteBatch::close_directory() {
  if (open_handle_ >= 0) ::close(int(open_handle_));
  open_handle_ = -1;
  open_relative_.clear();
}

WriteStatus WriteBatch::open_directory(const std::string& relative) {
  if (open_handle_ >= 0 && open_relative_ == relative) return WriteStatus::ok;
  close_directory();
  if (!folder_.open_) return WriteStatus::cannot_open;
  Descriptor directory;
  if (relative.empty()) {
    directory.reset(::fcntl(int(folder_.handle_), F_DUPFD_CLOEXEC, 0));
    if (directory.get() < 0) return WriteStatus::cannot_open;
  } else {
    Parent parent = resolve_parent(int(folder_.handle_), relative, false);
    if (parent.status != WriteStatus::ok) return parent.status;
    if (const WriteStatus status = open_level(parent.directory.get(), parent.name, false, directory);
        status != WriteStatus::ok)
      return status;
  }
  open_handle_ = directory.release();
  open_relative_ = relative;
  if (remove_stale_ && cleaned_directories_.insert(relative).second) remove_stale_in_open_directory();
  return WriteStatus::ok;
}

void WriteBatch::remove_stale_in_open_directory() {
  Descriptor listed(::fcntl(int(open_handle_), F_DUPFD_CLOEXEC, 0));
  if (listed.get() < 0) return;
  DIR* listing = ::fdopendir(listed.get());
  if (listing == nullptr) return;
  listed.release();  // the listing owns it now
  std::vector<std::string> stale;
  std::vector<std::string> legacy;
  while (const dirent* item = ::readdir(listing)) {
    const std::string_view name = item->d_name;
    if (is_own_temp_name(name) || is_legacy_temp_name(name, "~"))
      stale.emplace_back(name);
    else if (name.starts_with('.') && name.ends_with(TEMP_FILE_SUFFIX))
      legacy.emplace_back(name);
  }
  ::closedir(listing);
  for (const std::string& name : stale) ::unlinkat(int(open_handle_), name.c_str(), 0);
  if (!legacy.empty()) legacy_temps_[open_relative_] = std::move(legacy);
}

void WriteBatch::remove_legacy_temps_of(const std::string& name) {
  const auto found = legacy_temps_.find(open_relative_);
  if (found == legacy_temps_.end()) return;
  // The earlier scheme named a temporary file "." + the first 64 bytes of its file's
  // name + "." + eight hex digits.
  std::string prefix(1, '.');
  prefix.append(name, 0, 64);
  prefix += '.';
  std::erase_if(found->second, [&](const std::string& temp) {
    if (!is_legacy_temp_name(temp, prefix)) return false;
    ::unlinkat(int(open_handle_), temp.c_str(), 0);
    return true;
  });
}

WriteStatus WriteBatch::make_directories(std::string_view relative) {
  if (!folder_.open_) return WriteStatus::cannot_open;
  if (known_directories_.count(std::string(relative)) != 0) return WriteStatus::ok;
  std::vector<std::string> levels;
  if (!split_levels(relative, levels)) return WriteStatus::bad_path;
  Descriptor current(::fcntl(int(folder_.handle_), F_DUPFD_CLOEXEC, 0));
  if (current.get() < 0) return WriteStatus::cannot_open;
  std::size_t start = 0;
  for (const std::string& level : levels) {
    const std::size_t end = find_separator(relative, start);
    const std::string parent(relative.substr(0, start == 0 ? 0 : start - 1));
    Descriptor next;
    bool created = false;
    const std::string name = names_.existing_name(current.get(), level);
    if (const WriteStatus status = make_level(current.get(), name, created, next); status != WriteStatus::ok)
      return status;
    if (created) {
      made_in_.insert(parent);
      names_.made(current.get(), name);
    }
    known_directories_.emplace(relative.substr(0, end));
    current = std::move(next);
    start = end + 1;
  }
  return WriteStatus::ok;
}

WriteStatus WriteBatch::write_file(std::string_view relative, FileProducer& producer, std::string label,
                                   FileMode file_mode) {
  if (!folder_.open_) return WriteStatus::cannot_open;
  std::vector<std::string> levels;
  if (!split_levels(relative, levels)) return WriteStatus::bad_path;
  const std::size_t last = find_last_separator(relative);
  const std::string directory(last == std::string_view::npos ? std::string_view() : relative.substr(0, last));
  if (const WriteStatus status = open_directory(directory); status != WriteStatus::ok) return status;
  const int at = int(open_handle_);
  // A file that the name stands for without regard to case is replaced under its own name.
  const std::string name = names_.existing_name(at, levels.back());
  if (remove_stale_) remove_legacy_temps_of(name);
  mode_t mode = 0;
  if (const WriteStatus status = replacement_mode(at, name, mode); status != WriteStatus::ok) return status;
  if (file_mode == FileMode::program) mode |= (mode & 0444) >> 2;
  std::string temp;
  Descriptor file = create_temp(at, name, temp);
  if (file.get() < 0) return WriteStatus::cannot_open;
  ::fchmod(file.get(), mode);
  CountingWriter writer(file.get());
  const bool written = producer.produce(writer);
  const bool closed = ::close(file.release()) == 0;
  if (!written || !closed) {
    ::unlinkat(at, temp.c_str(), 0);
    return WriteStatus::write_failed;
  }
  names_.made(at, name);
  directory_entry(directory).files.push_back(File{temp, name, std::string(relative), std::move(label)});
  ++files_;
  bytes_ += writer.written;
  if (files_ >= MAX_FILES || bytes_ >= MAX_BYTES) commit();
  return WriteStatus::ok;
}

void WriteBatch::fail(File& file, WriteStatus status) {
  if (!file.temp.empty() && open_handle_ >= 0) ::unlinkat(int(open_handle_), file.temp.c_str(), 0);
  file.temp.clear();
  failures_.push_back(Failure{file.relative, file.label, status});
}

void WriteBatch::flush_files() {
#ifdef __linux__
  // One pass over the whole file system: every file's data and the metadata that
  // holds it, in one journal commit.
  if (files_ >= SYNCFS_MIN_FILES && take_fault_point(FaultPoint::flush) && ::syncfs(int(folder_.handle_)) == 0) return;
#endif
  for (Directory& directory : directories_) {
    const WriteStatus opened = open_directory(directory.relative);
    for (File& file : directory.files) {
      if (opened != WriteStatus::ok) {
        fail(file, opened);
        continue;
      }
      // fsync works on a descriptor opened for reading: the data are the file's.
      Descriptor handle(::openat(int(open_handle_), file.temp.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
      if (handle.get() < 0 || !take_fault_point(FaultPoint::flush) || ::fsync(handle.get()) != 0)
        fail(file, WriteStatus::write_failed);
    }
  }
}

bool WriteBatch::commit() {
  const std::size_t failures_before = failures_.size();
  if (files_ > 0) flush_files();
  std::unordered_set<std::string> synced;
  for (Directory& directory : directories_) {
    const WriteStatus opened = open_directory(directory.relative);
    bool moved = false;
    for (File& file : directory.files) {
      if (file.temp.empty()) continue;
      if (opened != WriteStatus::ok) {
        failures_.push_back(Failure{file.relative, file.label, opened});
        continue;
      }
      if (::renameat(int(open_handle_), file.temp.c_str(), int(open_handle_), file.name.c_str()) != 0) {
        fail(file, status_of_errno(errno));
        continue;
      }
      moved = true;
    }
    // The new names are durable once their directory is.
    if (moved && (!take_fault_point(FaultPoint::directory_flush) || ::fsync(int(open_handle_)) != 0))
      for (File& file : directory.files)
        if (!file.temp.empty()) failures_.push_back(Failure{file.relative, file.label, WriteStatus::write_failed});
    synced.insert(directory.relative);
  }
  // A directory made in the batch is durable once its parent is.
  for (const std::string& parent : made_in_)
    if (synced.count(parent) == 0 && open_directory(parent) == WriteStatus::ok) ::fsync(int(open_handle_));
  directories_.clear();
  directory_index_.clear();
  made_in_.clear();
  files_ = 0;
  bytes_ = 0;
  return failures_.size() == failures_before;
}

void WriteBatch::discard() {
  for (Directory& directory : directories_) {
    if (open_directory(directory.relative) != WriteStatus::ok) continue;
    for (File& file : directory.files)
      if (!file.temp.empty()) ::unlinkat(int(open_handle_), file.temp.c_str(), 0);
  }
  directories_.clear();
  directory_index_.clear();
  files_ = 0;
  bytes_ = 0;
}

}  // namespace platform
