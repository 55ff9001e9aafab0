#pragma once
// The update run's removals (pak/removal_records.h): entries taken out of game packs
// in the same rebuild as their merge, and loose files and folders deleted after the
// payload, each through the install folder's write rules.

#include <string>
#include <string_view>
#include <vector>

#include "app/dialog_view.h"
#include "pak/archive.h"
#include "pak/removal_records.h"
#include "platform/write_folder.h"

// Stages, on the open target pack, a removal of every entry listed for the pack
// pack_name (names compared folded) that the pack holds; listed entries it lacks are
// no error. Returns the number staged. Nothing is staged when no pack is open.
int stage_pack_removals(PakArchive& target, const pak::RemovalPlan& plan, std::string_view pack_name);

// The packs of plan that no merge pack names (names compared folded): they are
// rebuilt for their removals alone.
std::vector<const pak::PackRemovals*> removal_only_packs(const pak::RemovalPlan& plan,
                                                         const std::vector<std::string>& merge_names);

// Deletes the listed loose files, then the listed folders that are empty by then,
// inside folder (whose system path is folder_path). A file that is not there is no
// error; one that cannot be deleted is shown in the view's message box like a file
// that cannot be written, and the run goes on. A folder that still holds something
// stays.
void delete_loose_files(platform::WriteFolder& folder, const std::string& folder_path, const pak::RemovalPlan& plan,
                        DialogView& view);
