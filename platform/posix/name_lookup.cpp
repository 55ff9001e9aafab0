#include "platform/posix/name_lookup.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

bool exists(int directory, const std::string& name) {
  struct stat info;
  return ::fstatat(directory, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace

namespace posix {

bool list_directory(int directory, std::vector<std::string>& names) {
  names.clear();
  // A descriptor of its own: reading a listing moves the position of the one read.
  const int fd = ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  DIR* listing = ::fdopendir(fd);
  if (listing == nullptr) {
    ::close(fd);
    return false;
  }
  while (const dirent* item = ::readdir(listing)) {
    const std::string_view name = item->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(listing);
  return true;
}

std::string existing_name(int directory, const std::string& name) {
  if (exists(directory, name)) return name;
  std::vector<std::string> names;
  if (!list_directory(directory, names)) return name;
  return pick_existing_name(names, name).value_or(name);
}

}  // namespace posix

NameLookup::Listing* NameLookup::listing(std::intptr_t directory) {
  struct stat info;
  if (::fstat(int(directory), &info) != 0) return nullptr;
  const Key key{std::uint64_t(info.st_dev), std::uint64_t(info.st_ino)};
  if (auto found = listings_.find(key); found != listings_.end()) return &found->second;
  std::vector<std::string> names;
  if (!posix::list_directory(int(directory), names)) return nullptr;
  Listing folded;
  for (std::string& name : names) {
    auto [at, added] = folded.try_emplace(fold_ascii_case(name), name);
    // The least in byte order: an exact spelling is found before the listing is asked.
    if (!added && name < at->second) at->second = std::move(name);
  }
  return &listings_.emplace(key, std::move(folded)).first->second;
}

std::string NameLookup::existing_name(std::intptr_t directory, const std::string& name) {
  if (exists(int(directory), name)) return name;
  const Listing* names = listing(directory);
  if (names == nullptr) return name;
  const auto found = names->find(fold_ascii_case(name));
  return found != names->end() ? found->second : name;
}

void NameLookup::made(std::intptr_t directory, const std::string& name) {
  if (Listing* names = listing(directory)) names->try_emplace(fold_ascii_case(name), name);
}

}  // namespace platform
