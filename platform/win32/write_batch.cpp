// Win32 write batch: temporary files beside their final names, held open until commit;
// then FlushFileBuffers on each, and MoveFileExA with write-through onto the final
// name (NTFS journals the move itself, so no directory flush is needed).

#include "platform/write_batch.h"

#include "platform/win32/folder_levels.h"
#include "platform/win32/handle_io.h"
#include "platform/win32/wide_path.h"
#include "platform/write_faults.h"

namespace platform {

using namespace win32;

namespace {

class CountingWriter final : public FileWriter {
 public:
  explicit CountingWriter(HANDLE file) : file_(file) {}
  bool write(const void* data, std::size_t size) override {
    if (!write_all(file_, data, size)) return false;
    written += size;
    return true;
  }
  std::uint64_t written = 0;

 private:
  HANDLE file_;
};

// base joined with one level.
std::string join_full(const std::string& base, std::string_view level) {
  std::string full = base;
  append_level(full, level);
  return full;
}

// ok for an existing directory that is no reparse point.
WriteStatus check_directory(const std::string& full) { return directory_status(win32::get_file_attributes(full)); }

HANDLE handle_of(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

WriteBatch::WriteBatch(WriteFolder& folder) : folder_(folder) {}

WriteBatch::~WriteBatch() {
  discard();
  close_directory();
}

void WriteBatch::close_directory() {
  open_path_.clear();
  open_relative_.clear();
  open_handle_ = -1;
}

WriteStatus WriteBatch::open_directory(const std::string& relative) {
  if (open_handle_ == 0 && open_relative_ == relative) return WriteStatus::ok;
  close_directory();
  if (!folder_.open_) return WriteStatus::cannot_open;
  std::string full = folder_.path_;
  if (!relative.empty()) {
    if (const WriteStatus status = resolve(folder_.path_, relative, false, full); status != WriteStatus::ok)
      return status;
    if (const WriteStatus status = check_directory(full); status != WriteStatus::ok) return status;
  }
  open_path_ = full;
  open_relative_ = relative;
  open_handle_ = 0;  // marks open_path_ as checked
  if (remove_stale_ && cleaned_directories_.insert(relative).second) remove_stale_in_open_directory();
  return WriteStatus::ok;
}

void WriteBatch::remove_stale_in_open_directory() {
  const auto pattern = win32::wide_path(join_full(open_path_, "*"));
  if (!pattern) return;
  WIN32_FIND_DATAW item;
  HANDLE search = FindFirstFileW(pattern->c_str(), &item);
  if (search == INVALID_HANDLE_VALUE) return;
  std::vector<std::string> stale;
  do {
    const std::string name = win32::system_path(item.cFileName);
    if (!(item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (is_own_temp_name(name) || is_legacy_temp_name(name, "~")))
      stale.push_back(name);
  } while (FindNextFileW(search, &item));
  FindClose(search);
  for (const std::string& name : stale) win32::delete_file(join_full(open_path_, name));
}

WriteStatus WriteBatch::make_directories(std::string_view relative) {
  if (!folder_.open_) return WriteStatus::cannot_open;
  if (known_directories_.count(std::string(relative)) != 0) return WriteStatus::ok;
  std::vector<std::string> levels;
  if (!split_relative_levels(relative, levels)) return WriteStatus::bad_path;
  std::string full = folder_.path_;
  std::size_t start = 0;
  for (const std::string& level : levels) {
    const std::size_t end = find_separator(relative, start);
    full = join_full(full, level);
    if (full.size() >= MAX_PATH) return WriteStatus::bad_path;
    if (win32::get_file_attributes(full) == INVALID_FILE_ATTRIBUTES && win32::create_directory(full))
      made_in_.emplace(relative.substr(0, start == 0 ? 0 : start - 1));
    if (const WriteStatus status = check_directory(full); status != WriteStatus::ok) return status;
    known_directories_.emplace(relative.substr(0, end));
    start = end + 1;
  }
  return WriteStatus::ok;
}

WriteStatus WriteBatch::write_file(std::string_view relative, FileProducer& producer, std::string label, FileMode) {
  if (!folder_.open_) return WriteStatus::cannot_open;
  std::vector<std::string> levels;
  if (!split_relative_levels(relative, levels)) return WriteStatus::bad_path;
  const std::size_t last = find_last_separator(relative);
  const std::string directory(last == std::string_view::npos ? std::string_view() : relative.substr(0, last));
  if (const WriteStatus status = open_directory(directory); status != WriteStatus::ok) return status;
  const std::string full = join_full(open_path_, levels.back());
  if (full.size() >= MAX_PATH) return WriteStatus::bad_path;
  if (const WriteStatus status = check_target(full); status != WriteStatus::ok) return status;
  // A read-only, hidden or system file must not stop the replacement.
  win32::set_file_attributes(full, FILE_ATTRIBUTE_NORMAL);
  std::string temp, temp_full;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temp = temp_file_name("~");
    temp_full = join_full(open_path_, temp);
    if (temp_full.size() >= MAX_PATH) return WriteStatus::bad_path;
    file = win32::create_file(temp_full, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return WriteStatus::cannot_open;
  }
  if (file == INVALID_HANDLE_VALUE) return WriteStatus::cannot_open;
  CountingWriter writer(file);
  if (!producer.produce(writer)) {
    CloseHandle(file);
    win32::delete_file(temp_full);
    return WriteStatus::write_failed;
  }
  File entry{temp, levels.back(), std::string(relative), std::move(label)};
  entry.handle = reinterpret_cast<std::intptr_t>(file);
  directory_entry(directory).files.push_back(std::move(entry));
  ++files_;
  bytes_ += writer.written;
  if (files_ >= MAX_FILES || bytes_ >= MAX_BYTES) commit();
  return WriteStatus::ok;
}

void WriteBatch::fail(File& file, WriteStatus status) {
  if (file.handle != -1) CloseHandle(handle_of(file.handle));
  file.handle = -1;
  if (!file.temp.empty() && open_handle_ == 0) win32::delete_file(join_full(open_path_, file.temp));
  file.temp.clear();
  failures_.push_back(Failure{file.relative, file.label, status});
}

void WriteBatch::flush_files() {
  for (Directory& directory : directories_) {
    const WriteStatus opened = open_directory(directory.relative);
    for (File& file : directory.files) {
      if (file.handle == -1) continue;
      const bool flushed = take_fault_point(FaultPoint::flush) && FlushFileBuffers(handle_of(file.handle)) != FALSE;
      const bool closed = CloseHandle(handle_of(file.handle)) != FALSE;
      file.handle = -1;
      if (opened != WriteStatus::ok)
        fail(file, opened);
      else if (!flushed || !closed)
        fail(file, WriteStatus::write_failed);
    }
  }
}

bool WriteBatch::commit() {
  const std::size_t failures_before = failures_.size();
  flush_files();
  // Each directory is checked again before files move into it: a reparse point put
  // in its place while the batch ran is refused.
  close_directory();
  for (Directory& directory : directories_) {
    const WriteStatus opened = open_directory(directory.relative);
    for (File& file : directory.files) {
      if (file.temp.empty()) continue;
      if (opened != WriteStatus::ok) {
        failures_.push_back(Failure{file.relative, file.label, opened});
        continue;
      }
      const std::string full = join_full(open_path_, file.name);
      if (!win32::move_file(join_full(open_path_, file.temp), full, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        fail(file, WriteStatus::cannot_open);
    }
  }
  directories_.clear();
  directory_index_.clear();
  made_in_.clear();
  files_ = 0;
  bytes_ = 0;
  return failures_.size() == failures_before;
}

void WriteBatch::discard() {
  for (Directory& directory : directories_) {
    const bool opened = open_directory(directory.relative) == WriteStatus::ok;
    for (File& file : directory.files) {
      if (file.handle != -1) CloseHandle(handle_of(file.handle));
      file.handle = -1;
      if (opened && !file.temp.empty()) win32::delete_file(join_full(open_path_, file.temp));
    }
  }
  directories_.clear();
  directory_index_.clear();
  files_ = 0;
  bytes_ = 0;
}

}  // namespace platform
