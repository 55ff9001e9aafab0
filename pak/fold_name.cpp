#include <cstdint>
#include <string>

#include "pak/archive.h"

namespace {

// Folds bytes [at, end) in place; stops at a NUL when stop_at_nul is set.
void fold_bytes(char* at, char* end, bool stop_at_nul) {
  while (at != end) {
    const auto byte = static_cast<unsigned char>(*at);
    if (byte == 0 && stop_at_nul) return;
    if (byte >= 'A' && byte <= 'Z') {
      *at = static_cast<char>(byte + 0x20);
    } else if (byte >= 0xA0) {
      // Lead byte: the trail byte after it stays as it is, unless the text ends there.
      ++at;
      if (at == end || (*at == 0 && stop_at_nul)) return;
    }
    ++at;
  }
}

}  // namespace

void fold_name(char* text) {
  if (text == nullptr) return;
  fold_bytes(text, nullptr, true);
}

void fold_name(std::string& text) { fold_bytes(text.data(), text.data() + text.size(), false); }
