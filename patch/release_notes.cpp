#include "patch/release_notes.h"

#include <cstdio>

#include "platform/text.h"

namespace patch {
namespace {

// Why the first character of line that has no code page 950 form fails, by column.
std::string first_unconvertible(const std::string& line) {
  std::size_t column = 1;
  for (std::size_t i = 0; i < line.size(); ++column) {
    std::size_t length = 1;
    const auto lead = static_cast<unsigned char>(line[i]);
    if (lead >= 0xF0)
      length = 4;
    else if (lead >= 0xE0)
      length = 3;
    else if (lead >= 0xC0)
      length = 2;
    const std::string character = line.substr(i, length);
    if (!platform::utf8_to_cp950(character)) {
      std::string hex;
      for (unsigned char byte : character) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        if (!hex.empty()) hex += ' ';
        hex += digits;
      }
      const bool valid_utf8 = platform::cp950_to_utf8(character).has_value() || length > 1;
      return ", column " + std::to_string(column) + ": " +
             (valid_utf8 ? "\"" + character + "\" (" + hex + ") has no code page 950 form"
                         : "byte " + hex + " is not UTF-8 (use --notes-encoding cp950 for Big5 notes)");
    }
    i += length;
  }
  return ": not convertible to code page 950";
}

}  // namespace

bool notes_as_cp950(const std::vector<std::uint8_t>& bytes, bool already_cp950, const std::string& file,
                    std::string& notes, std::string& error) {
  std::string text(bytes.begin(), bytes.end());
  if (!already_cp950 && text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
  std::string out;
  std::size_t start = 0, line_number = 1;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    const bool last = end == std::string::npos;
    if (last) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string where = file + ": line " + std::to_string(line_number);
    if (line.find('\0') != std::string::npos) {
      error = where + ": holds a NUL byte";
      return false;
    }
    if (already_cp950) {
      if (!platform::cp950_to_utf8(line)) {
        error = where + ": not code page 950 text";
        return false;
      }
      out += line;
    } else if (auto converted = platform::utf8_to_cp950(line)) {
      out += *converted;
    } else {
      error = where + first_unconvertible(line);
      return false;
    }
    if (last) break;
    out += "\r\n";
    start = end + 1;
    ++line_number;
  }
  notes = std::move(out);
  return true;
}

}  // namespace patch
