// Win32 write folder: before a level below the folder is used, its attributes are
// read, and a reparse point (a junction, a symbolic link, a mount point) is refused
// instead of passed through (folder_levels.h). Paths go to the wide calls through
// wide_path.h and stay within MAX_PATH bytes.

#include "platform/write_folder.h"

#include <windows.h>

#include "platform/codepage.h"
#include "platform/win32/folder_levels.h"
#include "platform/win32/wide_path.h"

namespace platform {

using namespace win32;

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
  return directory_status(attributes);
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

// Resolves relative for a removal and reads what stands there; true with full and
// attributes set, or false with the status to return.
bool resolve_for_removal(const std::string& folder, std::string_view relative, std::string& full, DWORD& attributes,
                         WriteFolder::RemoveStatus& status) {
  bool missing = false;
  const WriteStatus resolved = resolve(folder, relative, false, full, &missing);
  if (resolved == WriteStatus::ok) {
    attributes = win32::get_file_attributes(full);
    if (attributes != INVALID_FILE_ATTRIBUTES) return true;
    const DWORD error = GetLastError();
    status = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? WriteFolder::RemoveStatus::missing
                                                                            : WriteFolder::RemoveStatus::failed;
    return false;
  }
  status = resolved == WriteStatus::bad_path      ? WriteFolder::RemoveStatus::bad_path
           : resolved == WriteStatus::link_in_way ? WriteFolder::RemoveStatus::link_in_way
           : missing                              ? WriteFolder::RemoveStatus::missing
                                                  : WriteFolder::RemoveStatus::failed;
  // A file where a folder level should be: what is to be removed cannot be there.
  if (resolved == WriteStatus::not_a_folder) status = WriteFolder::RemoveStatus::missing;
  return false;
}

}  // namespace

WriteFolder::RemoveStatus WriteFolder::remove_file(std::string_view relative) {
  if (!open_) return RemoveStatus::failed;
  std::string full;
  RemoveStatus status = RemoveStatus::failed;
  DWORD attributes = 0;
  if (!resolve_for_removal(path_, relative, full, attributes, status)) return status;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return RemoveStatus::not_a_file;
  // A symbolic link to a file is deleted itself by DeleteFileA.
  if (attributes & FILE_ATTRIBUTE_READONLY) win32::set_file_attributes(full, FILE_ATTRIBUTE_NORMAL);
  if (win32::delete_file(full)) return RemoveStatus::removed;
  return GetLastError() == ERROR_FILE_NOT_FOUND ? RemoveStatus::missing : RemoveStatus::failed;
}

WriteFolder::RemoveStatus WriteFolder::remove_empty_directory(std::string_view relative) {
  if (!open_) return RemoveStatus::failed;
  std::string full;
  RemoveStatus status = RemoveStatus::failed;
  DWORD attributes = 0;
  if (!resolve_for_removal(path_, relative, full, attributes, status)) return status;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return RemoveStatus::not_a_folder;
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
