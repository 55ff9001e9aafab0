// The installer on POSIX systems: the update dialog in the terminal.

#include <unistd.h>

#include <iostream>

#include "app/program.h"
#include "app/terminal_view.h"

int main() {
  if (!start_program()) return 0;
  TerminalView view(std::cin, std::cout, isatty(STDIN_FILENO) != 0, isatty(STDOUT_FILENO) != 0);
  view.run(DialogHost::system());
  return 0;
}
