// Runs updkit as a child process whose memory the test itself limits: an
// address-space limit natively, a job object's memory limit on Windows. The
// child's stdout and stderr come back together.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace upd::test {

struct TLimitedRun {
    int status = -1;            ///< exit code; -1 when it did not end in time or could not start
    std::string out;            ///< stdout and stderr
    /// The child's peak memory where the system reports it (Windows: the job's
    /// peak and the working set watched while it runs), else 0.
    std::uint64_t peakMemory = 0;
};

/// The updkit binary of this build.
std::string UpdkitPath();

/// Runs updkit with `args`, at most `memoryLimit` bytes of memory (where
/// CanLimitMemory) and 60 s.
TLimitedRun RunLimited(const std::vector<std::string>& args, std::uint64_t memoryLimit);

/// Whether the memory limit can be set here (not under AddressSanitizer,
/// whose shadow memory needs terabytes of address space).
bool CanLimitMemory();

} // namespace upd::test
