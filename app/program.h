#pragma once
// Program-wide objects of the installer and the start that runs before its dialog.

#include <string>
#include <string_view>

#include "ini/ini_store.h"
#include "pak/archive.h"

// Constructed in this order before the entry point runs, torn down in reverse after
// it returns: the archive is closed, then both stores are cleared.
extern IniStore update_ini;        // the embedded update configuration
extern IniStore install_ini;       // the game's own INI file
extern PakArchive system_archive;  // the archive through which the game's INI is read

extern std::string install_dir;   // target directory of the update run
extern std::string pack_path;     // the game's pack during one merge
extern std::string path_message;  // "can't Find %s" once formatted
extern std::string exe_dir;       // directory of the running program

// Window class of the game client that is asked to close.
inline constexpr const char* GAME_WINDOW_CLASS = "TOVENCLASS";
// Name of the embedded update configuration.
inline constexpr const char* UPDATE_CONFIG_NAME = "updata.ini";

// The directory part of a program path: everything before its last "\" or "/",
// stepping a character at a time so that the trail byte of a double-byte character
// is never taken for a separator; empty when the path has no separator.
std::string directory_of(std::string_view path);

// Everything the entry point does before the dialog: checks the embedded package
// (app/package_check.h), then, when it is installable, posts the close request to the
// game client, parses the embedded configuration into update_ini and fills exe_dir.
// Returns false, with nothing posted, when the package is not installable; verdict,
// when given, says why (no package, an empty configuration, or which file is
// damaged).
struct PackageVerdict;
bool start_program(PackageVerdict* verdict = nullptr);
