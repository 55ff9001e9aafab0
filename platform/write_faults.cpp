#include "platform/write_faults.h"

#include <atomic>

#include "platform/files.h"

namespace platform {
namespace {

std::atomic<std::int64_t> write_budget{-1};

// The count of points passed and the first one to fail (negative: none), per kind.
struct FaultCounter {
  std::atomic<std::int64_t> passed{0};
  std::atomic<std::int64_t> fail_from{-1};

  bool take() {
    const std::int64_t number = passed.fetch_add(1);
    const std::int64_t from = fail_from.load();
    return from < 0 || number < from;
  }
};

FaultCounter counters[3];

FaultCounter& counter(FaultPoint kind) { return counters[static_cast<int>(kind)]; }

}  // namespace

void inject_write_failure_after(std::int64_t bytes) { write_budget.store(bytes); }

void inject_failure_from(FaultPoint kind, std::int64_t n) {
  counter(kind).fail_from.store(-1);
  counter(kind).passed.store(0);
  counter(kind).fail_from.store(n);
}

std::int64_t fault_points_passed(FaultPoint kind) { return counter(kind).passed.load(); }

bool take_write_budget(std::size_t size) {
  if (!counter(FaultPoint::write).take()) return false;
  std::int64_t budget = write_budget.load();
  while (budget >= 0) {
    if (std::uint64_t(budget) < size) {
      write_budget.store(0);
      return false;
    }
    if (write_budget.compare_exchange_weak(budget, budget - std::int64_t(size))) return true;
  }
  return true;
}

bool take_fault_point(FaultPoint kind) { return counter(kind).take(); }

}  // namespace platform
