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

#include "ini/ini_store.h"
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
    blob.name = file.filename().string();
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
    const std::string file = (directory / blob.name).string();
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

// Every "[pack%d]" name of the configuration must have its pack in the package, or
// the installer would refuse the package as damaged.
bool merge_packs_present(const std::vector<platform::NamedBlob>& blobs) {
  const auto config = std::find_if(blobs.begin(), blobs.end(), [](const platform::NamedBlob& blob) {
    return platform::resource_name_equal(blob.name, "UPDATA.INI");
  });
  if (config == blobs.end() || config->bytes.size() > 0x7FFFFFFF) return true;
  IniStore ini;
  ini.parse(reinterpret_cast<const char*>(config->bytes.data()), std::int32_t(config->bytes.size()));
  for (int n = 0;; ++n) {
    const std::string section = "[pack" + std::to_string(n) + "]";
    const char* name = ini.get(section.c_str(), "name", nullptr);
    if (name == nullptr) return true;
    const std::string file = std::string(name) + ".pak";
    const bool found = std::any_of(blobs.begin(), blobs.end(), [&](const platform::NamedBlob& blob) {
      return platform::resource_name_equal(blob.name, file);
    });
    if (!found) {
      std::cerr << "pak: UPDATA.INI names the merge pack " << display_path(name) << " in " << section
                << ", but the package folder has no " << display_path(file) << "\n";
      return false;
    }
  }
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
  if (!packs_sound(package, blobs) || !merge_packs_present(blobs)) return 1;
  // The checksum record comes last, over every file before it.
  blobs.push_back({platform::PACKAGE_RECORD_NAME, platform::make_package_record(blobs)});
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
