// The installer on POSIX systems: the update dialog in the terminal, or the
// unattended install of app/unattended.h.

#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "app/package_check.h"
#include "app/program.h"
#include "app/run_messages.h"
#include "app/run_report.h"
#include "app/terminal_view.h"
#include "app/unattended.h"
#include "platform/system.h"
#include "platform/text.h"

int main(int argc, char** argv) {
  platform::report_file_size_limit_as_write_error();
  // Arguments arrive as the terminal's UTF-8; the program's paths are code page 950.
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) {
    auto converted = platform::utf8_to_cp950(argv[i]);
    if (!converted) {
      std::cerr << "updater: \"" << argv[i] << "\" has characters that code page 950 lacks\n";
      return EXIT_USAGE;
    }
    arguments.push_back(*converted);
  }
  const ParsedOptions parsed = parse_install_options(arguments);
  if (!parsed.options) {
    std::cerr << "updater: " << parsed.error << "\n" << INSTALL_USAGE;
    return EXIT_USAGE;
  }
  const InstallOptions& options = *parsed.options;
  if (options.help) {
    std::cout << INSTALL_USAGE;
    return EXIT_DONE;
  }
  if (options.version) {
    std::cout << INSTALL_VERSION;
    return EXIT_DONE;
  }

  // A log that cannot be written is refused before anything is installed.
  if (options.log_file) {
    if (const std::string problem = log_file_problem(*options.log_file); !problem.empty()) {
      std::cerr << "updater: cannot write the log file " << *platform::cp950_to_utf8(*options.log_file, true) << ": "
                << problem << "\n";
      return EXIT_USAGE;
    }
  }

  const bool input_is_terminal = isatty(STDIN_FILENO) != 0;
  const bool output_is_terminal = isatty(STDOUT_FILENO) != 0;
  RunReport report;
  std::string errors;
  PackageVerdict verdict;
  if (!start_program(&verdict)) {
    const int code = end_without_package(options, verdict, report, errors);
    if (verdict.state == PackageVerdict::State::damaged && !options.silent) {
      TerminalView view(std::cin, std::cout, input_is_terminal, output_is_terminal);
      view.message_box(PACKAGE_DAMAGED_TEXT, verdict.file);
    }
    std::cerr << errors;
    return code;
  }

  if (options.silent) {
    const int code = install_unattended(options, DialogHost::system(), report, errors);
    std::cerr << errors;
    return code;
  }

  TerminalView view(std::cin, std::cout, input_is_terminal, output_is_terminal);
  // While the run waits for the game, a line of input (or its end) can stop it.
  view.set_input_wait(&platform::wait_for_standard_input);
  if (options.folder) view.propose_folder_on_open(*options.folder);
  if (options.log_file) set_active_run_report(&report);
  view.run(DialogHost::system());
  set_active_run_report(nullptr);
  if (options.log_file) {
    finish_report(options, report, errors);
    std::cerr << errors;
  }
  return EXIT_DONE;
}
