#pragma once
// Facts about the running system and the game client.

#include <string>
#include <vector>

namespace platform {

// Full path of the running executable (system path bytes), at most 512 bytes.
std::string module_path();

// The Windows directory without a trailing separator. On POSIX: $WINDIR when set,
// else ${WINEPREFIX:-$HOME/.wine}/drive_c/windows.
std::string windows_directory();

// Asks a running game client whose top-level window has this class to close. Posts
// the request and returns at once; a missing client (or no display) is no failure.
void request_game_close(const char* window_class);

// True while a top-level window of this class exists. On POSIX: with an X display and
// wmctrl on the PATH, a window whose X class is window_class; otherwise false. A
// listing that does not come within WINDOW_QUERY_LIMIT_MS (an X server that never
// answers) is given up, its process ended, and counts as a window that exists: the
// game may run, so nothing may be written yet.
inline constexpr unsigned WINDOW_QUERY_LIMIT_MS = 2000;
bool game_window_exists(const char* window_class);

#ifndef _WIN32
// Waits at most milliseconds for the standard input to have something to read (a
// line, or its end). True when a read would not block.
bool wait_for_standard_input(unsigned milliseconds);
#endif

void sleep_milliseconds(unsigned milliseconds);

// Makes a write that a file-size limit refuses fail with an error (EFBIG) instead of
// ending the program by a signal (SIGXFSZ), so that it is reported and cleaned up like
// any failed write. Called first thing by each program. Nothing to do on Windows.
void report_file_size_limit_as_write_error();

// The program's arguments, its name first, as UTF-8. On Windows from the UTF-16
// command line (the narrow argv is in the ANSI code page, which may lack the
// characters); elsewhere argv as given.
std::vector<std::string> utf8_arguments(int argc, char** argv);

}  // namespace platform
