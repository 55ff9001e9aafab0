#pragma once
// The installer's command line, in the conventions administrators script for Windows
// installers, and the unattended install it asks for.
//
//   /S, --silent             install without the dialog or any message box
//   /D=PATH, --dir PATH      install into PATH instead of the proposed folder; /D=
//                            takes the rest of the command line, spaces included, so
//                            it comes last
//   /LOG=FILE, --log FILE    write what was written, merged, removed and refused
//   /?, --help               print this usage (with the version)
//   --version                print the version
//
// Without options the installer runs as before: the dialog, exit code 0. /D= and
// /LOG= also serve the dialog (the folder is proposed, the log is written).

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "app/dialog_view.h"
#include "app/run_report.h"
#include "app/update_dialog.h"

// How long an unattended install waits for a running game to close before it gives
// up with EXIT_GAME_RUNNING: 60 s unless a test sets another.
extern std::chrono::milliseconds game_wait_limit;

struct InstallOptions {
  bool silent = false;
  bool help = false;
  bool version = false;
  std::optional<std::string> folder;    // system text (code page 950)
  std::optional<std::string> log_file;  // system text (code page 950)
};

struct ParsedOptions {
  std::optional<InstallOptions> options;  // nothing when the line is not understood
  std::string error;                      // why, in English
};

// Parses the arguments after the program name. An option given twice, an unknown
// one, or an option without its value is an error.
ParsedOptions parse_install_options(const std::vector<std::string>& arguments);

// The program's name and version, one line; the usage text begins with it.
extern const char INSTALL_VERSION[];

// The usage text, one option a line.
extern const char INSTALL_USAGE[];

// Makes folder the install folder, as a pick in the folder browser does: install_dir
// and the path text become folder, and OK is offered.
void propose_folder(DialogView& view, const std::string& folder);

// The unattended install: the dialog's opening without a window, the folder of
// options (or the proposed one, when the dialog would offer OK), then the run. The
// report collects everything. Returns the exit code.
int run_unattended(const InstallOptions& options, const DialogHost& host, RunReport& report);

// The whole unattended install: run_unattended, then the report written as
// finish_report writes it; a log that was asked for and could not be written counts
// as a file not written. Returns the exit code; errors gets the lines for stderr.
int install_unattended(const InstallOptions& options, const DialogHost& host, RunReport& report, std::string& errors);

// Why the log file at path (system text) cannot be written, or empty; checked before
// anything is installed. Its folder must exist, and the name must be no link, folder
// or device.
std::string log_file_problem(const std::string& path);

// The end of a start whose package is not installable (start_program returned false).
// A damaged package, and in an unattended install also no package or an empty
// configuration, is reported (the log, the lines for stderr in errors) and gives
// EXIT_PACKAGE_DAMAGED; a dialog's message box for a damaged package is the front
// end's to show. The dialog's start without a package, or with an empty
// configuration, ends silently with EXIT_DONE.
struct PackageVerdict;
int end_without_package(const InstallOptions& options, const PackageVerdict& verdict, RunReport& report,
                        std::string& errors);

// Writes the report to the log file of options, when one was asked for, and its
// problem lines to errors. False when the log cannot be written (said on errors).
bool finish_report(const InstallOptions& options, const RunReport& report, std::string& errors);
