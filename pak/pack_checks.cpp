#include "pak/pack_checks.h"

#include <cstring>
#include <string>

#include "pak/archive.h"
#include "pak/entry_decoding.h"
#include "platform/codepage.h"

namespace pak {
namespace {

// "name \"NAME\" WHAT".
std::string name_problem(std::string_view name, const char* what) {
  std::string text = "name \"";
  text.append(name);
  text.append("\" ");
  text.append(what);
  return text;
}

}  // namespace

PackCheckSummary check_pack(const std::uint8_t* view, std::size_t view_size,
                            const std::function<void(const WalkProblem&)>& on_problem) {
  PackCheckSummary summary;
  auto report = [&](std::string_view path, std::uint64_t offset, std::string text) {
    ++summary.problems;
    if (on_problem) on_problem({std::string(path), offset, std::move(text)});
  };

  WalkCallbacks callbacks;
  callbacks.on_problem = [&](const WalkProblem& problem) { report(problem.path, problem.offset, problem.text); };

  callbacks.on_directory = [&](const WalkDirectory& directory) {
    ++summary.directories;
    const DirectoryView& block = directory.block;
    const auto at = [&](std::uint32_t index) { return std::uint64_t(block.record(index) - view); };
    if (block.table_end() > directory.stretch_end)
      report(directory.path, block.offset(),
             "directory table ends at " + std::to_string(block.table_end()) + ", past its stretch ending at " +
                 std::to_string(directory.stretch_end));
    bool has_previous = false;
    std::string_view previous;
    for (std::uint32_t i = 0; i + 1 < block.count(); ++i) {
      const auto stored = block.name(i);
      if (!stored || stored->empty()) {
        has_previous = false;  // reported by the walk
        continue;
      }
      const std::string_view name = *stored;
      std::string folded(name);
      fold_name(folded);
      if (folded != name) report(directory.path, at(i), name_problem(name, "is not folded"));
      const std::size_t separator = platform::find_separator(name, 0);
      if (separator + 1 < name.size())
        report(directory.path, at(i), name_problem(name, "holds a backslash before its end"));
      if (has_previous && !(previous < name))
        report(directory.path, at(i), name_problem(name, previous == name ? "is stored twice" : "is out of order"));
      has_previous = true;
      previous = name;
    }
    const std::uint32_t last = block.count() - 1;
    const auto end_name = block.name(last);
    if (!end_name || !end_name->empty()) report(directory.path, at(last), "end record has a name");
    if (block.record_offset(last) != directory.stretch_end)
      report(directory.path, at(last),
             "end record offset " + std::to_string(block.record_offset(last)) + " is not the end of the directory (" +
                 std::to_string(directory.stretch_end) + ")");
  };

  callbacks.on_entry = [&](const WalkEntry& entry) {
    ++summary.files;
    summary.stored_bytes += entry.bytes.size();
    if (!looks_encoded(entry.bytes)) {
      summary.decoded_bytes += entry.bytes.size();
      return;
    }
    ++summary.encoded;
    if (std::memcmp(entry.bytes.data() + 4, "de", 2) != 0)
      report(entry.path, std::uint64_t(entry.bytes.data() - view),
             "begins with \"EnCo\" but not \"EnCode\": loaded as a stream, extracted as raw bytes");
    // Decoded into a counter: no buffer of the claimed decoded size is ever allocated.
    const StreamedEntry checked = check_entry_stream(entry.bytes);
    if (!checked.ok) {
      report(entry.path, std::uint64_t(entry.bytes.data() - view), "EnCode stream: " + checked.problem);
      return;
    }
    summary.decoded_bytes += checked.decoded_size;
  };

  walk_pack(view, view_size, callbacks);
  return summary;
}

}  // namespace pak
