#pragma once
// Whether an update package is installable: the one check that the installer makes at
// start, before the game is asked to close and before anything is written, and that
// pak verify and pak bundle make on what they read or attach, so a package the tools
// pass is one the installer takes. Every file is checked against the package's
// checksum record (platform/package_record.h), and the configuration against what
// the run needs of it.

#include <string>
#include <string_view>
#include <vector>

#include "platform/package_record.h"
#include "platform/resources.h"

struct PackageVerdict {
  enum class State { none, empty_configuration, sound, damaged };
  State state = State::none;
  std::string file;  // empty_configuration, damaged: the file concerned ("package table" for the table)
  std::string text;  // empty_configuration, damaged: what is wrong, in English
  // damaged: every problem found, the one above first.
  std::vector<platform::PackageProblem> problems;

  bool installable() const { return state == State::sound; }
};

// none: the program carries no package at all (no table or an empty one, no
// configuration, no record). sound: installable. empty_configuration: the package is
// as recorded, but its UPDATA.INI is empty or holds no section. damaged: anything
// else:
// - a damaged table, or a table that holds one name twice (names compared without
//   regard to ASCII case);
// - a missing or damaged record, a file missing, resized or changed, or a package
//   file (the configuration, the notes, DLL.PAK, a table blob or a configured merge
//   pack) the record does not list;
// - no UPDATA.INI; removal records the run would refuse (pak/removal_records.h);
// - a "[pack%d]" name that is no plain file name, or whose pack is missing;
// - DLL.PAK or a merge pack that is no pack (its root table does not fit).
// The packs' streams are not decoded: the tools do that on top (pak/pack_checks.h).
PackageVerdict check_package(const platform::PackageLookup& lookup, const platform::OwnTable& table);

// check_package on the program's own package (find_resource, own_attached_table).
PackageVerdict check_own_package();

// A merge pack's name is one plain file name: the rules of entry names, no separator,
// room for ".pak".
bool is_plain_pack_name(std::string_view name);
