// pak: create, list, extract, merge and verify packs, encode and decode EnCode
// streams, and attach an update package to the installer.

#include <algorithm>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "pakupdate_version.h"
#include "platform/files.h"
#include "platform/system.h"
#include "tools/command_registry.h"

namespace {

std::vector<std::pair<int, AddCommands>>& registry() {
  static std::vector<std::pair<int, AddCommands>> commands;
  return commands;
}

}  // namespace

CommandRegistration::CommandRegistration(int order, AddCommands add) { registry().emplace_back(order, add); }

namespace {

constexpr const char* LICENSE_TEXT =
    "pak " PAKUPDATE_VERSION
    " is part of pakupdate, under the MIT licence: the file LICENSE.\n"
    "It and the installer stubs contain third-party code (zlib, CLI11, the GCC runtime, and in\n"
    "the Windows programs the MinGW-w64 runtime and winpthreads), each under its licence: the\n"
    "file THIRD_PARTY_NOTICES.txt. Both files lie at the top of the release archive, beside\n"
    "bin/, and at the top of the source tree. Ship THIRD_PARTY_NOTICES.txt (or its contents)\n"
    "with an installer made from a stub.\n";

int run(int argc, char** argv) {
  // Names in packs are those of the game's systems whatever the ANSI code page: system
  // paths are code page 950, and the arguments, like file names from std::filesystem,
  // are UTF-8 on every platform (tools::to_system converts them).
  platform::set_path_code_page(platform::PathCodePage::cp950);
  const std::vector<std::string> arguments = platform::utf8_arguments(argc, argv);
  std::vector<const char*> pointers;
  for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
  CLI::App app{"pak: tool for game packs, EnCode streams and update packages"};
  app.require_subcommand(1);
  // Paths such as /tmp/x are arguments, never Windows-style options, on every platform.
  app.allow_windows_style_options(false);
  app.set_version_flag("--version", "pak " PAKUPDATE_VERSION);
  app.add_flag_callback(
      "--licenses",
      [] {
        std::cout << LICENSE_TEXT;
        throw CLI::Success();
      },
      "Say where the licence and the third-party notices are");
  app.footer("pakupdate " PAKUPDATE_VERSION ", MIT licence; see pak --licenses");
  int exit_code = 0;
  auto commands = registry();
  std::stable_sort(commands.begin(), commands.end(), [](auto& a, auto& b) { return a.first < b.first; });
  for (auto& [order, add] : commands) add(app, exit_code);
  CLI11_PARSE(app, int(pointers.size()), pointers.data());
  return exit_code;
}

}  // namespace

// Commands report their own errors; an exception that escapes one (out of memory, a
// library error nobody expected) still ends as one line and exit code 1.
int main(int argc, char** argv) {
  platform::report_file_size_limit_as_write_error();
  try {
    return run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "pak: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "pak: unexpected error\n");
  }
  return 1;
}
