#pragma once
// Full consistency check of a pack held in memory, for tools: everything the walk
// checks, plus table order, folded names, end records and a complete decode of every
// EnCode entry.

#include <cstdint>
#include <functional>

#include "pak/pack_walk.h"

namespace pak {

struct PackCheckSummary {
  std::uint64_t files = 0;
  std::uint64_t directories = 0;  // the root included
  std::uint64_t encoded = 0;      // files that are EnCode streams (decoded or not)
  std::uint64_t stored_bytes = 0;
  std::uint64_t decoded_bytes = 0;  // raw sizes plus decoded sizes of sound streams
  std::uint64_t problems = 0;
};

// Checks the pack view[0..view_size) and reports each problem found. Beyond walk_pack:
// records 0 to count - 2 of every table strictly ascending in unsigned byte order;
// every name folded and free of backslashes except a directory's last byte; the last
// record of every table named empty, its offset the end of the directory's stretch
// (the pack size for the root); every subdirectory table inside its own stretch; every
// entry that begins with "EnCo" and has ten bytes or more decoding as a sound stream
// (decoded into a counter: memory stays bounded whatever decoded sizes the entries claim).
PackCheckSummary check_pack(const std::uint8_t* view, std::size_t view_size,
                            const std::function<void(const WalkProblem&)>& on_problem);

}  // namespace pak
