// POSIX system facts and the game client's close request.

#include "platform/system.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

// A window listing longer than this is no answer.
constexpr std::size_t LISTING_MAX_SIZE = 4 << 20;

bool game_window_exists(const char* window_class) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == 0) return false;
  // "wmctrl -lx" lists one window a line, its X class as the third field
  // ("instance.class"). It runs as a child of its own so that a listing that never
  // comes can be given up and the child ended.
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return false;
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(out[0]);
    ::close(out[1]);
    return false;
  }
  if (child == 0) {
    const int null_fd = ::open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
      ::dup2(null_fd, 0);
      ::dup2(null_fd, 2);
    }
    ::dup2(out[1], 1);
    const char* argv[] = {"wmctrl", "-lx", nullptr};
    ::execvp("wmctrl", const_cast<char* const*>(argv));
    ::_exit(127);
  }
  ::close(out[1]);
  std::string listing;
  bool answered = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WINDOW_QUERY_LIMIT_MS);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    pollfd ready{out[0], POLLIN, 0};
    const int polled = ::poll(&ready, 1, int(left));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) break;
    char piece[4096];
    const ssize_t got = ::read(out[0], piece, sizeof piece);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      answered = got == 0;
      break;
    }
    listing.append(piece, std::size_t(got));
    if (listing.size() > LISTING_MAX_SIZE) break;  // no window manager lists this much
  }
  ::close(out[0]);
  if (!answered) ::kill(child, SIGKILL);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!answered) return true;

  const std::string wanted = std::string(".") + window_class;
  std::size_t start = 0;
  while (start < listing.size()) {
    std::size_t end = listing.find('\n', start);
    if (end == std::string::npos) end = listing.size();
    char id[64], desktop[16], wm_class[512];
    const std::string line = listing.substr(start, std::min<std::size_t>(end - start, 1023));
    if (std::sscanf(line.c_str(), "%63s %15s %511s", id, desktop, wm_class) == 3 &&
        std::string(wm_class).ends_with(wanted))
      return true;
    start = end + 1;
  }
  return false;
}

bool wait_for_standard_input(unsigned milliseconds) {
  pollfd ready{STDIN_FILENO, POLLIN, 0};
  return ::poll(&ready, 1, int(milliseconds)) > 0;
}

}  // namespace platform

namespace platform {

std::vector<std::string> utf8_arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

void report_file_size_limit_as_write_error() { ::signal(SIGXFSZ, SIG_IGN); }

}  // namespace platform
