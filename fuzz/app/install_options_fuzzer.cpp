// The installer's command line. The input, split at NUL bytes, is the argument list.
// Whatever is accepted must hold together: an option given is not empty, /D= takes
// the rest of the line, and parsing the same list again gives the same answer.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/unattended.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> arguments(1);
  for (std::size_t i = 0; i < size && arguments.size() <= 64; ++i) {
    if (data[i] == 0)
      arguments.emplace_back();
    else
      arguments.back() += char(data[i]);
  }
  if (size == 0) arguments.clear();

  const ParsedOptions parsed = parse_install_options(arguments);
  check(parsed.options.has_value() != !parsed.error.empty());
  if (!parsed.options) return 0;
  const InstallOptions& options = *parsed.options;
  check(!options.folder || !options.folder->empty());
  check(!options.log_file || !options.log_file->empty());
  // A /D= argument ends the options: the folder holds every argument after it. The
  // values of --dir and --log are no options.
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--dir" || argument == "--log") {
      ++i;
      continue;
    }
    if (argument.size() >= 3 && argument[0] == '/' && (argument[1] == 'D' || argument[1] == 'd') &&
        argument[2] == '=') {
      check(options.folder.has_value());
      check(options.folder->size() >= argument.size() - 3);
      break;
    }
  }
  const ParsedOptions again = parse_install_options(arguments);
  check(again.options && again.options->silent == options.silent && again.options->folder == options.folder &&
        again.options->log_file == options.log_file && again.options->help == options.help);
  return 0;
}
