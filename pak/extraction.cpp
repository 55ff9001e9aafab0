// Writing entries out as files below an archive's base path.

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "encode/decoded_sink.h"
#include "pak/archive.h"
#include "pak/entry_decoding.h"
#include "pak/entry_path.h"
#include "pak/write_messages.h"
#include "platform/codepage.h"

namespace {

// Writes a staged EnCode stream's decoded bytes into a file as they come, so that no
// buffer of the decoded size is ever held. A stream that does not decode cleanly
// fails the write (the old file stays) and leaves its reason in problem.
class DecodingProducer final : public platform::FileProducer {
 public:
  DecodingProducer(pak::ByteView stream, ProgressListener* progress) : stream_(stream), progress_(progress) {}
  bool produce(platform::FileWriter& writer) override {
    struct Forward final : DecodedSink {
      Forward(platform::FileWriter& to, ProgressListener* progress) : to_(to), progress_(progress) {}
      bool write(const std::uint8_t* data, std::size_t size) override {
        if (!to_.write(data, size)) return false;
        if (progress_ != nullptr) progress_->wrote(size);
        return true;
      }
      platform::FileWriter& to_;
      ProgressListener* progress_;
    } forward(writer, progress_);
    const pak::StreamedEntry result = pak::decode_entry_to(stream_, forward);
    if (!result.ok && !result.sink_refused) problem = pak::DECODE_FAILED_TEXT + result.problem;
    return result.ok;
  }
  std::string problem;  // empty unless the stream itself is at fault

 private:
  pak::ByteView stream_;
  ProgressListener* progress_;
};

}  // namespace

namespace pak {

bool stream_decodes(const std::uint8_t* stream, std::size_t stream_size, std::string& why) {
  const StreamedEntry result = check_entry_stream(ByteView(stream, stream_size));
  if (!result.ok) why = DECODE_FAILED_TEXT + result.problem;
  return result.ok;
}

}  // namespace pak

std::string PakArchive::file_path(std::string_view name) const {
  std::string path = base_path;
  if (!path.empty() && platform::find_last_separator(path, true) != path.size() - 1) path += '\\';
  return path.append(name);
}

int PakArchive::write_entry_file(const char* name) {
  if (name == nullptr) return 0;
  const std::string path = file_path(name);
  auto report_problem = [&](const std::string& text) {
    if (reporter != nullptr) reporter->report(text, path);
  };
  if (const char* reason = pak::unsafe_path_reason(name)) {
    report_problem(reason);
    return 1;
  }
  // A staged directory is made by the files below it, never written as a file.
  if (pak::is_directory_path(name)) return 1;

  PendingEntry* entry = find_pending(name);
  EntrySlot* slot = nullptr;
  if (entry == nullptr) {
    slot = load_entry(name);
    if (slot == nullptr) return 0;
  }

  if (path.size() > PAK_MAX_PATH_LENGTH) {
    report_problem("file path is longer than 259 bytes");
  } else if (platform::WriteFolder* folder = folder_for_writes(); folder == nullptr) {
    report_problem("cannot open the folder to write into");
  } else {
    const std::string relative = platform::join_relative(write_base, name);
    if (progress != nullptr) progress->item(path);
    platform::WriteStatus status;
    bool decoded = true;
    if (entry != nullptr && entry->encoded == 1) {
      DecodingProducer producer(pak::ByteView(entry->data.data(), entry->data.size()), progress);
      status = batch_ ? batch_->write_file(relative, producer, path) : folder->write_file(relative, producer);
      if (!producer.problem.empty()) {
        report_problem(producer.problem);
        decoded = false;
        status = platform::WriteStatus::ok;
      }
    } else {
      const platform::ByteView bytes = entry != nullptr ? platform::ByteView(entry->data.data(), entry->data.size())
                                                        : platform::ByteView(slot->data, std::size_t(slot->size));
      status = batch_ ? batch_->write_file(relative, bytes, path) : folder->write_file(relative, bytes);
      if (progress != nullptr) progress->wrote(bytes.size());
    }
    if (status != platform::WriteStatus::ok) {
      if (reporter != nullptr) reporter->write_failed(status, path);
    } else if (decoded && reporter != nullptr) {
      // A file of a batch is written once the batch has put it in place.
      if (batch_)
        batch_written_.push_back(path);
      else
        reporter->written(path);
    }
    if (batch_) report_batch_failures();
  }
  if (slot != nullptr) release_entry(slot);
  return 1;
}

void PakArchive::make_entry_directories(const std::string& name) {
  platform::WriteFolder* folder = folder_for_writes();  // sets write_base
  if (folder == nullptr) return;
  const std::string directory(pak::directory_part(platform::join_relative(write_base, name)));
  if (directory.empty()) return;
  const std::string_view levels = std::string_view(directory).substr(0, directory.size() - 1);
  if (batch_)
    batch_->make_directories(levels);
  else
    folder->make_directories(levels);
}

void PakArchive::begin_write_batch() {
  platform::WriteFolder* folder = folder_for_writes();
  if (folder == nullptr) return;
  batch_ = std::make_unique<platform::WriteBatch>(*folder);
  // The archive writes the folder for the run: what a killed run left goes.
  batch_->remove_stale_temporaries(true);
}

void PakArchive::end_write_batch() {
  if (!batch_) return;
  batch_->commit();
  report_batch_failures();
  batch_.reset();
  if (reporter != nullptr)
    for (const std::string& path : batch_written_) reporter->written(path);
  batch_written_.clear();
}

// A file that failed after its content was written (when the batch flushed or moved
// it) is reported as one that could not be written; its old file stays.
void PakArchive::report_batch_failures() {
  for (const platform::WriteBatch::Failure& failure : batch_->take_failures()) {
    if (reporter != nullptr) reporter->write_failed(failure.status, failure.label);
    std::erase(batch_written_, failure.label);
  }
}

void PakArchive::create_dirs(const char* path) {
  // Only directories below the base are made, through the write folder.
  if (path == nullptr || base_path.empty()) return;
  const std::string_view text(path);
  if (!text.starts_with(base_path)) return;
  std::string_view rest = text.substr(base_path.size());
  while (!rest.empty() && rest.front() == '\\') rest.remove_prefix(1);
  if (rest.size() + base_path.size() > PAK_MAX_PATH_LENGTH || pak::unsafe_path_reason(rest) != nullptr) return;
  make_entry_directories(std::string(rest));
}

void WriteProblemReporter::write_failed(platform::WriteStatus status, const std::string& path) {
  report(pak::write_problem_text(status), path);
}

namespace pak {

const char* write_problem_text(platform::WriteStatus status) {
  switch (status) {
    case platform::WriteStatus::ok:
      return nullptr;
    case platform::WriteStatus::link_in_way:
      return LINK_IN_WAY_TEXT;
    case platform::WriteStatus::not_a_file:
      return FOLDER_IN_WAY_TEXT;
    case platform::WriteStatus::not_a_folder:
      return FILE_IN_WAY_TEXT;
    case platform::WriteStatus::bad_path:
      return "the path cannot be written on this system (too long or not a plain name)";
    case platform::WriteStatus::cannot_open:
    case platform::WriteStatus::write_failed:
      break;
  }
  return FILE_LOCKED_TEXT;
}

}  // namespace pak
