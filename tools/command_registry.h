#pragma once
// Subcommands of the pak tool register themselves: each tools/cmd_<name>.cpp holds a
// static CommandRegistration whose function adds its subcommands to the app.
//
//   static void add_encode_commands(CLI::App& app, int& exit_code) { ... }
//   static CommandRegistration registration{20, add_encode_commands};
//
// The order number sorts the subcommands in the help text. A subcommand's callback
// stores its exit code in exit_code (0 success, 1 failure) and prints its own errors
// as one line each on stderr, prefixed "pak: ".

#include <CLI/CLI.hpp>

using AddCommands = void (*)(CLI::App& app, int& exit_code);

struct CommandRegistration {
  CommandRegistration(int order, AddCommands add);
};
