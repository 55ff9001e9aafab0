#pragma once
// A progress bar on stderr for the pak tool's commands.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "pak/archive.h"

#ifdef _WIN32
#include <io.h>
#define PAK_ISATTY _isatty
#define PAK_FILENO _fileno
#else
#include <unistd.h>
#define PAK_ISATTY isatty
#define PAK_FILENO fileno
#endif

namespace tools {

// A bar on stderr, drawn only when stderr is a terminal. It counts entries, or the
// bytes a rebuild's entries bring (so that one large file moves it as much as it
// takes).
class ProgressBar final : public ProgressListener {
 public:
  enum class Unit { entries, bytes };
  explicit ProgressBar(const char* label, Unit unit = Unit::entries)
      : label_(label), unit_(unit), shown_(PAK_ISATTY(PAK_FILENO(stderr)) != 0) {}
  ~ProgressBar() override { finish(); }
  // Ends the bar's line, so that what follows starts on a line of its own.
  void finish() {
    if (shown_ && drawn_) std::fputc('\n', stderr);
    drawn_ = false;
  }
  void progress(std::uint64_t done, std::uint64_t total) override {
    if (unit_ == Unit::entries) draw(done, total);
  }
  void progress_bytes(std::uint64_t done, std::uint64_t total) override {
    if (unit_ == Unit::bytes) draw(done, total);
  }

 private:
  void draw(std::uint64_t done, std::uint64_t total) {
    if (!shown_ || total == 0) return;
    const int width = 40;
    const int filled = int(std::min<std::uint64_t>(done, total) * width / total);
    if (filled == last_ && done != total) return;
    last_ = filled;
    drawn_ = true;
    const std::string bar = std::string(std::size_t(filled), '#') + std::string(std::size_t(width - filled), ' ');
    if (unit_ == Unit::bytes)
      std::fprintf(stderr, "\r%s [%s] %.1f/%.1f MB", label_, bar.c_str(), double(done) / 1e6, double(total) / 1e6);
    else
      std::fprintf(stderr, "\r%s [%s] %llu/%llu", label_, bar.c_str(), static_cast<unsigned long long>(done),
                   static_cast<unsigned long long>(total));
    std::fflush(stderr);
  }

  const char* label_;
  Unit unit_;
  bool shown_;
  bool drawn_ = false;
  int last_ = -1;
};

}  // namespace tools
