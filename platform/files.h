#pragma once
// Files, mappings and directories for the portable code. Every path here is a system
// path: bytes of code page 950 with backslashes between levels. The POSIX backend
// turns it into a native path (see native_path).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform {

class WriteFolder;

using ByteView = std::span<const std::uint8_t>;

// The native form of a system path: identical on Windows; on POSIX backslashes become
// slashes (a 0x5C trail byte of a double-byte character stays), the bytes are
// converted from code page 950 to UTF-8, and a leading drive letter "X:" is mapped
// through ${WINEPREFIX:-$HOME/.wine}/dosdevices/x:.
std::string native_path(const std::string& system_path);

// The code page in which the Windows backend reads system paths (it hands them to the
// wide calls through UTF-16, and turns the names it gets back into this code page):
// system_ansi, the default, reads them as the ANSI calls would; cp950 reads them as
// code page 950 whatever the ANSI code page is, for the installer and the pak tool,
// whose names must be those of the game's systems. POSIX always reads code page 950.
enum class PathCodePage { system_ansi, cp950 };
void set_path_code_page(PathCodePage code_page);

// A whole existing file mapped read-only for the life of the object.
class MappedFile {
 public:
  enum class Status { ok, missing, failed };
  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile() { close(); }

  // Maps the file. missing: no such file (nothing is held; on POSIX also a directory);
  // failed: it exists but could not be opened or mapped, or is no regular file (a FIFO
  // or device, refused without blocking). Closes whatever was mapped before.
  Status open(const std::string& path);
  void close();
  bool is_open() const { return is_open_; }
  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  friend class WriteFolder;
  // Maps the file open on handle, which the object then owns (closed on failure).
  Status adopt(std::intptr_t handle);

  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  bool is_open_ = false;
  std::intptr_t file_handle_ = -1;
  [[maybe_unused]] std::intptr_t mapping_handle_ = -1;  // Windows only
};

// Reads a whole existing regular file; nothing when it cannot be opened or read, is no
// regular file (a directory, FIFO or device, refused without blocking), or is larger
// than max_size bytes (checked before anything is read).
std::optional<std::vector<std::uint8_t>> read_file(const std::string& path, std::size_t max_size = SIZE_MAX);

bool file_exists(const std::string& path);

// What stands at a system path; a link is not followed.
enum class PathKind {
  missing,  // nothing (or a level on the way is missing or no folder)
  file,     // a regular file
  folder,
  link,   // a symbolic link, junction or other reparse point
  other,  // a FIFO, device or socket
};
PathKind path_kind(const std::string& path);

// True when the system path does not depend on the current folder: on Windows a drive
// letter with its separator ("C:\") or a UNC path ("\\server\share"); on POSIX a path
// whose native form starts with "/" (a drive letter maps into the Wine prefix).
bool is_absolute_path(const std::string& path);

enum class WriteStatus {
  ok,
  cannot_open,   // the file (or a temporary beside it) could not be created or replaced: locked, no access
  write_failed,  // writing or flushing failed (full disk, I/O error)
  link_in_way,   // a symbolic link, junction or other reparse point stands where a level or the file should be
  bad_path,      // a level is empty, "." or "..", or the path is too long for the system
  not_a_file,    // a folder (or other non-file) stands where the file should be
  not_a_folder,  // a file stands where a folder on the way should be
};

// The permission bits a written file gets (POSIX; Windows has none to set).
enum class FileMode {
  keep,     // those of the file it replaces, without set-user-id and set-group-id; the default for a new file
  program,  // the same, and execute permission for everyone who may read it
};

// Replaces the whole content of path, through a write folder on the folder that holds
// it (see write_folder.h): a temporary file beside it, flushed and moved over it in
// one step. On any failure the old file stays as it was and no temporary file is left.
// The one way to write a file named by its own path (a log, a tool's output).
WriteStatus write_file_replacing(const std::string& path, ByteView data, FileMode mode = FileMode::keep);

// A new file written sequentially with seeks back for patches, then flushed. Used for
// the temporary pack of a rebuild. Created only through a write folder
// (WriteFolder::create_new), which keeps it inside the folder and off links.
class OutputFile {
 public:
  enum class Status { ok, exists, failed };
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { close(); }

  bool write(const void* data, std::size_t size);
  bool seek(std::uint64_t position);
  bool seek_to_end();
  std::uint64_t position() const { return position_; }
  // Flushes the content to the disk; false on failure.
  bool sync();
  // Closes the handle; false if closing reported an error. Harmless when not open.
  bool close();
  bool is_open() const { return handle_ != -1; }

 private:
  friend class WriteFolder;
  std::intptr_t handle_ = -1;
  std::uint64_t position_ = 0;
  std::uint64_t end_ = 0;
};

// Test hook: after this many more bytes written to files (write folders, batches and
// OutputFile), writes fail as on a full disk. A negative value switches it off. See
// write_faults.h for failures counted by write and by flush.
void inject_write_failure_after(std::int64_t bytes);

}  // namespace platform
