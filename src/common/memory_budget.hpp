// How much memory a call can still obtain, so that an engine can refuse a grid with
// MemoryError before touching it instead of being killed by the kernel once the pages are
// used. Plain C++ (Linux files and resource limits).
#pragma once

#include <cstdint>
#include <string>

namespace vorn {

inline constexpr std::uint64_t kUnlimited = ~std::uint64_t{0};

// Each limit in bytes still free for this process, kUnlimited where there is none.
struct MemoryLimits {
    std::uint64_t physical = kUnlimited;       // the machine's RAM
    std::uint64_t cgroup = kUnlimited;         // memory.max - memory.current (v2), or v1's pair
    std::uint64_t address_space = kUnlimited;  // RLIMIT_AS - the current address space
    std::uint64_t data = kUnlimited;           // RLIMIT_DATA - the current data segment
    std::uint64_t available = kUnlimited;      // MemAvailable + SwapFree
};

// Reads the limits now, from the files below `root` ("" for the real /proc and /sys; tests
// give a directory of fake ones).
MemoryLimits read_memory_limits(const std::string& root) noexcept;

// The lowest of the limits.
std::uint64_t lowest_limit(const MemoryLimits& limits) noexcept;

// Bytes this process can still obtain now: lowest_limit(read_memory_limits(root)).
std::uint64_t obtainable_memory(const std::string& root) noexcept;

// Below this many bytes a call is not checked: such a request cannot threaten the
// process, and reading the limits would cost more than the alignment.
inline constexpr std::uint64_t kAdmissionThreshold = std::uint64_t{32} << 20;

// Whether a call whose working memory is `bytes` may go ahead.
bool admit(std::uint64_t bytes, const std::string& root) noexcept;

}  // namespace vorn
