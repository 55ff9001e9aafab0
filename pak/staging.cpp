// Staging entries on a target archive, and importing every entry of a source pack.

#include <cstring>
#include <string>

#include "pak/archive.h"
#include "pak/entry_path.h"
#include "pak/write_messages.h"
#include "platform/codepage.h"

namespace {

bool begins_with_encode(const std::vector<std::uint8_t>& data) {
  return data.size() >= 6 && std::memcmp(data.data(), "EnCode", 6) == 0;
}

// A walk over a source pack's directory tree with bounds checks. budget limits the
// records visited to what the pack can hold, so a damaged pack whose directories
// point back at each other ends the walk instead of running on.
struct SourceWalk {
  PakArchive& target;
  PakArchive& source;
  bool count_only = false;
  std::uint64_t budget = 0;
  std::uint64_t done = 0;
  std::uint64_t total = 0;

  void report(const char* text, const std::string& path) {
    if (!count_only && target.reporter != nullptr) target.reporter->report(text, path);
  }

  // records: the first of n + 1 records (the last one only gives the last span).
  void walk(const std::string& prefix, const std::uint8_t* records, int n) {
    if (n <= 0) return;
    const std::uint8_t* view = source.view;
    const std::size_t view_size = source.view_size;
    if (view == nullptr || records < view + 4 ||
        std::uint64_t(records - view) + (std::uint64_t(n) + 1) * PAK_RECORD_SIZE > view_size) {
      report("damaged source pack: a directory table runs past its end", prefix);
      return;
    }
    for (int i = 0; i < n; ++i) {
      if (budget == 0) {
        report("damaged source pack: its directories loop", prefix);
        return;
      }
      --budget;
      const std::uint8_t* record = records + std::size_t(i) * PAK_RECORD_SIZE;
      const char* name_field = reinterpret_cast<const char*>(record + 4);
      const std::size_t name_length = strnlen(name_field, PAK_NAME_SIZE);
      if (name_length == PAK_NAME_SIZE || name_length == 0) {
        report("damaged source pack: a record has no valid name", prefix);
        continue;
      }
      const std::string full = prefix + std::string(name_field, name_length);
      const std::uint32_t offset = load_u32(record);
      const std::int64_t span = std::int64_t(load_u32(record + PAK_RECORD_SIZE)) - offset;
      if (pak::is_directory_path(full)) {
        if (full.size() > PAK_MAX_PATH_LENGTH) {
          report("entry path is longer than 259 bytes", full);
          continue;
        }
        // A directory the target pack lacks is staged first, so that the files below
        // it are added; one it has is left alone (staging it without bytes would
        // remove it).
        if (!count_only && target.is_open == 1 && target.find_record(full.c_str()) == nullptr &&
            target.find_pending(full.c_str()) == nullptr)
          target.stage_entry(full.c_str(), nullptr, 0);
        if (span < 1) continue;  // an empty directory without a block
        if (std::uint64_t(offset) + 4 > view_size) {
          report("damaged source pack: a directory lies past its end", full);
          continue;
        }
        const std::uint32_t count = load_u32(view + offset);
        if (count == 0) {
          report("damaged source pack: a directory has no end record", full);
          continue;
        }
        walk(full, view + offset + 4, int(std::min<std::uint32_t>(count - 1, 0x7FFFFFFF)));
        continue;
      }
      if (span < 0 || std::uint64_t(offset) + std::uint64_t(span) > view_size) {
        report("damaged source pack: an entry lies outside it", full);
        continue;
      }
      if (count_only) {
        ++total;
        continue;
      }
      target.stage_entry(full.c_str(), view + offset, std::uint32_t(span));
      ++done;
      if (target.progress != nullptr) target.progress->progress(done, total);
    }
  }
};

}  // namespace

int PakArchive::stage_entry(const char* name, const std::uint8_t* bytes, std::uint32_t length) {
  if (name == nullptr) name = "";
  auto report_problem = [&](const std::string& text) {
    if (reporter != nullptr) reporter->report(text, file_path(name));
  };
  if (std::strlen(name) > PAK_MAX_PATH_LENGTH) {
    report_problem("entry path is longer than 259 bytes");
    return 0;
  }
  std::string folded = name;
  fold_name(folded);
  if (const char* reason = pak::unsafe_path_reason(folded)) {
    report_problem(reason);
    return 0;
  }
  const bool write_now = is_open == 0 || direct == 1;
  // A stream headed for a pack is checked now; one written as a file is checked when
  // it is decoded.
  if (!write_now && bytes != nullptr && length >= 6 && std::memcmp(bytes, "EnCode", 6) == 0) {
    std::string why;
    if (!pak::stream_decodes(bytes, length, why)) {
      report_problem(why);
      return 0;
    }
  }

  PendingEntry* entry = find_pending(folded.c_str());
  const bool created = entry == nullptr;
  if (created) entry = new PendingEntry(folded.c_str(), 0);
  if (find_record(folded.c_str()) != nullptr) entry->state = bytes != nullptr ? PENDING_REPLACE : PENDING_REMOVE;
  if (length != 0 && bytes != nullptr) {
    entry->data.assign(bytes, bytes + length);
    entry->size = length;
  }
  entry->encoded = begins_with_encode(entry->data) ? 1 : 0;
  if (created) {
    const PendingEntry* old_head = pending;
    entry->next = pending;
    pending = entry;
    index_pushed_entry(entry, old_head);
  }
  if (write_now) {
    make_entry_directories(folded);
    write_entry_file(folded.c_str());
    if (drop_written_bytes_) std::vector<std::uint8_t>().swap(entry->data);
  }
  return 1;
}

int PakArchive::walk_directory(PakArchive& source, const char* prefix, const std::uint8_t* records, int n) {
  SourceWalk walk{*this, source};
  walk.budget = source.view_size / PAK_RECORD_SIZE + 1;
  walk.walk(prefix != nullptr ? prefix : "", records, n);
  return 1;
}

int PakArchive::import_pack(PakArchive& source) {
  // Files written at once go into one batch, made durable together at its end.
  const bool write_now = is_open == 0 || direct == 1;
  if (write_now) begin_write_batch();
  // A direct target that has a pack rebuilds it with the same entries afterwards.
  drop_written_bytes_ = write_now && is_open != 1;
  if (source.root_records != nullptr && source.root_count > 0) {
    const int n = int(std::min<std::uint32_t>(source.root_count - 1, 0x7FFFFFFF));
    SourceWalk count{*this, source, true};
    count.budget = source.view_size / PAK_RECORD_SIZE + 1;
    count.walk("", source.root_records, n);
    SourceWalk walk{*this, source};
    walk.budget = source.view_size / PAK_RECORD_SIZE + 1;
    walk.total = count.total;
    walk.walk("", source.root_records, n);
  }
  drop_written_bytes_ = false;
  if (write_now) end_write_batch();
  if (is_open != 1) return 1;
  const std::string temp_base = base_path + "temp";
  return rebuild(temp_base.c_str(), 1);
}
