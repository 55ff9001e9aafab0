// Win32 write folder: before a level below the folder is used, its attributes are
// read, and a reparse point (a junction, a symbolic link, a mount point) is refused
// instead of passed through. Paths go to the wide calls through wide_path.h and stay
// within MAX_PATH bytes, the limit of the ANSI calls that the installer's other paths
// come from.

#include "platform/write_folder.h"

#include <windows.h>

#include "platform/codepage.h"
#include "platform/win32/handle_io.h"
#include "platform/win32/wide_path.h"

namespace platform {
namespace {

bool split_levels(std::string_view relative, std::vector<std::string>& levels) {
  levels.clear();
  std::size_t start = 0;
  while (start <= relative.size()) {
    const std::size_t end = find_separator(relative, start);
    const std::string_view level = relative.substr(start, end - start);
    if (level.empty() || level == "." || level == ".." || level.find('/') != std::string_view::npos) return false;
    levels.emplace_back(level);
    start = end + 1;
  }
  return true;
}

// The full path of relative below folder, each directory level on the way checked
// (and made when create is set). full gets the path of the last level.
WriteStatus resolve(const std::string& folder, std::string_view relative, bool create, std::string& full,
                    bool* missing = nullptr) {
  std::vector<std::string> levels;
  if (!split_levels(relative, levels)) return WriteStatus::bad_path;
  full = folder;
  for (std::size_t i = 0; i < levels.size(); ++i) {
    // A final 0x5C that is the trail byte of a double-byte character is no separator.
    if (!full.empty() && find_last_separator(full, true) != full.size() - 1) full += '\\';
    full += levels[i];
    if (full.size() >= MAX_PATH) return WriteStatus::bad_path;
    if (i + 1 == levels.size()) break;
    DWORD attributes = win32::get_file_attributes(full);
    if (attributes == INVALID_FILE_ATTRIBUTES && create) {
      win32::create_directory(full);
      attributes = win32::get_file_attributes(full);
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      if (missing != nullptr) *missing = true;
      return WriteStatus::cannot_open;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return WriteStatus::link_in_way;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return WriteStatus::cannot_open;
  }
  return WriteStatus::ok;
}

// What stands at full: nothing, a file, or something in the way.
WriteStatus check_target(const std::string& full) {
  const DWORD attributes = win32::get_file_attributes(full);
  if (attributes == INVALID_FILE_ATTRIBUTES) return WriteStatus::ok;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return WriteStatus::link_in_way;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return WriteStatus::cannot_open;
  return WriteStatus::ok;
}

std::string directory_part(const std::string& full) {
  const std::size_t last = find_last_separator(full, true);
  return last == std::string::npos ? std::string(".") : full.substr(0, last);
}

class HandleWriter final : public FileWriter {
 public:
  explicit HandleWriter(HANDLE file) : file_(file) {}
  bool write(const void* data, std::size_t size) override { return win32::write_all(file_, data, size); }

 private:
  HANDLE file_;
};

;

}  // namespace

WriteFolder::Status WriteFolder::open(const std::string& path) {
  close();
  const DWORD attributes = win32::get_file_attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? Status::missing : Status::failed;
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return Status::not_a_folder;
  path_ = path;
  open_ = true;
  return Status::ok;
}

void WriteFolder::close() {
  path_.clear();
  open_ = false;
}

WriteStatus WriteFolder::make_directories(std::string_view relative) {
  if (!open_) return WriteStatus::cannot_open;
  std::string full;
  if (const WriteStatus status = resolve(path_, relative, true, full); status != WriteStatus::ok) return status;
  DWORD attributes = win32::get_file_attributes(full);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    win32::create_directory(full);
    attributes = win32::get_file_attributes(full);
  }
  if (attributes == INVALID_FILE_ATTRIBUTES) return WriteStatus::cannot_open;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return WriteStatus::link_in_way;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? WriteStatus::ok : WriteStatus::cannot_open;
}

WriteStatus WriteFolder::write_file(std::string_view relative, FileProducer& producer) {
  if (!open_) return WriteStatus::cannot_open;
  std::string full;
  if (const WriteStatus status = resolve(path_, relative, false, full); status != WriteStatus::ok) return status;
  if (const WriteStatus status = check_target(full); status != WriteStatus::ok) return status;
  // A read-only, hidden or system file must not stop the replacement.
  win32::set_file_attributes(full, FILE_ATTRIBUTE_NORMAL);
  const std::string directory = directory_part(full);
  std::string temp;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temp = directory + "\\" + temp_file_name("~");
    if (temp.size() >= MAX_PATH) return WriteStatus::bad_path;
    file = win32::create_file(temp, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return WriteStatus::cannot_open;
  }
  if (file == INVALID_HANDLE_VALUE) return WriteStatus::cannot_open;
  HandleWriter writer(file);
  const bool written = producer.produce(writer) && FlushFileBuffers(file);
  const bool closed = CloseHandle(file);
  if (!written || !closed) {
    win32::delete_file(temp);
    return WriteStatus::write_failed;
  }
  if (!win32::move_file(temp, full, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    win32::delete_file(temp);
    return WriteStatus::cannot_open;
  }
  return WriteStatus::ok;
}

OutputFile::Status WriteFolder::create_new(std::string_view relative, OutputFile& file) {
  file.close();
  if (!open_) return OutputFile::Status::failed;
  std::string full;
  if (resolve(path_, relative, false, full) != WriteStatus::ok) return OutputFile::Status::failed;
  HANDLE handle = win32::create_file(full, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
  if (handle == INVALID_HANDLE_VALUE)
    return GetLastError() == ERROR_FILE_EXISTS ? OutputFile::Status::exists : OutputFile::Status::failed;
  file.handle_ = reinterpret_cast<std::intptr_t>(handle);
  file.position_ = 0;
  file.end_ = 0;
  return OutputFile::Status::ok;
}

WriteStatus WriteFolder::replace(std::string_view from, std::string_view to) {
  if (!open_) return WriteStatus::cannot_open;
  std::string source, target;
  if (const WriteStatus status = resolve(path_, from, false, source); status != WriteStatus::ok) return status;
  if (const WriteStatus status = resolve(path_, to, false, target); status != WriteStatus::ok) return status;
  if (const WriteStatus status = check_target(target); status != WriteStatus::ok) return status;
  win32::set_file_attributes(target, FILE_ATTRIBUTE_NORMAL);
  if (!win32::move_file(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return WriteStatus::cannot_open;
  return WriteStatus::ok;
}

bool WriteFolder::remove(std::string_view relative) {
  if (!open_) return false;
  std::string full;
  if (resolve(path_, relative, false, full) != WriteStatus::ok) return false;
  const DWORD attributes = win32::get_file_attributes(full);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  win32::set_file_attributes(full, FILE_ATTRIBUTE_NORMAL);
  return win32::delete_file(full) != FALSE;
}

namespace {

// Resolves relative for a removal; ok with full set, or the status to return.
bool resolve_for_removal(const std::string& folder, std::string_view relative, std::string& full,
                         WriteFolder::RemoveStatus& status) {
  bool missing = false;
  const WriteStatus resolved = resolve(folder, relative, false, full, &missing);
  if (resolved == WriteStatus::ok) return true;
  status = resolved == WriteStatus::bad_path      ? WriteFolder::RemoveStatus::bad_path
           : resolved == WriteStatus::link_in_way ? WriteFolder::RemoveStatus::link_in_way
           : missing                              ? WriteFolder::RemoveStatus::missing
                                                  : WriteFolder::RemoveStatus::failed;
  // A file where a folder level should be: what is to be removed cannot be there.
  if (resolved == WriteStatus::cannot_open && !missing) status = WriteFolder::RemoveStatus::missing;
  return false;
}

}  // namespace

WriteFolder::RemoveStatus WriteFolder::remove_file(std::string_view relative) {
  if (!open_) return RemoveStatus::failed;
  std::string full;
  RemoveStatus status = RemoveStatus::failed;
  if (!resolve_for_removal(path_, relative, full, status)) return status;
  const DWORD attributes = win32::get_file_attributes(full);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? RemoveStatus::missing
                                                                          : RemoveStatus::failed;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return RemoveStatus::failed;
  // A symbolic link to a file is deleted itself by DeleteFileA.
  if (attributes & FILE_ATTRIBUTE_READONLY) win32::set_file_attributes(full, FILE_ATTRIBUTE_NORMAL);
  if (win32::delete_file(full)) return RemoveStatus::removed;
  return GetLastError() == ERROR_FILE_NOT_FOUND ? RemoveStatus::missing : RemoveStatus::failed;
}

WriteFolder::RemoveStatus WriteFolder::remove_empty_directory(std::string_view relative) {
  if (!open_) return RemoveStatus::failed;
  std::string full;
  RemoveStatus status = RemoveStatus::failed;
  if (!resolve_for_removal(path_, relative, full, status)) return status;
  const DWORD attributes = win32::get_file_attributes(full);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? RemoveStatus::missing
                                                                          : RemoveStatus::failed;
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return RemoveStatus::failed;
  if (win32::remove_directory(full)) return RemoveStatus::removed;
  return GetLastError() == ERROR_DIR_NOT_EMPTY ? RemoveStatus::not_empty : RemoveStatus::failed;
}

MappedFile::Status WriteFolder::map(std::string_view relative, MappedFile& file) {
  file.close();
  if (!open_) return MappedFile::Status::failed;
  std::string full;
  bool missing = false;
  if (resolve(path_, relative, false, full, &missing) != WriteStatus::ok)
    return missing ? MappedFile::Status::missing : MappedFile::Status::failed;
  const DWORD attributes = win32::get_file_attributes(full);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return MappedFile::Status::failed;
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return MappedFile::Status::missing;
  return file.open(full);
}

std::vector<std::string> WriteFolder::names(std::string_view relative) {
  std::vector<std::string> found;
  if (!open_) return found;
  std::string full = path_;
  if (!relative.empty() && resolve(path_, std::string(relative) + "\\*", false, full) != WriteStatus::ok) return found;
  if (relative.empty()) full += full.empty() || full.back() == '\\' ? "*" : "\\*";
  const auto pattern = win32::wide_path(full);
  if (!pattern) return found;
  WIN32_FIND_DATAW item;
  HANDLE search = FindFirstFileW(pattern->c_str(), &item);
  if (search == INVALID_HANDLE_VALUE) return found;
  do {
    const std::string name = win32::system_path(item.cFileName);
    if (name != "." && name != "..") found.push_back(name);
  } while (FindNextFileW(search, &item));
  FindClose(search);
  return found;
}

bool is_file_system_root(const std::string& path) {
  const auto wide = win32::wide_path(path);
  wchar_t volume[MAX_PATH];
  if (!wide || !GetVolumePathNameW(wide->c_str(), volume, MAX_PATH)) return false;
  std::string folder = path;
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/') &&
         find_last_separator(folder, true) == folder.size() - 1)
    folder.pop_back();
  std::wstring root = volume;
  while (!root.empty() && root.back() == L'\\') root.pop_back();
  const auto wide_folder = win32::wide_path(folder);
  return !folder.empty() && wide_folder &&
         CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, wide_folder->c_str(), -1, root.c_str(), -1) == CSTR_EQUAL;
}

}  // namespace platform
