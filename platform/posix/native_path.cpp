// System paths (code page 950 bytes, backslashes, maybe a drive letter) to native
// POSIX paths (UTF-8, slashes).

#include <iconv.h>

#include <cstdlib>
#include <string>

#include "platform/codepage.h"
#include "platform/files.h"

namespace platform {
namespace {

bool is_ascii(const std::string& text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

// Converts code page 950 bytes to UTF-8; keeps the bytes as they are when they are
// not valid code page 950 (a path typed or stored as UTF-8 already).
std::string cp950_to_utf8(const std::string& text) {
  if (is_ascii(text)) return text;
  iconv_t converter = iconv_open("UTF-8", "CP950");
  if (converter == reinterpret_cast<iconv_t>(-1)) return text;
  std::string out(text.size() * 3 + 4, '\0');
  char* in_ptr = const_cast<char*>(text.data());
  std::size_t in_left = text.size();
  char* out_ptr = out.data();
  std::size_t out_left = out.size();
  const std::size_t result = iconv(converter, &in_ptr, &in_left, &out_ptr, &out_left);
  iconv_close(converter);
  if (result == static_cast<std::size_t>(-1) || in_left != 0) return text;
  out.resize(out.size() - out_left);
  return out;
}

std::string wine_prefix() {
  if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) return prefix;
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.wine";
}

}  // namespace

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
  return path + cp950_to_utf8(rest);
}

}  // namespace platform
