#pragma once
// Encoding of a rebuild's staged raw entries on worker threads, ahead of the writer
// that puts them into the pack in order. The encoder's output depends only on its
// input and level, so the pack is byte for byte the one a single thread writes.
// Memory stays bounded: a job starts only while the bytes held by started and not yet
// written jobs stay under a budget, except the job the writer waits for, which always
// starts.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "encode/encoder.h"

struct PendingEntry;

namespace pak {

// The bytes of a staged entry: its data, or the content of its data_path file, read
// now. False with a reason when the file cannot be read.
bool load_entry_bytes(const PendingEntry& entry, std::vector<std::uint8_t>& file_bytes, const std::uint8_t*& data,
                      std::size_t& size, std::string& why);

class EncodeAhead {
 public:
  // Bytes held by started jobs (input and stream, counted as three times the input
  // size) before no further job starts ahead of the writer.
  static constexpr std::uint64_t BUDGET = std::uint64_t(48) << 20;

  struct Result {
    std::vector<std::uint8_t> stream;  // the EnCode stream, header included
    std::string error;                 // not empty when the entry could not be encoded
  };

  // Starts threads workers over jobs, encoded in this order.
  EncodeAhead(std::vector<const PendingEntry*> jobs, EncodeLevel level, unsigned threads);
  EncodeAhead(const EncodeAhead&) = delete;
  EncodeAhead& operator=(const EncodeAhead&) = delete;
  // Stops the workers after their current job.
  ~EncodeAhead();

  // Waits for the next job's result, in job order. Call at most once per job.
  Result take();
  // The entry of the next job, or null when every job was taken.
  const PendingEntry* next_entry() const { return taken_ < jobs_.size() ? jobs_[taken_] : nullptr; }

 private:
  static std::uint64_t cost(const PendingEntry& entry);
  void work();

  std::vector<const PendingEntry*> jobs_;
  EncodeLevel level_;
  std::vector<Result> results_;
  std::vector<char> ready_;
  std::size_t started_ = 0;
  std::size_t taken_ = 0;
  std::uint64_t held_ = 0;
  bool stop_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::thread> workers_;
};

}  // namespace pak
