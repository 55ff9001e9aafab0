// The update run: writes the payload into install_dir and merges the configured
// packs into the game's packs.

#include "app/update_run.h"

#include <cstdint>
#include <string>

#include "app/program.h"

namespace {

constexpr std::uint32_t SLOT_COUNT = 5;

// Shows the pack code's write problems in the view's message box, the file's path
// as caption.
class MessageBoxReporter : public WriteProblemReporter {
 public:
  explicit MessageBoxReporter(DialogView& view) : view_(view) {}
  void report(const std::string& text, const std::string& path) override { view_.message_box(text, path); }

 private:
  DialogView& view_;
};

// The "name" of section "[pack{n}]", or null.
const char* merge_pack_name(int n) {
  const std::string section = "[pack" + std::to_string(n) + "]";
  return update_ini.get(section.c_str(), "name", nullptr);
}

}  // namespace

int count_merge_packs() {
  int count = 0;
  while (merge_pack_name(count)) ++count;
  return count;
}

void join_path(std::string& buffer, std::string_view name) {
  if (!buffer.empty() && buffer.back() != '\\' && buffer.back() != '/') buffer += '\\';
  buffer += name;
}

int run_update(DialogView& view) {
  MessageBoxReporter reporter(view);
  const int count = count_merge_packs();
  view.set_progress_range(count);

  PakArchive payload;
  payload.reporter = &reporter;
  payload.open("dll", SLOT_COUNT, 0);
  PakArchive installation;
  installation.reporter = &reporter;
  installation.open(install_dir.c_str(), SLOT_COUNT, 1);
  installation.import_pack(payload);

  for (int n = 0; const char* name_value = merge_pack_name(n); ++n) {
    const std::string name = name_value;
    pack_path = install_dir;
    join_path(pack_path, name);
    PakArchive target;
    target.reporter = &reporter;
    target.open(pack_path.c_str(), SLOT_COUNT, 0);
    PakArchive source;
    source.reporter = &reporter;
    source.open(name.c_str(), SLOT_COUNT, 0);
    target.import_pack(source);
    view.set_progress_position(n + 1);
    view.pause(100);
    source.close();
    target.close();
  }

  installation.close();
  payload.close();
  return 0;
}
