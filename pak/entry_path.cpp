#include "pak/entry_path.h"

#include <array>

#include "pak/pak_format.h"
#include "platform/codepage.h"

namespace pak {

namespace {

// Calls visit(start, end) for each component of path, separators excluded; a
// trailing separator of a directory path closes its last component.
template <typename Visit>
bool for_each_component(std::string_view path, Visit visit) {
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = platform::find_separator(path, start);
    if (end == path.size() && start == path.size() && start != 0) return true;  // after a trailing separator
    if (!visit(path.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

bool is_reserved_device_name(std::string_view component) {
  // The device name is the part before the first dot, trailing spaces ignored.
  std::string_view base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  std::string folded;
  for (char c : base) folded += (c >= 'a' && c <= 'z') ? char(c - 0x20) : c;
  static constexpr std::array<std::string_view, 4> plain = {"CON", "PRN", "AUX", "NUL"};
  for (auto name : plain)
    if (folded == name) return true;
  if (folded.size() == 4 && (folded.starts_with("COM") || folded.starts_with("LPT")) && folded[3] >= '1' &&
      folded[3] <= '9')
    return true;
  return false;
}

}  // namespace

bool is_directory_path(std::string_view path) {
  if (path.empty()) return false;
  return platform::find_last_separator(path) == path.size() - 1;
}

std::size_t last_component_start(std::string_view path) {
  std::size_t last = 0;
  const std::size_t stop = is_directory_path(path) ? path.size() - 1 : path.size();
  for (std::size_t i = platform::find_separator(path, 0); i < stop; i = platform::find_separator(path, i + 1))
    if (i != 0) last = i + 1;
  return last;
}

std::string_view directory_part(std::string_view path) {
  std::size_t end = 0;
  for (std::size_t i = platform::find_separator(path, 0); i < path.size(); i = platform::find_separator(path, i + 1))
    if (i != 0) end = i + 1;
  return path.substr(0, end);
}

const char* unsafe_path_reason(std::string_view path) {
  if (path.empty()) return "empty entry path";
  if (path.front() == '\\' || path.front() == '/') return "entry path begins with a separator";
  // Bytes that Windows refuses in names or treats as separators; trail bytes of
  // double-byte characters are not characters of their own.
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (platform::starts_double_byte(path, i)) {
      ++i;
      continue;
    }
    if (byte == ':') return "entry path holds a drive letter or ':'";
    if (byte < 0x20 || byte == '/' || byte == '<' || byte == '>' || byte == '"' || byte == '|' || byte == '?' ||
        byte == '*')
      return "entry path holds a character that file names cannot have";
  }
  const char* reason = nullptr;
  for_each_component(path, [&](std::string_view component) {
    if (component.empty()) {
      reason = "entry path has an empty component";
    } else if (component == "..") {
      reason = "entry path climbs out with '..'";
    } else if (component.back() == '.' || component.back() == ' ') {
      reason = "entry path has a component ending in a dot or a space";
    } else if (is_reserved_device_name(component)) {
      reason = "entry path names a reserved device (CON, PRN, AUX, NUL, COM1-9, LPT1-9)";
    }
    return reason == nullptr;
  });
  return reason;
}

const char* unstorable_path_reason(std::string_view path) {
  if (path.size() > PAK_MAX_PATH_LENGTH) return "entry path is longer than 259 bytes";
  const char* reason = nullptr;
  std::size_t start = 0;
  while (start < path.size()) {
    const std::size_t sep = platform::find_separator(path, start);
    // A directory's component keeps its backslash.
    const std::size_t length = (sep < path.size() ? sep + 1 : sep) - start;
    if (length > PAK_MAX_NAME_LENGTH) {
      reason = "entry name is longer than 31 bytes";
      break;
    }
    start = sep + 1;
  }
  return reason;
}

}  // namespace pak
