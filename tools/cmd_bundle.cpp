// pak bundle STUB PACKAGE_DIR OUT: attaches an update package to the installer.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "app/package_check.h"
#include "pak/pack_checks.h"
#include "platform/executable_image.h"
#include "platform/package_record.h"
#include "platform/resource_table.h"
#include "platform/text.h"
#include "tools/command_registry.h"
#include "tools/display_path.h"
#include "tools/output_file.h"
#include "tools/regular_file.h"
#include "tools/utf8_paths.h"

namespace {

namespace fs = std::filesystem;

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return text;
}

bool is_pack_name(const std::string& name) { return name.size() > 4 && lower(name.substr(name.size() - 4)) == ".pak"; }

// A native path for messages, as UTF-8.
std::string display_name(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// The package files: UPDATA.INI, NOTE.TXT and every *.pak, in name order. Only regular
// files (or links to them) are taken; a FIFO or device of such a name is refused.
bool collect_package(const fs::path& directory, std::vector<platform::NamedBlob>& blobs) {
  std::error_code error;
  std::vector<fs::path> files;
  for (auto it = fs::directory_iterator(directory, error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    const std::string name = lower(it->path().filename().string());
    if (name != "updata.ini" && name != "note.txt" && !is_pack_name(name)) continue;
    std::error_code type_error;
    if (it->is_directory(type_error)) continue;  // a folder named like a pack is no package file
    files.push_back(it->path());
  }
  if (error) {
    std::cerr << "pak: cannot read the package folder " << directory.string() << ": " << error.message() << "\n";
    return false;
  }
  std::sort(files.begin(), files.end());
  bool has_configuration = false;
  for (const auto& file : files) {
    platform::NamedBlob blob;
    // The installer looks its files up by their code page 950 names, as UPDATA.INI
    // names the merge packs.
    const auto name = platform::file_name_to_cp950(file.filename());
    if (!name) {
      std::cerr << "pak: " << display_name(file) << ": the file name has characters outside code page 950\n";
      return false;
    }
    blob.name = *name;
    for (const auto& earlier : blobs)
      if (platform::resource_name_equal(earlier.name, blob.name)) {
        std::cerr << "pak: the package folder " << display_name(directory) << " holds " << display_path(earlier.name)
                  << " and " << display_path(blob.name) << ", one file to the installer (it ignores case)\n";
        return false;
      }
    if (blob.name.size() > platform::RESOURCE_MAX_NAME_LENGTH) {
      std::cerr << "pak: file name too long for a resource: " << blob.name << "\n";
      return false;
    }
    std::string read_error;
    if (!tools::read_regular_file(file, blob.bytes, read_error)) {
      std::cerr << "pak: " << file.string() << ": " << read_error << "\n";
      return false;
    }
    has_configuration = has_configuration || lower(blob.name) == "updata.ini";
    blobs.push_back(std::move(blob));
  }
  if (!has_configuration) {
    std::cerr << "pak: the package folder " << directory.string() << " has no UPDATA.INI\n";
    return false;
  }
  return true;
}

// Runs the full pack check on every pack of the package; prints each problem as
// "pak: FILE: PATH (offset N): TEXT". True when all packs are sound.
bool packs_sound(const fs::path& directory, const std::vector<platform::NamedBlob>& blobs) {
  std::uint64_t problems = 0;
  for (const auto& blob : blobs) {
    if (!is_pack_name(lower(blob.name))) continue;
    const std::string file = display_name(directory) + "/" + display_path(blob.name);
    problems += pak::check_pack(blob.bytes.data(), blob.bytes.size(), [&](const pak::WalkProblem& problem) {
                  std::cerr << "pak: " << file << ": "
                            << (problem.path.empty() ? std::string("\\") : display_path(problem.path)) << " (offset "
                            << problem.offset << "): " << problem.text << "\n";
                }).problems;
  }
  if (problems == 0) return true;
  std::cerr << "pak: not bundled: " << problems << " problem" << (problems == 1 ? "" : "s")
            << " in the packs (see pak verify)\n";
  return false;
}

// The package as the installer will find it (the checksum record included) must be
// one it installs: the same check the installer makes at start (app/package_check.h).
// Prints each problem as "pak: FILE: TEXT".
bool package_installable(const fs::path& directory, const std::vector<platform::NamedBlob>& blobs) {
  platform::OwnTable table;
  for (const auto& blob : blobs) table.names.push_back(blob.name);
  const PackageVerdict verdict = check_package(
      [&](std::string_view name) -> std::optional<std::span<const std::uint8_t>> {
        for (const auto& blob : blobs)
          if (platform::resource_name_equal(blob.name, name)) return std::span<const std::uint8_t>(blob.bytes);
        return std::nullopt;
      },
      table);
  if (verdict.installable()) return true;
  std::vector<platform::PackageProblem> problems = verdict.problems;
  if (problems.empty()) problems.push_back({verdict.file.empty() ? "UPDATA.INI" : verdict.file, verdict.text});
  for (const auto& problem : problems)
    std::cerr << "pak: " << display_name(directory) << "/" << display_path(problem.name) << ": " << problem.text
              << "\n";
  std::cerr << "pak: not bundled: the installer would refuse this package\n";
  return false;
}

// The stub's own program, without any package it carries; nothing (said on stderr)
// for a file that is no installer stub, a signed one, or a Windows stub with a
// compiled-in package.
std::optional<std::span<const std::uint8_t>> stub_program(const std::string& stub_path,
                                                          const std::vector<std::uint8_t>& stub) {
  const auto image = platform::inspect_executable(stub);
  if (!image) {
    std::cerr << "pak: " << stub_path << ": not an installer stub (neither an ELF nor a PE executable)\n";
    return std::nullopt;
  }
  if (image->signature_size != 0) {
    std::cerr << "pak: " << stub_path
              << ": the stub carries an Authenticode signature, which a package appended after it would break; "
                 "bundle the unsigned stub, then sign the result\n";
    return std::nullopt;
  }
  if (image->has_compiled_package) {
    std::cerr << "pak: " << stub_path
              << ": the stub has an update package compiled in, which the installer would use instead; "
                 "bundle the bare stub (updater-stub.exe)\n";
    return std::nullopt;
  }
  return std::span<const std::uint8_t>(stub).first(std::size_t(image->image_end));
}

int bundle(const std::string& stub_path, const std::string& package_dir, const std::string& out_path) {
  std::vector<std::uint8_t> stub;
  std::string read_error;
  if (!tools::read_regular_file(tools::utf8_path(stub_path), stub, read_error)) {
    std::cerr << "pak: " << stub_path << ": cannot read the installer stub: " << read_error << "\n";
    return 1;
  }
  const auto program = stub_program(stub_path, stub);
  if (!program) return 1;
  std::vector<platform::NamedBlob> blobs;
  const fs::path package = tools::utf8_path(package_dir);
  if (!collect_package(package, blobs)) return 1;
  if (!packs_sound(package, blobs)) return 1;
  // The checksum record comes last, over every file before it.
  blobs.push_back({platform::PACKAGE_RECORD_NAME, platform::make_package_record(blobs)});
  if (!package_installable(package, blobs)) return 1;
  auto bundled = platform::append_resource_table(*program, blobs);
  if (!bundled) {
    std::cerr << "pak: the package cannot be attached (too many files or a bad name)\n";
    return 1;
  }
  // The installer is a program: it gets execute permission wherever it may be read.
  std::string write_error;
  if (!tools::write_output_file(out_path, *bundled, write_error, platform::FileMode::program)) {
    std::cerr << "pak: cannot write " << out_path << ": " << write_error << "\n";
    return 1;
  }
  return 0;
}

void add_bundle_command(CLI::App& app, int& exit_code) {
  auto* command =
      app.add_subcommand("bundle",
                         "Attach an update package (UPDATA.INI, NOTE.TXT, *.pak) and its checksum record to the "
                         "installer stub (Linux or Windows; sign a Windows installer after bundling)");
  static std::string stub, package_dir, out;
  command->add_option("STUB", stub, "installer program without a package (or with one to replace)")->required();
  command->add_option("PACKAGE_DIR", package_dir, "folder holding UPDATA.INI, NOTE.TXT, DLL.PAK and merge packs")
      ->required();
  command->add_option("OUT", out, "the installer to write")->required();
  command->callback([&exit_code] { exit_code = bundle(stub, package_dir, out); });
}

// pak record PACKAGE_DIR OUT: the checksum record alone, for a package compiled into
// the Windows installer as resources.
int write_record(const std::string& package_dir, const std::string& out_path) {
  std::vector<platform::NamedBlob> blobs;
  if (!collect_package(tools::utf8_path(package_dir), blobs)) return 1;
  const std::vector<std::uint8_t> record = platform::make_package_record(blobs);
  std::string error;
  if (tools::write_output_file(out_path, record, error)) return 0;
  std::cerr << "pak: cannot write " << out_path << ": " << error << "\n";
  return 1;
}

void add_record_command(CLI::App& app, int& exit_code) {
  auto* command = app.add_subcommand(
      "record", "Write the checksum record of an update package (for a package compiled into the installer)");
  static std::string package_dir, out;
  command->add_option("PACKAGE_DIR", package_dir, "folder holding UPDATA.INI, NOTE.TXT, DLL.PAK and merge packs")
      ->required();
  command->add_option("OUT", out, "the record to write (PACKAGE.CRC)")->required();
  command->callback([&exit_code] { exit_code = write_record(package_dir, out); });
}

CommandRegistration registration{90, add_bundle_command};
CommandRegistration record_registration{91, add_record_command};

}  // namespace
