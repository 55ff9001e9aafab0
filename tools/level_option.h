#pragma once
// The --level option of the commands that compress: create, add and encode.

#include <CLI/CLI.hpp>
#include <string>

#include "encode/encoder.h"

namespace tools {

inline void add_level_option(CLI::App& command, EncodeLevel& level) {
  command
      .add_option("--level", level,
                  "compression: exact (default: the standard encoder's stream), fast (several times faster, "
                  "slightly larger) or best (smallest, slower)")
      ->type_name("exact|fast|best")
      ->transform([](std::string text) {
        // The option holds the enumerator's number; CLI11 converts that.
        if (text == "exact") return std::to_string(static_cast<int>(EncodeLevel::exact));
        if (text == "fast") return std::to_string(static_cast<int>(EncodeLevel::fast));
        if (text == "best") return std::to_string(static_cast<int>(EncodeLevel::best));
        throw CLI::ValidationError("must be exact, fast or best, not \"" + text + "\"");
      });
}

}  // namespace tools
