// Win32 write folder: before a level below the folder is used, its attributes are
// read, and a reparse point (a junction, a symbolic link, a mount point) is refused
// instead of passed through (folder_levels.h).

#include "platform/write_folder.h"

#include <windows.h>

#include "platform/codepage.h"
#include "platform/win32/folder_levels.h"

namespace platform {

using namespace win32;

WriteFolder::Status WriteFolder::open(const std::string& path) {
  close();
  const DWORD attributes = GetFileAttributesA(path.c_str());
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
  DWORD attributes = GetFileAttributesA(full.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    CreateDirectoryA(full.c_str(), nullptr);
    attributes = GetFileAttributesA(full.c_str());
  }
  if (attributes == INVALID_FILE_ATTRIBUTES) return WriteStatus::cannot_open;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return WriteStatus::link_in_way;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? WriteStatus::ok : WriteStatus::cannot_open;
}

OutputFile::Status WriteFolder::create_new(std::string_view relative, OutputFile& file) {
  file.close();
  if (!open_) return OutputFile::Status::failed;
  std::string full;
  if (resolve(path_, relative, false, full) != WriteStatus::ok) return OutputFile::Status::failed;
  HANDLE handle =
      CreateFileA(full.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
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
  SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return WriteStatus::cannot_open;
  return WriteStatus::ok;
}

bool WriteFolder::remove(std::string_view relative) {
  if (!open_) return false;
  std::string full;
  if (resolve(path_, relative, false, full) != WriteStatus::ok) return false;
  const DWORD attributes = GetFileAttributesA(full.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileA(full.c_str()) != FALSE;
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
  const DWORD attributes = GetFileAttributesA(full.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? RemoveStatus::missing
                                                                          : RemoveStatus::failed;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return RemoveStatus::failed;
  // A symbolic link to a file is deleted itself by DeleteFileA.
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileA(full.c_str())) return RemoveStatus::removed;
  return GetLastError() == ERROR_FILE_NOT_FOUND ? RemoveStatus::missing : RemoveStatus::failed;
}

WriteFolder::RemoveStatus WriteFolder::remove_empty_directory(std::string_view relative) {
  if (!open_) return RemoveStatus::failed;
  std::string full;
  RemoveStatus status = RemoveStatus::failed;
  if (!resolve_for_removal(path_, relative, full, status)) return status;
  const DWORD attributes = GetFileAttributesA(full.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? RemoveStatus::missing
                                                                          : RemoveStatus::failed;
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return RemoveStatus::failed;
  if (RemoveDirectoryA(full.c_str())) return RemoveStatus::removed;
  return GetLastError() == ERROR_DIR_NOT_EMPTY ? RemoveStatus::not_empty : RemoveStatus::failed;
}

MappedFile::Status WriteFolder::map(std::string_view relative, MappedFile& file) {
  file.close();
  if (!open_) return MappedFile::Status::failed;
  std::string full;
  bool missing = false;
  if (resolve(path_, relative, false, full, &missing) != WriteStatus::ok)
    return missing ? MappedFile::Status::missing : MappedFile::Status::failed;
  const DWORD attributes = GetFileAttributesA(full.c_str());
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
  WIN32_FIND_DATAA item;
  HANDLE search = FindFirstFileA(full.c_str(), &item);
  if (search == INVALID_HANDLE_VALUE) return found;
  do {
    const std::string name = item.cFileName;
    if (name != "." && name != "..") found.push_back(name);
  } while (FindNextFileA(search, &item));
  FindClose(search);
  return found;
}

bool is_file_system_root(const std::string& path) {
  char volume[MAX_PATH];
  if (!GetVolumePathNameA(path.c_str(), volume, MAX_PATH)) return false;
  std::string folder = path;
  std::string root = volume;
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/') &&
         find_last_separator(folder, true) == folder.size() - 1)
    folder.pop_back();
  while (!root.empty() && root.back() == '\\') root.pop_back();
  return !folder.empty() &&
         CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, folder.c_str(), -1, root.c_str(), -1) == CSTR_EQUAL;
}

}  // namespace platform
