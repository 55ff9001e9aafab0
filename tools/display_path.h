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
