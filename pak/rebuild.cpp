// Rebuilding an archive's pack with its staged entries merged in: the old tree and
// the staged entries become one BuildDir per directory, each directory's children
// become a sorted record table, and the new pack is written depth first in one
// sequential pass into a temporary file that then replaces the old pack atomically.
//
// LAYOUT
//   RebuildState        one rebuild's bookkeeping: staged entries by name, directories
//                       by path, links, totals for progress, the first error
//   build_tree          the old pack's tables as BuildLinks, checked as they are read
//   ensure_dir_chain    the directories a staged path needs, made where missing
//   attach_pending      staged entries linked in (directories first), replacing or
//                       removing old records of the same folded name
//   build_tables        each directory's links as a record table sorted by name
//   plan_writes         what is copied and what must be encoded, in write order (the
//                       encoding may run ahead on other threads)
//   write_pending       one staged entry's bytes: encoded, stored, or taken from the
//                       encoder running ahead
//   write_directory     a table, then its records' bytes and subtrees, depth first
//   rebuild             checks every staged entry, builds the tree and tables, writes
//                       the temporary pack in the write folder and commits it

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "encode/encoder.h"
#include "pak/archive.h"
#include "pak/encode_ahead.h"
#include "pak/entry_path.h"
#include "pak/file_sink.h"
#include "pak/write_messages.h"
#include "platform/codepage.h"

struct PakArchive::RebuildState {
  // First staged entry of each name, from the head of pending (find_pending's answer).
  std::unordered_map<std::string_view, PendingEntry*> pending_by_name;
  // Staged entries that already have a link: each is linked once at most.
  std::unordered_set<const PendingEntry*> linked;
  // BuildDir index by dir_path.
  std::unordered_map<std::string, int> dir_by_path;
  // Directory entries made by ensure_dir_chain, and every link: released together.
  std::vector<std::unique_ptr<PendingEntry>> made_dirs;
  std::deque<BuildLink> links;
  // For each BuildDir, the link that stands for each record of its table.
  std::vector<std::vector<const BuildLink*>> record_links;
  // Records of the old pack that may still be visited; a damaged pack whose
  // directories loop runs out of it.
  std::uint64_t budget = 0;
  std::uint64_t files_done = 0;
  std::uint64_t files_total = 0;
  std::uint64_t bytes_reported = 0;  // pack bytes told to the progress listener
  std::uint64_t input_done = 0;      // bytes the entries written so far brought
  std::uint64_t input_total = 0;
  std::unique_ptr<pak::EncodeAhead> ahead;  // null: raw entries are encoded by the writer
  std::string error;                        // the first problem; the rebuild stops at it
  std::string error_path;

  void fail(std::string text, std::string path) {
    if (!error.empty()) return;
    error = std::move(text);
    error_path = std::move(path);
  }
  bool failed() const { return !error.empty(); }

  PendingEntry* find_pending(std::string_view name) const {
    auto found = pending_by_name.find(name);
    return found == pending_by_name.end() ? nullptr : found->second;
  }
  int find_dir(std::string_view path) const {
    auto found = dir_by_path.find(std::string(path));
    return found == dir_by_path.end() ? -1 : found->second;
  }
  BuildLink* new_link(int kind, const std::uint8_t* record, PendingEntry* entry) {
    BuildLink& link = links.emplace_back();
    link.kind = kind;
    link.record = record;
    link.entry = entry;
    return &link;
  }
};

namespace {

// The name a link gives its record: the old record's name, or the last component of
// the staged entry's path. Presumes a name that fits (checked before).
void link_name(const BuildLink& link, char (&name)[PAK_NAME_SIZE]) {
  std::memset(name, 0, PAK_NAME_SIZE);
  if (link.kind == LINK_RECORD) {
    const char* stored = reinterpret_cast<const char*>(link.record + 4);
    std::memcpy(name, stored, strnlen(stored, PAK_MAX_NAME_LENGTH));
    return;
  }
  const std::string& path = link.entry->name;
  const std::size_t start = pak::last_component_start(path);
  std::memcpy(name, path.data() + start, std::min(path.size() - start, PAK_MAX_NAME_LENGTH));
}

// True for a temporary pack that a rebuild of the pack named by prefix left behind:
// a temporary name made after prefix, or one of the earlier scheme (no check digits).
bool is_stale_temp_name(std::string_view name, std::string_view prefix) {
  return name.starts_with(prefix) && (platform::is_own_temp_name(name) || platform::is_legacy_temp_name(name, prefix));
}

bool name_less(const PakRecord& a, const PakRecord& b) { return std::memcmp(a.name, b.name, PAK_NAME_SIZE) < 0; }

}  // namespace

BuildLink* PakArchive::build_tree(const std::string& prefix, const std::uint8_t* records, std::uint32_t count) {
  RebuildState& state = *rebuild_state;
  const int held = build_dir_count - 1;  // the array grows below: keep the index
  BuildLink* head = nullptr;
  int children = 0;
  for (std::uint32_t i = 0; i + 1 < count && !state.failed(); ++i) {
    if (state.budget == 0) {
      state.fail("damaged pack: its directories loop", base_path + pack_extension);
      break;
    }
    --state.budget;
    const std::uint8_t* record = records + std::size_t(i) * PAK_RECORD_SIZE;
    const char* name_field = reinterpret_cast<const char*>(record + 4);
    const std::size_t name_length = strnlen(name_field, PAK_NAME_SIZE);
    const std::string_view name(name_field, name_length);
    const std::string full = prefix + std::string(name);
    if (name_length == 0 || name_length == PAK_NAME_SIZE) {
      state.fail("damaged pack: a record has no valid name", full);
      break;
    }
    // A stored name is one component; a separator may only close a directory's name.
    const std::size_t separator = platform::find_separator(name, 0);
    if (separator != name.size() && separator != name.size() - 1) {
      state.fail("damaged pack: a record name holds a backslash", full);
      break;
    }
    if (full.size() > PAK_MAX_PATH_LENGTH) {
      state.fail("entry path is longer than 259 bytes", full);
      break;
    }
    PendingEntry* staged = state.find_pending(full);
    if (staged != nullptr && state.linked.count(staged) != 0) staged = nullptr;
    if (staged != nullptr && staged->state == PENDING_REMOVE) continue;  // left out, with all below it

    const std::uint32_t offset = load_u32(record);
    const std::int64_t span = std::int64_t(load_u32(record + PAK_RECORD_SIZE)) - offset;
    ++children;
    if (pak::is_directory_path(full)) {
      std::uint32_t nested_count = 0;
      const std::uint8_t* nested = nullptr;
      if (span >= 1) {
        if (std::uint64_t(offset) + 4 > view_size ||
            std::uint64_t(offset) + 4 + std::uint64_t(load_u32(view + offset)) * PAK_RECORD_SIZE > view_size) {
          state.fail("damaged pack: a directory table lies outside it", full);
          break;
        }
        nested_count = load_u32(view + offset);
        nested = view + offset + 4;
      }
      build_dirs.emplace_back().dir_path = full;
      ++build_dir_count;
      state.dir_by_path.emplace(full, build_dir_count - 1);
      build_tree(full, nested, nested_count);  // fills the new BuildDir
    } else if (staged == nullptr) {
      if (span < 0 || std::uint64_t(offset) + std::uint64_t(span) > view_size) {
        state.fail("damaged pack: an entry lies outside it", full);
        break;
      }
      ++state.files_total;
    } else {
      ++state.files_total;
    }
    BuildLink* link = staged != nullptr ? state.new_link(LINK_PENDING, nullptr, staged)
                                        : state.new_link(LINK_RECORD, record, nullptr);
    if (staged != nullptr) state.linked.insert(staged);
    link->next = head;
    head = link;
  }
  build_dirs[held].child_count = children;
  build_dirs[held].links = head;
  return head;
}

void PakArchive::ensure_dir_chain(const std::string& path) {
  RebuildState& state = *rebuild_state;
  int parent = 0;
  for (std::size_t i = platform::find_separator(path, 0); i < path.size(); i = platform::find_separator(path, i + 1)) {
    const std::string prefix = path.substr(0, i + 1);
    const int existing = state.find_dir(prefix);
    if (existing >= 0) {
      parent = existing;
      continue;
    }
    PendingEntry* entry = state.made_dirs.emplace_back(std::make_unique<PendingEntry>(prefix.c_str(), 0)).get();
    BuildLink* link = state.new_link(LINK_PENDING, nullptr, entry);
    link->next = build_dirs[parent].links;
    build_dirs[parent].links = link;
    ++build_dirs[parent].child_count;
    build_dirs.emplace_back().dir_path = prefix;
    ++build_dir_count;
    state.dir_by_path.emplace(prefix, build_dir_count - 1);
    parent = build_dir_count - 1;
  }
}

void PakArchive::attach_pending() {
  RebuildState& state = *rebuild_state;
  // Staged directories first, so that files staged with them find them. They stay on
  // pending (a failed rebuild leaves the staged entries as they were).
  for (PendingEntry* entry = pending; entry != nullptr; entry = entry->next) {
    if (entry->state != PENDING_NEW || !pak::is_directory_path(entry->name)) continue;
    if (state.linked.count(entry) == 0) ensure_dir_chain(entry->name);
  }
  for (PendingEntry* entry = pending; entry != nullptr; entry = entry->next) {
    if (entry->state != PENDING_NEW || pak::is_directory_path(entry->name) || state.linked.count(entry) != 0) continue;
    // Only the first staged entry of a name counts, as find_pending would give it.
    if (state.find_pending(entry->name) != entry) continue;
    const int dir = state.find_dir(pak::directory_part(entry->name));
    if (dir < 0) {
      if (reporter != nullptr)
        reporter->report("no such directory in the pack: the entry was left out",
                         base_path + pack_extension + "\\" + entry->name);
      continue;
    }
    BuildLink* link = state.new_link(LINK_PENDING, nullptr, entry);
    link->next = build_dirs[dir].links;
    build_dirs[dir].links = link;
    ++build_dirs[dir].child_count;
    state.linked.insert(entry);
    ++state.files_total;
  }
}

void PakArchive::build_tables() {
  RebuildState& state = *rebuild_state;
  state.record_links.assign(build_dirs.size(), {});
  std::vector<std::pair<PakRecord, const BuildLink*>> children;
  for (std::size_t d = 0; d < build_dirs.size() && !state.failed(); ++d) {
    BuildDir& dir = build_dirs[d];
    children.clear();
    for (const BuildLink* link = dir.links; link != nullptr; link = link->next) {
      PakRecord record{};
      link_name(*link, record.name);
      children.emplace_back(record, link);
    }
    // Equal names keep their list order: the first link from the head serves the
    // first record of that name.
    std::stable_sort(children.begin(), children.end(),
                     [](const auto& a, const auto& b) { return name_less(a.first, b.first); });
    for (std::size_t i = 1; i < children.size(); ++i) {
      if (std::memcmp(children[i - 1].first.name, children[i].first.name, PAK_NAME_SIZE) == 0) {
        state.fail("damaged pack: two entries of one directory have the same name",
                   dir.dir_path + std::string(children[i].first.name));
        return;
      }
    }
    dir.records.assign(children.size() + 1, PakRecord{});
    state.record_links[d].resize(children.size());
    for (std::size_t i = 0; i < children.size(); ++i) {
      dir.records[i] = children[i].first;
      state.record_links[d][i] = children[i].second;
    }
  }
}

void PakArchive::write_pending(ByteSink& file, const PendingEntry& entry) {
  RebuildState& state = *rebuild_state;
  const std::string shown = base_path + pack_extension + "\\" + entry.name;
  if (entry.encoded == 0 && state.ahead) {
    if (state.ahead->next_entry() != &entry) {
      state.fail("internal error: entries encoded out of order", shown);
      return;
    }
    pak::EncodeAhead::Result result = state.ahead->take();
    if (!result.error.empty()) return state.fail(result.error, shown);
    file.write(result.stream.data(), result.stream.size());
    return;
  }
  std::vector<std::uint8_t> file_bytes;
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::string why;
  if (!pak::load_entry_bytes(entry, file_bytes, data, size, why)) return state.fail(why, shown);
  if (entry.encoded == 1) {
    // Stored as it is: a reader takes bytes that begin with "EnCo" for a stream, so a
    // file that has come to begin so since it was staged cannot be stored raw.
    if (!entry.data_path.empty() && size >= 4 && std::memcmp(data, "EnCo", 4) == 0)
      return state.fail("begins with \"EnCo\" and cannot be stored raw", shown);
    file.write(data, size);
    return;
  }
  if (size > 0x7FFFFFFFu) return state.fail("entry is too large to be compressed", shown);
  encode_stream(file, data, std::int32_t(size), encode_level);
}

void PakArchive::plan_writes(const std::string& prefix, int dir_index, std::vector<const PendingEntry*>& to_encode) {
  RebuildState& state = *rebuild_state;
  const std::vector<PakRecord>& records = build_dirs[dir_index].records;
  for (std::size_t i = 0; i + 1 < records.size(); ++i) {
    const std::string full = prefix + records[i].name;
    if (pak::is_directory_path(full)) {
      if (const int sub = state.find_dir(full); sub >= 0) plan_writes(full, sub, to_encode);
      continue;
    }
    const BuildLink& link = *state.record_links[dir_index][i];
    if (link.kind == LINK_RECORD) {
      const std::uint32_t offset = load_u32(link.record);
      state.input_total += load_u32(link.record + PAK_RECORD_SIZE) - offset;
      continue;
    }
    state.input_total += link.entry->staged_size();
    if (link.entry->encoded == 0) to_encode.push_back(link.entry);
  }
}

std::uint64_t PakArchive::write_directory(ByteSink& file, const std::string& prefix, int dir_index) {
  RebuildState& state = *rebuild_state;
  const std::uint64_t start = file.position();
  const std::size_t n = build_dirs[dir_index].records.size() - 1;
  std::uint8_t count_bytes[4];
  store_u32(count_bytes, std::uint32_t(n + 1));
  auto write_table = [&] {
    file.write(count_bytes, 4);
    // PakRecord is laid out as on disk; the offset is stored little-endian.
    for (const PakRecord& record : build_dirs[dir_index].records) {
      std::uint8_t bytes[PAK_RECORD_SIZE];
      store_u32(bytes, record.offset);
      std::memcpy(bytes + 4, record.name, PAK_NAME_SIZE);
      file.write(bytes, PAK_RECORD_SIZE);
    }
  };
  write_table();
  auto set_offset = [&](std::size_t index) {
    const std::uint64_t position = file.position();
    if (position > 0xFFFFFFFFu) state.fail("the pack would be larger than 4 GiB", base_path + pack_extension);
    build_dirs[dir_index].records[index].offset = std::uint32_t(position);
  };
  for (std::size_t i = 0; i < n && !state.failed() && !file.failed(); ++i) {
    set_offset(i);
    const std::string full = prefix + build_dirs[dir_index].records[i].name;
    if (pak::is_directory_path(full)) {
      const int sub = state.find_dir(full);
      if (sub < 0) {
        // Every directory record has its BuildDir; an empty block keeps the pack sound.
        const std::uint64_t here = file.position();
        std::uint8_t empty[PAK_EMPTY_DIRECTORY_SIZE] = {1};
        store_u32(empty + 4, std::uint32_t(here + PAK_EMPTY_DIRECTORY_SIZE));
        file.write(empty, sizeof empty);
      } else {
        write_directory(file, full, sub);
      }
      continue;
    }
    const BuildLink& link = *state.record_links[dir_index][i];
    if (link.kind == LINK_RECORD) {
      const std::uint32_t offset = load_u32(link.record);
      const std::uint32_t span = load_u32(link.record + PAK_RECORD_SIZE) - offset;
      file.write(view + offset, span);
      state.input_done += span;
    } else {
      write_pending(file, *link.entry);
      state.input_done += link.entry->staged_size();
    }
    ++state.files_done;
    if (progress != nullptr) {
      const std::uint64_t now = file.position();
      progress->wrote(now - state.bytes_reported);
      state.bytes_reported = now;
      progress->progress(state.files_done, state.files_total);
      progress->progress_bytes(state.input_done, state.input_total);
    }
  }
  set_offset(n);
  const std::uint64_t end = build_dirs[dir_index].records[n].offset;
  file.seek(start);
  write_table();
  file.seek(end);
  return end - start;
}

int PakArchive::rebuild(const char* temp_base, int replace) {
  RebuildState state;
  rebuild_state = &state;
  const std::string old_pack = base_path + pack_extension;
  auto finish = [&](int result) {
    for (BuildDir& dir : build_dirs) {
      dir.links = nullptr;
      dir.records.clear();
    }
    build_dirs.clear();
    build_dir_count = 0;
    rebuild_state = nullptr;
    return result;
  };
  auto refuse = [&](const std::string& text, const std::string& path) {
    if (reporter != nullptr) reporter->report(text, path);
    return finish(0);
  };

  // Every staged entry that goes into the pack must fit and be safe, before anything
  // is written.
  for (PendingEntry* entry = pending; entry != nullptr; entry = entry->next) {
    state.pending_by_name.emplace(entry->name, entry);
    if (entry->state == PENDING_REMOVE) continue;
    const std::string shown = old_pack + "\\" + entry->name;
    if (const char* reason = pak::unsafe_path_reason(entry->name)) return refuse(reason, shown);
    if (const char* reason = pak::unstorable_path_reason(entry->name)) return refuse(reason, shown);
    if (entry->encoded == 0 && entry->staged_size() > 0x7FFFFFFFu)
      return refuse("entry is too large to be compressed", shown);
  }

  build_dirs.clear();
  build_dirs.emplace_back();
  build_dir_count = 1;
  state.dir_by_path.emplace("", 0);
  state.budget = view_size / PAK_RECORD_SIZE + 1;
  if (is_open == 1 && view != nullptr && root_records != nullptr) {
    if (std::uint64_t(root_count) * PAK_RECORD_SIZE + 4 > view_size)
      return refuse("damaged pack: the root table runs past its end", old_pack);
    build_tree("", root_records, root_count);
  }
  if (!state.failed()) attach_pending();
  if (!state.failed()) build_tables();
  if (state.failed()) return refuse(state.error, state.error_path);

  // The temporary pack lies beside the pack, inside the archive's write folder.
  platform::WriteFolder* folder = folder_for_writes();
  if (folder == nullptr) return refuse("cannot open the folder of the pack", old_pack);
  const std::string_view temp_text(temp_base != nullptr ? temp_base : "");
  if (!temp_text.starts_with(base_path) ||
      platform::find_separator(temp_text, base_path.size(), true) != temp_text.size())
    return refuse("the temporary pack must lie beside the pack", std::string(temp_text));
  const std::string suffix(temp_text.substr(base_path.size()));
  const std::string pack_relative = write_base + pack_extension;
  // The pack's own directory inside the folder, and the pack's name in it.
  const std::size_t last_level = pak::last_component_start(write_base);
  const std::string pack_directory = write_base.substr(0, last_level == 0 ? 0 : last_level - 1);
  const std::string temp_prefix = write_base.substr(last_level) + suffix + ".";

  platform::OutputFile out;
  std::string temp_relative;
  if (replace != 0) {
    // Temporary packs that a killed rebuild of this pack left behind go first.
    for (const std::string& name : folder->names(pack_directory))
      if (is_stale_temp_name(name, temp_prefix)) folder->remove(platform::join_relative(pack_directory, name));
    for (int attempt = 0; attempt < 100 && !out.is_open(); ++attempt) {
      temp_relative = platform::join_relative(pack_directory, platform::temp_file_name(temp_prefix));
      if (folder->create_new(temp_relative, out) == platform::OutputFile::Status::failed)
        return refuse("cannot create the temporary pack", base_path + suffix);
    }
    if (!out.is_open()) return refuse("cannot create the temporary pack", base_path + suffix);
  } else {
    // The caller wants the new pack under this name: never replace a file already there.
    for (int attempt = 0; attempt < 1000; ++attempt) {
      temp_relative = write_base + suffix + (attempt == 0 ? "" : std::to_string(attempt)) + ".pak";
      const auto status = folder->create_new(temp_relative, out);
      if (status == platform::OutputFile::Status::ok) break;
      if (status == platform::OutputFile::Status::failed || attempt == 999)
        return refuse("cannot create the temporary pack", base_path + suffix + ".pak");
    }
  }
  const std::string temp_path = base_path.substr(0, base_path.size() - write_base.size()) + temp_relative;

  // Raw entries are encoded on every core ahead of the writer, in its order.
  std::vector<const PendingEntry*> to_encode;
  plan_writes("", 0, to_encode);
  const unsigned threads = encode_threads != 0 ? encode_threads : std::max(1u, std::thread::hardware_concurrency());
  if (threads > 1 && to_encode.size() > 1)
    state.ahead = std::make_unique<pak::EncodeAhead>(std::move(to_encode), encode_level, threads);

  pak::FileSink sink(out);
  if (progress != nullptr) progress->item(old_pack);
  write_directory(sink, "", 0);
  state.ahead.reset();
  if (progress != nullptr) progress->wrote(sink.position() - state.bytes_reported);
  bool written = sink.flush() && !state.failed();
  written = written && out.sync();
  written = out.close() && written;
  if (!written) {
    folder->remove(temp_relative);
    if (state.failed()) return refuse(state.error, state.error_path);
    return refuse("cannot write the temporary pack (disk full?)", temp_path);
  }
  finish(1);

  if (replace != 0) {
    const std::uint32_t slots_kept = slot_count;
    const std::string base = base_path;
    const std::string relative_base = write_base;
    platform::WriteFolder* given_folder = own_folder_ ? nullptr : write_folder;
    auto reopen = [&] {
      return given_folder != nullptr ? open_in(*given_folder, relative_base, slots_kept, direct)
                                     : open(base.c_str(), slots_kept, direct);
    };
    const bool was_open = is_open == 1;
    close();
    const platform::WriteStatus status = folder->replace(temp_relative, pack_relative);
    if (status != platform::WriteStatus::ok) {
      folder->remove(temp_relative);
      if (was_open) reopen();
      if (reporter != nullptr) {
        if (status == platform::WriteStatus::link_in_way || status == platform::WriteStatus::not_a_file)
          reporter->write_failed(status, old_pack);
        else
          reporter->report("cannot replace the pack", old_pack);
      }
      return 0;
    }
    if (reopen() != 1 && reporter != nullptr)
      reporter->report("the new pack is in place but cannot be opened", old_pack);
    rebuilt_path = old_pack;
  } else {
    rebuilt_path = temp_path;
  }
  release_pending();
  return 1;
}
