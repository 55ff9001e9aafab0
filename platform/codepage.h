#pragma once
// Code page 950 (Big5) facts the portable code needs: system paths and texts are
// bytes of this code page, and a backslash (0x5C) may be the trail byte of a
// double-byte character such as B3 5C.

#include <cstddef>
#include <string_view>

namespace platform {

// True for the lead byte of a double-byte character of code page 950.
constexpr bool is_lead_byte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

// True for a byte that may follow a lead byte: 0x40-0x7E or 0xA1-0xFE. A lead byte
// followed by anything else is no character: both bytes stand on their own.
constexpr bool is_trail_byte(unsigned char byte) {
  return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0xA1 && byte <= 0xFE);
}

// True when text[i] begins a double-byte character: a lead byte with a trail byte.
constexpr bool starts_double_byte(std::string_view text, std::size_t i) {
  return i + 1 < text.size() && is_lead_byte(static_cast<unsigned char>(text[i])) &&
         is_trail_byte(static_cast<unsigned char>(text[i + 1]));
}

// Index of the next separator ('\\' only, or also '/' when slash_too) at or after
// from, stepping over double-byte characters (a lead byte with a valid trail byte);
// text.size() when there is none.
constexpr std::size_t find_separator(std::string_view text, std::size_t from, bool slash_too = false) {
  for (std::size_t i = from; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\\' || (slash_too && byte == '/')) return i;
    if (starts_double_byte(text, i)) ++i;
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
