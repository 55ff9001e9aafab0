#pragma once
// The update run's removals of pack entries (pak/removal_records.h), staged on a game
// pack so that its next rebuild leaves them out.

#include <string>
#include <string_view>
#include <vector>

#include "pak/archive.h"
#include "pak/removal_records.h"

// Stages, on the open target pack, a removal of every entry listed for the pack
// pack_name that the pack holds; listed entries it lacks, and entries listed twice,
// are no error. Returns the names staged. Nothing is staged when no pack is open.
std::vector<std::string> stage_pack_removals(PakArchive& target, const pak::PackRemovalIndex& index,
                                             std::string_view pack_name);

// A name as packs and removal records compare it: folded.
std::string folded_name(std::string_view name);
