// Staged raw entries encoded on worker threads ahead of the rebuild's writer.

#include "pak/encode_ahead.h"

#include "pak/archive.h"
#include "platform/files.h"

namespace pak {

bool load_entry_bytes(const PendingEntry& entry, std::vector<std::uint8_t>& file_bytes, const std::uint8_t*& data,
                      std::size_t& size, std::string& why) {
  if (entry.data_path.empty()) {
    data = entry.data.data();
    size = entry.data.size();
    return true;
  }
  auto read = platform::read_file(entry.data_path);
  if (!read) {
    why = "cannot read the file " + entry.data_path;
    return false;
  }
  file_bytes = std::move(*read);
  data = file_bytes.data();
  size = file_bytes.size();
  return true;
}

EncodeAhead::EncodeAhead(std::vector<const PendingEntry*> jobs, EncodeLevel level, unsigned threads)
    : jobs_(std::move(jobs)), level_(level), results_(jobs_.size()), ready_(jobs_.size(), 0) {
  for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
}

EncodeAhead::~EncodeAhead() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

std::uint64_t EncodeAhead::cost(const PendingEntry& entry) { return 3 * entry.staged_size() + 64; }

void EncodeAhead::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] {
      return stop_ || (started_ < jobs_.size() && (started_ == taken_ || held_ + cost(*jobs_[started_]) <= BUDGET));
    });
    if (stop_) return;
    const std::size_t index = started_++;
    held_ += cost(*jobs_[index]);
    lock.unlock();

    Result result;
    std::vector<std::uint8_t> file_bytes;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    if (!load_entry_bytes(*jobs_[index], file_bytes, data, size, result.error)) {
    } else if (size > 0x7FFFFFFFu) {
      result.error = "entry is too large to be compressed";
    } else {
      MemorySink sink;
      encode_stream(sink, data, std::int32_t(size), level_);
      result.stream = sink.take();
    }
    file_bytes = {};

    lock.lock();
    results_[index] = std::move(result);
    ready_[index] = 1;
    changed_.notify_all();
  }
}

EncodeAhead::Result EncodeAhead::take() {
  std::unique_lock lock(mutex_);
  const std::size_t index = taken_;
  changed_.wait(lock, [&] { return ready_[index] != 0; });
  Result result = std::move(results_[index]);
  held_ -= cost(*jobs_[index]);
  ++taken_;
  lock.unlock();
  changed_.notify_all();
  return result;
}

}  // namespace pak
