// POSIX resources: the table appended to the executable file (resource_table.h).
// The file is mapped read-only once and stays mapped for the run of the program.

#include "platform/resources.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/loaded_table.h"

namespace platform {
namespace {

LoadedTable load_own_table() {
  LoadedTable loaded;
  const int fd = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return loaded;
  struct stat info;
  if (::fstat(fd, &info) == 0 && info.st_size > 0) {
    void* view = ::mmap(nullptr, std::size_t(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (view != MAP_FAILED && !loaded.locate(static_cast<const std::uint8_t*>(view), std::size_t(info.st_size)))
      ::munmap(view, std::size_t(info.st_size));
  }
  ::close(fd);
  loaded.summarize();
  return loaded;
}

const LoadedTable& own_table() {
  static const LoadedTable loaded = load_own_table();
  return loaded;
}

}  // namespace

const OwnTable& own_attached_table() { return own_table().summary; }

std::optional<ByteView> find_own_resource(std::string_view name) { return own_table().find(name); }

}  // namespace platform
