#pragma once
// A fresh folder under the system's temporary folder for one test, removed with the
// object (also where the test took away its own permissions).

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace test_support {

class ScratchDir {
 public:
  ScratchDir() {
    static std::mt19937_64 seed{std::random_device{}()};
    path_ = std::filesystem::temp_directory_path() / ("pakupdate-test-" + std::to_string(seed()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The folder as a system path (backslashes on Windows, as they come on POSIX).
  std::string system_path() const { return path_.string(); }
  // A system path below the folder (levels joined with the native separator).
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace test_support
