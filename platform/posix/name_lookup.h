#pragma once
// Finding the entry of an open directory that a name stands for, without regard to
// case (platform/name_match.h).

#include <string>
#include <vector>

#include "platform/name_match.h"

namespace platform::posix {

// The names of the open directory, without "." and ".."; false when it cannot be read.
bool list_directory(int directory, std::vector<std::string>& names);

// The name under which name exists in the open directory: name itself when something
// of that name is there (one fstatat), else the match of a listing of the directory;
// name when nothing matches or the directory cannot be listed.
std::string existing_name(int directory, const std::string& name);

}  // namespace platform::posix
