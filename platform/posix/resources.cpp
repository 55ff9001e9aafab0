// POSIX resources: the table appended to the executable file (resource_table.h).
// The file is mapped read-only once and stays mapped for the run of the program.

#include "platform/resources.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/resource_table.h"

namespace platform {
namespace {

struct LoadedTable {
  const std::uint8_t* file = nullptr;
  AttachedTable attached;
  OwnTable summary;
};

LoadedTable load_own_table() {
  LoadedTable loaded;
  const int fd = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return loaded;
  struct stat info;
  if (::fstat(fd, &info) == 0 && info.st_size > 0) {
    void* view = ::mmap(nullptr, std::size_t(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (view != MAP_FAILED) {
      loaded.file = static_cast<const std::uint8_t*>(view);
      loaded.attached = locate_attached_table({loaded.file, std::size_t(info.st_size)});
      if (loaded.attached.state != AttachedState::sound) {
        ::munmap(view, std::size_t(info.st_size));
        loaded.file = nullptr;
      }
    }
  }
  ::close(fd);
  loaded.summary.damaged = loaded.attached.state == AttachedState::damaged;
  for (const auto& entry : loaded.attached.table.entries) loaded.summary.names.push_back(entry.name);
  return loaded;
}

const LoadedTable& own_table() {
  static const LoadedTable loaded = load_own_table();
  return loaded;
}

}  // namespace

const OwnTable& own_attached_table() { return own_table().summary; }

std::optional<ByteView> find_own_resource(std::string_view name) {
  const LoadedTable& loaded = own_table();
  if (loaded.file == nullptr) return std::nullopt;
  for (const auto& entry : loaded.attached.table.entries)
    if (resource_name_equal(entry.name, name)) return ByteView{loaded.file + entry.offset, std::size_t(entry.size)};
  return std::nullopt;
}

}  // namespace platform
