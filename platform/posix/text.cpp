// Text conversion with iconv.

#include "platform/text.h"

#include <iconv.h>

#include <cerrno>

namespace platform {
namespace {

bool is_ascii(std::string_view text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

std::optional<std::string> convert(std::string_view text, const char* to, const char* from, bool replace_invalid) {
  if (is_ascii(text)) return std::string(text);
  iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string result;
  std::string input(text);
  char* in = input.data();
  std::size_t in_left = input.size();
  char buffer[256];
  bool failed = false;
  while (in_left > 0) {
    char* out = buffer;
    std::size_t out_left = sizeof buffer;
    const std::size_t done = iconv(converter, &in, &in_left, &out, &out_left);
    result.append(buffer, static_cast<std::size_t>(out - buffer));
    if (done != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
    if (!replace_invalid) {
      failed = true;
      break;
    }
    result += '?';  // an invalid or cut-off sequence: one byte
    ++in;
    --in_left;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
  }
  char* out = buffer;
  std::size_t out_left = sizeof buffer;
  iconv(converter, nullptr, nullptr, &out, &out_left);
  result.append(buffer, static_cast<std::size_t>(out - buffer));
  iconv_close(converter);
  if (failed) return std::nullopt;
  return result;
}

}  // namespace

std::optional<std::string> cp950_to_utf8(std::string_view text, bool replace_invalid) {
  return convert(text, "UTF-8", "CP950", replace_invalid);
}

std::optional<std::string> utf8_to_cp950(std::string_view text) { return convert(text, "CP950", "UTF-8", false); }

std::optional<std::string> file_name_to_cp950(const std::filesystem::path& name) {
  return utf8_to_cp950(name.string());
}

}  // namespace platform
