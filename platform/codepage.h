#pragma once
// Code page 950 (Big5) facts the portable code needs: system paths and texts are
// bytes of this code page, and a backslash (0x5C) may be the trail byte of a
// double-byte character such as B3 5C.

#include <cstddef>
#include <string_view>

namespace platform {

// True for the lead byte of a double-byte character of code page 950.
constexpr bool is_lead_byte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

// Index of the next separator ('\\' only, or also '/' when slash_too) at or after
// from, stepping over double-byte characters; text.size() when there is none.
constexpr std::size_t find_separator(std::string_view text, std::size_t from, bool slash_too = false) {
  for (std::size_t i = from; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\\' || (slash_too && byte == '/')) return i;
    if (is_lead_byte(byte) && i + 1 < text.size()) ++i;
  }
  return text.size();
}

// Index of the last separator, stepping over double-byte characters from the start;
// std::string_view::npos when there is none.
constexpr std::size_t find_last_separator(std::string_view text, bool slash_too = false) {
  std::size_t last = std::string_view::npos;
  for (std::size_t i = find_separator(text, 0, slash_too); i < text.size(); i = find_separator(text, i + 1, slash_too))
    last = i;
  return last;
}

}  // namespace platform
