// System paths (code page 950 bytes, backslashes, maybe a drive letter) to native
// POSIX paths (UTF-8, slashes).

#include <cstdlib>
#include <string>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/text.h"

namespace platform {
namespace {

std::string wine_prefix() {
  if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) return prefix;
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.wine";
}

}  // namespace

// System paths are code page 950 here whatever is asked: there is no ANSI code page.
void set_path_code_page(PathCodePage) {}

std::string native_path(const std::string& system_path) {
  std::string path;
  std::size_t start = 0;
  const bool drive =
      system_path.size() >= 2 && system_path[1] == ':' &&
      ((system_path[0] >= 'A' && system_path[0] <= 'Z') || (system_path[0] >= 'a' && system_path[0] <= 'z'));
  if (drive) {
    path = wine_prefix() + "/dosdevices/" + char(system_path[0] | 0x20) + ":";
    start = 2;
    if (start < system_path.size() && system_path[start] != '\\' && system_path[start] != '/') path += '/';
  }
  std::string rest = system_path.substr(start);
  for (std::size_t i = find_separator(rest, 0); i < rest.size(); i = find_separator(rest, i + 1)) rest[i] = '/';
  // Bytes that are not code page 950 (a path typed as UTF-8 already) stay as they are.
  return path + cp950_to_utf8(rest).value_or(rest);
}

}  // namespace platform
