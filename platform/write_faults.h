#pragma once
// Test hooks for a failing disk, and the backends' side of them. Each write call to a
// file, each flush of a file's data before it is moved into place, and each flush of a
// directory after files moved into it (POSIX) is a fault point of its kind. The hooks let a test fail one point after
// another, the way a full disk or a disk that reports an I/O error would, and see that every one is reported and costs
// no file (see also inject_write_failure_after in files.h, counted in bytes).

#include <cstddef>
#include <cstdint>

namespace platform {

enum class FaultPoint { write, flush, directory_flush };

// From the point of this kind numbered n on (0: the next one after this call), every
// point of the kind fails: writes as on a full disk, flushes as on an I/O error. A
// negative n switches failures of the kind off. Either way the count restarts at 0.
void inject_failure_from(FaultPoint kind, std::int64_t n);

// The points of this kind passed since the last inject_failure_from for it, the
// failed ones included.
std::int64_t fault_points_passed(FaultPoint kind);

// Backends: a write call of size bytes is about to be made; false when it must fail.
bool take_write_budget(std::size_t size);

// Backends: a flush of that kind is about to be made; false when it must fail.
bool take_fault_point(FaultPoint kind);

}  // namespace platform
