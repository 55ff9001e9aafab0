#include "platform/write_faults.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<std::int64_t> write_budget{-1};
}

void inject_write_failure_after(std::int64_t bytes) { write_budget.store(bytes); }

bool take_write_budget(std::size_t size) {
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

}  // namespace platform
