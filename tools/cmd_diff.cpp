// pak diff OLD_DIR NEW_DIR PACKAGE_DIR: the update package that turns one install of
// the game into another (patch/update_package.h), and a summary of what it does.

#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pak/removal_records.h"
#include "patch/release_notes.h"
#include "patch/update_package.h"
#include "tools/command_registry.h"
#include "tools/display_path.h"
#include "tools/progress_bar.h"
#include "tools/regular_file.h"
#include "tools/utf8_paths.h"

namespace {

using patch::PackageSummary;
using patch::PackSummary;

struct Options {
  std::string old_dir, new_dir, package_dir;
  std::string win_ini, dir, notes, notes_encoding = "utf8";
  bool has_win_ini = false, has_dir = false, json = false;
};

// One progress bar per step on stderr.
class StepBars final : public patch::PackageProgress {
 public:
  ProgressListener* step(const std::string& label) override {
    bar_.reset();  // ends the last step's line
    label_ = label;
    bar_ = std::make_unique<tools::ProgressBar>(label_.c_str());
    return bar_.get();
  }
  void finish() { bar_.reset(); }

 private:
  std::string label_;
  std::unique_ptr<tools::ProgressBar> bar_;
};

// The first paths of a list, one a line; --json gives them all.
void print_list(const char* label, const std::vector<std::string>& paths) {
  constexpr std::size_t SHOWN = 20;
  for (std::size_t i = 0; i < paths.size() && i < SHOWN; ++i)
    std::cerr << "  " << label << " " << display_path(paths[i]) << "\n";
  if (paths.size() > SHOWN) std::cerr << "  " << label << " ... and " << paths.size() - SHOWN << " more\n";
}

void print_summary(const PackageSummary& outcome) {
  std::uintmax_t bytes = 0;
  for (const auto& file : outcome.package_files) bytes += file.second;
  if (outcome.same()) std::cerr << "pak diff: no differences: the package changes nothing\n";
  std::cerr << "pak diff: loose files: " << outcome.added.size() << " added, " << outcome.changed.size() << " changed, "
            << outcome.removed.size() << " removed; folders removed: " << outcome.folders_removed.size() << "\n";
  print_list("+", outcome.added);
  print_list("*", outcome.changed);
  print_list("-", outcome.removed);
  for (const PackSummary& pack : outcome.packs)
    std::cerr << "pak diff: " << display_path(pack.name) << ".pak: " << pack.added << " entries added, " << pack.changed
              << " changed, " << pack.removed << " removed\n";
  std::cerr << "pak diff: package: " << outcome.package_files.size() << " files, " << bytes << " bytes\n";
}

void print_json(const PackageSummary& outcome) {
  auto list = [](const std::vector<std::string>& paths) {
    std::string text = "[";
    for (std::size_t i = 0; i < paths.size(); ++i) text += (i ? "," : "") + json_string(display_path(paths[i]));
    return text + "]";
  };
  std::uintmax_t bytes = 0;
  std::string files = "[";
  for (std::size_t i = 0; i < outcome.package_files.size(); ++i) {
    bytes += outcome.package_files[i].second;
    files += std::string(i ? "," : "") + "{\"name\":" + json_string(outcome.package_files[i].first) +
             ",\"bytes\":" + std::to_string(outcome.package_files[i].second) + "}";
  }
  std::string packs = "[";
  for (std::size_t i = 0; i < outcome.packs.size(); ++i) {
    const PackSummary& pack = outcome.packs[i];
    packs += std::string(i ? "," : "") + "{\"name\":" + json_string(display_path(pack.name)) +
             ",\"added\":" + std::to_string(pack.added) + ",\"changed\":" + std::to_string(pack.changed) +
             ",\"removed\":" + std::to_string(pack.removed) + ",\"merge_pack\":" + (pack.merged ? "true" : "false") +
             "}";
  }
  std::cout << "{\"same\":" << (outcome.same() ? "true" : "false") << ",\"files\":{\"added\":" << list(outcome.added)
            << ",\"changed\":" << list(outcome.changed) << ",\"removed\":" << list(outcome.removed)
            << "},\"folders_removed\":" << list(outcome.folders_removed) << ",\"packs\":" << packs
            << "],\"package\":{\"files\":" << files << "],\"bytes\":" << bytes << "}}\n";
}

// An [inst] value given as an option, as system bytes; false, with the line to print,
// when the configuration cannot hold it.
bool inst_value(const char* option, const char* key, const std::string& given, std::optional<std::string>& value,
                std::string& error) {
  std::string system;
  if (!tools::to_system(given, system)) {
    error = std::string(option) + ": characters outside code page 950";
    return false;
  }
  if (const char* why = pak::ini_value_problem(key, system)) {
    error = std::string(option) + " " + given + ": " + why;
    return false;
  }
  value = std::move(system);
  return true;
}

int run_diff(const Options& options) {
  patch::PackageRequest request;
  request.old_dir = tools::utf8_path(options.old_dir);
  request.new_dir = tools::utf8_path(options.new_dir);
  request.package_dir = tools::utf8_path(options.package_dir);
  std::string error;
  bool ok = (!options.has_win_ini || inst_value("--win-ini", "win_ini", options.win_ini, request.win_ini, error)) &&
            (!options.has_dir || inst_value("--dir", "dir", options.dir, request.dir, error));
  if (ok && !options.notes.empty()) {
    std::vector<std::uint8_t> bytes;
    std::string notes;
    ok = tools::read_regular_file(tools::utf8_path(options.notes), bytes, error);
    if (!ok)
      error = options.notes + ": " + error;
    else if ((ok = patch::notes_as_cp950(bytes, options.notes_encoding == "cp950", options.notes, notes, error)))
      request.notes = std::move(notes);
  }
  PackageSummary summary;
  StepBars bars;
  if (ok) ok = patch::make_update_package(request, &bars, summary, error);
  bars.finish();
  for (const std::string& warning : summary.warnings) std::cerr << "pak: warning: " << warning << "\n";
  if (!ok) {
    std::cerr << "pak: " << error << "\n";
    return 1;
  }
  print_summary(summary);
  if (options.json) print_json(summary);
  return 0;
}

void add_diff_command(CLI::App& app, int& exit_code) {
  static Options options;
  auto* diff = app.add_subcommand("diff", "Make the update package that turns the install OLD_DIR into NEW_DIR");
  diff->add_option("OLD_DIR", options.old_dir, "the game as installed now")->required();
  diff->add_option("NEW_DIR", options.new_dir, "the game as it is to become")->required();
  diff->add_option("PACKAGE_DIR", options.package_dir, "folder to create for the package (new or empty)")->required();
  diff->add_option("--win-ini", options.win_ini, "[inst] win_ini: the game's INI file in the Windows folder");
  diff->add_option("--dir", options.dir, "[inst] dir: the default install folder");
  diff->add_option("--notes", options.notes, "release notes (UTF-8 text) for NOTE.TXT");
  diff->add_option("--notes-encoding", options.notes_encoding, "encoding of the notes file")
      ->check(CLI::IsMember({"utf8", "cp950"}));
  diff->add_flag("--json", options.json, "print what the package does as JSON on stdout");
  diff->callback([&exit_code, diff] {
    options.has_win_ini = diff->count("--win-ini") > 0;
    options.has_dir = diff->count("--dir") > 0;
    exit_code = run_diff(options);
  });
}

CommandRegistration registration{35, add_diff_command};

}  // namespace
