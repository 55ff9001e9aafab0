// pak bundle STUB PACKAGE_DIR OUT: attaches an update package to the installer.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "platform/resource_table.h"
#include "tools/command_registry.h"

namespace {

namespace fs = std::filesystem;

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return text;
}

bool read_whole(const fs::path& path, std::vector<std::uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// The package files: UPDATA.INI, NOTE.TXT and every *.pak, in name order.
bool collect_package(const fs::path& directory, std::vector<platform::NamedBlob>& blobs) {
  std::error_code error;
  std::vector<fs::path> files;
  for (const auto& item : fs::directory_iterator(directory, error)) {
    if (!item.is_regular_file()) continue;
    const std::string name = lower(item.path().filename().string());
    const bool is_pack = lower(item.path().extension().string()) == ".pak";
    if (name == "updata.ini" || name == "note.txt" || is_pack) files.push_back(item.path());
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
    if (!read_whole(file, blob.bytes)) {
      std::cerr << "pak: cannot read " << file.string() << "\n";
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

int bundle(const std::string& stub_path, const std::string& package_dir, const std::string& out_path) {
  std::vector<std::uint8_t> stub;
  std::error_code error;
  if (!fs::is_regular_file(stub_path, error) || !read_whole(stub_path, stub)) {
    std::cerr << "pak: cannot read the installer stub " << stub_path << "\n";
    return 1;
  }
  std::vector<platform::NamedBlob> blobs;
  if (!collect_package(package_dir, blobs)) return 1;
  auto bundled = platform::append_resource_table(stub, blobs);
  if (!bundled) {
    std::cerr << "pak: the package cannot be attached (too many files or a bad name)\n";
    return 1;
  }
  // Written beside OUT and renamed at the end, so a failure leaves no OUT behind.
  const fs::path out(out_path);
  const fs::path temp = out.parent_path() / ("." + out.filename().string() + ".bundle-tmp");
  {
    std::ofstream file(temp, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bundled->data()), std::streamsize(bundled->size()));
    file.close();
    if (!file) {
      fs::remove(temp, error);
      std::cerr << "pak: cannot write " << out_path << "\n";
      return 1;
    }
  }
  fs::permissions(temp, fs::status(stub_path, error).permissions(), error);
  fs::rename(temp, out, error);
  if (error) {
    fs::remove(temp, error);
    std::cerr << "pak: cannot write " << out_path << "\n";
    return 1;
  }
  return 0;
}

void add_bundle_command(CLI::App& app, int& exit_code) {
  auto* command =
      app.add_subcommand("bundle", "Attach an update package (UPDATA.INI, NOTE.TXT, *.pak) to the installer");
  static std::string stub, package_dir, out;
  command->add_option("STUB", stub, "installer program without a package (or with one to replace)")->required();
  command->add_option("PACKAGE_DIR", package_dir, "folder holding UPDATA.INI, NOTE.TXT, DLL.PAK and merge packs")
      ->required();
  command->add_option("OUT", out, "the installer to write")->required();
  command->callback([&exit_code] { exit_code = bundle(stub, package_dir, out); });
}

CommandRegistration registration{90, add_bundle_command};

}  // namespace
