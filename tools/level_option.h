#pragma once
// The --level and --jobs options of the commands that compress: create, add and
// encode (--level only).

#include <CLI/CLI.hpp>
#include <string>

#include "encode/encoder.h"

namespace tools {

inline void add_level_option(CLI::App& command, EncodeLevel& level) {
  command
      .add_option("--level", level,
                  "compression: exact (default: the standard encoder's stream), fast (about five times faster, "
                  "a few per cent larger) or best (smallest, slower)")
      ->type_name("exact|fast|best")
      ->transform([](std::string text) {
        // The option holds the enumerator's number; CLI11 converts that.
        if (text == "exact") return std::to_string(static_cast<int>(EncodeLevel::exact));
        if (text == "fast") return std::to_string(static_cast<int>(EncodeLevel::fast));
        if (text == "best") return std::to_string(static_cast<int>(EncodeLevel::best));
        throw CLI::ValidationError("must be exact, fast or best, not \"" + text + "\"");
      });
}

// -j N: threads that encode entries ahead of the pack's writer; 0 (default) is one
// per core. The pack is the same whatever N is.
inline void add_jobs_option(CLI::App& command, unsigned& jobs) {
  command.add_option("-j,--jobs", jobs, "threads that encode entries (default: one per core)")
      ->type_name("N")
      ->check(CLI::Range(0u, 256u));
}

}  // namespace tools
