#include "patch/staged_pack.h"

#include "pak/entry_path.h"
#include "patch/shown_paths.h"
#include "platform/codepage.h"

namespace patch {
namespace {

// Keeps the first problem the rebuild reports.
class FirstProblem final : public WriteProblemReporter {
 public:
  void report(const std::string& text, const std::string& path) override {
    if (line.empty()) line = shown_system(path) + ": " + shown_system(text);
  }
  std::string line;
};

}  // namespace

void StagedPack::add(const std::string& path, std::vector<std::uint8_t> data, bool raw_to_encode) {
  add_directories(std::string(pak::directory_part(path)));
  auto* entry = new PendingEntry(path.c_str(), raw_to_encode ? 0 : 1);
  entry->data = std::move(data);
  entry->size = std::uint32_t(entry->data.size());
  push(entry);
}

void StagedPack::add_file(const std::string& path, const std::string& file_path, std::uint32_t size) {
  add_directories(std::string(pak::directory_part(path)));
  auto* entry = new PendingEntry(path.c_str(), 0);
  entry->data_path = file_path;
  entry->size = size;
  push(entry);
}

void StagedPack::add_directories(const std::string& directory) {
  for (std::size_t i = 0; i < directory.size(); ++i) {
    if (platform::starts_double_byte(directory, i)) {
      ++i;
      continue;
    }
    if (directory[i] != '\\') continue;
    const std::string level = directory.substr(0, i + 1);
    if (directories_.insert(level).second) push(new PendingEntry(level.c_str(), 0));
  }
}

bool StagedPack::write(const std::string& base, ProgressListener* progress, std::string& error) {
  FirstProblem problem;
  archive_.base_path = base;
  archive_.progress = progress;
  archive_.reporter = &problem;
  const bool written = archive_.rebuild((base + "temp").c_str(), 1) == 1;
  archive_.progress = nullptr;
  archive_.reporter = nullptr;
  if (written) return true;
  error = problem.line.empty() ? shown_system(base) + ".pak: cannot write the pack" : problem.line;
  return false;
}

void StagedPack::push(PendingEntry* entry) {
  if (!pak::is_directory_path(entry->name)) ++files_;
  entry->next = archive_.pending;
  archive_.pending = entry;
}

}  // namespace patch
