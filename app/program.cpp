#include "app/program.h"

#include <cstdint>
#include <limits>

#include "app/package_check.h"
#include "platform/codepage.h"
#include "platform/resources.h"
#include "platform/system.h"

// One translation unit fixes the order of construction, and so of teardown.
IniStore update_ini;
IniStore install_ini;
PakArchive system_archive;

std::string install_dir;
std::string pack_path;
std::string path_message;
std::string exe_dir;

std::string directory_of(std::string_view path) {
  // Paths are code page 950 on every system: a trail byte 0x5C is no separator.
  const std::size_t last = platform::find_last_separator(path, true);
  if (last == std::string_view::npos) return {};
  return std::string(path.substr(0, last));
}

bool start_program(PackageVerdict* verdict) {
  // The package is checked before the game is asked to close: only a package there is
  // to install closes the game.
  const PackageVerdict checked = check_own_package();
  if (verdict != nullptr) *verdict = checked;
  if (!checked.installable()) return false;

  const auto config = platform::find_resource(UPDATE_CONFIG_NAME);
  if (!config || config->empty()) return false;
  if (config->size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return false;
  platform::request_game_close(GAME_WINDOW_CLASS);
  update_ini.parse(reinterpret_cast<const char*>(config->data()), static_cast<std::int32_t>(config->size()));

  std::string module = platform::module_path();
  if (module.size() > 512) module.resize(512);
  exe_dir = directory_of(module);
  return true;
}
