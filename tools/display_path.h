#pragma once
// Entry paths shown to people: code page 950 as UTF-8, other bytes as \xNN.

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/text.h"

inline std::string display_path(std::string_view path) {
  if (auto utf8 = platform::cp950_to_utf8(path)) return *utf8;
  std::string shown;
  for (unsigned char c : path) {
    if (c < 0x80) {
      shown += char(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      shown += hex;
    }
  }
  return shown;
}

// text as a JSON string literal (quotes included); bytes 0x80 and above pass as they
// are, so text should be UTF-8.
inline std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}
