// Names shared by the write folder backends.

#include <cstdio>
#include <random>

#include "platform/write_folder.h"

namespace platform {

std::string join_relative(std::string_view base, std::string_view name) {
  if (base.empty()) return std::string(name);
  if (name.empty()) return std::string(base);
  std::string joined(base);
  joined += '\\';
  joined += name;
  return joined;
}

std::string temp_file_name(std::string_view prefix) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08x", unsigned(random() & 0xFFFFFFFFu));
  std::string name(prefix);
  name += digits;
  name += TEMP_FILE_SUFFIX;
  return name;
}

}  // namespace platform
