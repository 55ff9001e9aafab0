// pak: create, list, extract, merge and verify packs, encode and decode EnCode
// streams, and attach an update package to the installer.

#include <algorithm>
#include <cstdio>
#include <exception>
#include <utility>
#include <vector>

#include "tools/command_registry.h"

namespace {

std::vector<std::pair<int, AddCommands>>& registry() {
  static std::vector<std::pair<int, AddCommands>> commands;
  return commands;
}

}  // namespace

CommandRegistration::CommandRegistration(int order, AddCommands add) { registry().emplace_back(order, add); }

namespace {

int run(int argc, char** argv) {
  CLI::App app{"pak: tool for game packs, EnCode streams and update packages"};
  app.require_subcommand(1);
  // Paths such as /tmp/x are arguments, never Windows-style options, on every platform.
  app.allow_windows_style_options(false);
  int exit_code = 0;
  auto commands = registry();
  std::stable_sort(commands.begin(), commands.end(), [](auto& a, auto& b) { return a.first < b.first; });
  for (auto& [order, add] : commands) add(app, exit_code);
  CLI11_PARSE(app, argc, argv);
  return exit_code;
}

}  // namespace

// Commands report their own errors; an exception that escapes one (out of memory, a
// library error nobody expected) still ends as one line and exit code 1.
int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "pak: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "pak: unexpected error\n");
  }
  return 1;
}
