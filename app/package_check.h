#pragma once
// The integrity check of the update package the program carries, made at start
// before the game is asked to close and before anything is written: every file
// against the package's checksum record (platform/package_record.h).

#include <string>

#include "platform/package_record.h"
#include "platform/resources.h"

struct PackageVerdict {
  enum class State { none, sound, damaged };
  State state = State::none;
  std::string file;  // damaged: the file concerned ("package table" for the table)
  std::string text;  // damaged: what is wrong, in English
};

// none: the program carries no package at all (no table, no configuration, no
// record). sound: a record lists every file found and each matches it. damaged:
// anything else: a damaged table, a missing or damaged record, a file missing,
// resized or changed, or a package file (the configuration, the notes, DLL.PAK, a
// table blob or a configured merge pack) the record does not list.
PackageVerdict check_package(const platform::PackageLookup& lookup, const platform::OwnTable& table);

// check_package on the program's own package (find_resource, own_attached_table).
PackageVerdict check_own_package();
