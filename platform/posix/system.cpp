// POSIX system facts and the game client's close request.

#include "platform/system.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace platform {

std::string module_path() {
  char buffer[512];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return {};
  return std::string(buffer, std::size_t(length));
}

std::string windows_directory() {
  if (const char* windir = std::getenv("WINDIR"); windir && *windir) return windir;
  const char* prefix = std::getenv("WINEPREFIX");
  std::string base;
  if (prefix && *prefix) {
    base = prefix;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home ? home : "") + "/.wine";
  }
  return base + "/drive_c/windows";
}

// With an X display and wmctrl on the PATH, asks the window manager to close the
// first window whose class matches (a polite close, like WM_CLOSE); it runs in a
// detached grandchild so nothing waits for it. Without a display nothing happens.
void request_game_close(const char* window_class) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display || !window_class || !*window_class) return;
  const pid_t child = ::fork();
  if (child < 0) return;
  if (child == 0) {
    if (::fork() == 0) {
      ::setsid();
      const int null_fd = ::open("/dev/null", O_RDWR);
      if (null_fd >= 0) {
        ::dup2(null_fd, 0);
        ::dup2(null_fd, 1);
        ::dup2(null_fd, 2);
      }
      const char* argv[] = {"wmctrl", "-x", "-c", window_class, nullptr};
      ::execvp("wmctrl", const_cast<char* const*>(argv));
      ::_exit(127);
    }
    ::_exit(0);
  }
  ::waitpid(child, nullptr, 0);  // the child exits at once; the grandchild is detached
}

void sleep_milliseconds(unsigned milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

bool game_window_exists(const char* window_class) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == 0) return false;
  // "wmctrl -lx" lists one window a line, its X class as the third field
  // ("instance.class").
  FILE* listing = ::popen("wmctrl -lx 2>/dev/null", "r");
  if (listing == nullptr) return false;
  const std::string wanted = std::string(".") + window_class;
  bool found = false;
  char line[1024];
  while (std::fgets(line, sizeof line, listing) != nullptr) {
    char id[64], desktop[16], wm_class[512];
    if (std::sscanf(line, "%63s %15s %511s", id, desktop, wm_class) == 3 && std::string(wm_class).ends_with(wanted))
      found = true;
  }
  ::pclose(listing);
  return found;
}

}  // namespace platform

namespace platform {

std::vector<std::string> utf8_arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

void report_file_size_limit_as_write_error() { ::signal(SIGXFSZ, SIG_IGN); }

}  // namespace platform
