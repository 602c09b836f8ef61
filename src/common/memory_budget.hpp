// How much memory this process can still obtain, so that an engine can pick a layout
// that fits before allocating. Plain C++ (Linux /proc and /sys files, rlimits).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

#include <sys/resource.h>
#include <unistd.h>

#include "common/checked_size.hpp"

namespace vorn {

namespace memory_detail {

// The first unsigned number of a file, or `fallback` when it has none ("max").
inline std::uint64_t read_number(const char* path, std::uint64_t fallback) noexcept {
    std::FILE* f = std::fopen(path, "r");
    if (!f) return fallback;
    unsigned long long value = 0;
    const bool ok = std::fscanf(f, "%llu", &value) == 1;
    std::fclose(f);
    return ok ? static_cast<std::uint64_t>(value) : fallback;
}

// A "Name: value kB" line of /proc/meminfo in bytes, or `fallback`.
inline std::uint64_t meminfo(const char* name, std::uint64_t fallback) noexcept {
    std::FILE* f = std::fopen("/proc/meminfo", "r");
    if (!f) return fallback;
    char line[256];
    std::uint64_t result = fallback;
    const std::size_t len = std::strlen(name);
    while (std::fgets(line, sizeof line, f)) {
        unsigned long long kb = 0;
        if (std::strncmp(line, name, len) == 0 && line[len] == ':' && std::sscanf(line + len + 1, "%llu", &kb) == 1) {
            result = static_cast<std::uint64_t>(kb) * 1024;
            break;
        }
    }
    std::fclose(f);
    return result;
}

inline std::uint64_t headroom(std::uint64_t limit, std::uint64_t used) noexcept {
    return limit > used ? limit - used : 0;
}

}  // namespace memory_detail

// Bytes this process can still obtain now: the lowest of physical memory, the cgroup
// headroom, RLIMIT_AS / RLIMIT_DATA headroom and MemAvailable + free swap.
inline std::uint64_t obtainable_memory() noexcept {
    using namespace memory_detail;
    constexpr std::uint64_t kNone = ~std::uint64_t{0};
    std::uint64_t best = physical_memory() != 0 ? physical_memory() : kNone;
    auto lower = [&](std::uint64_t x) { best = x < best ? x : best; };

    const std::uint64_t available = meminfo("MemAvailable", kNone);
    if (available != kNone) lower(available + meminfo("SwapFree", 0));

    const std::uint64_t cgroup_max = read_number("/sys/fs/cgroup/memory.max", kNone);
    if (cgroup_max != kNone) lower(headroom(cgroup_max, read_number("/sys/fs/cgroup/memory.current", 0)));

    const long page = sysconf(_SC_PAGESIZE);
    std::uint64_t vm_pages = 0, rss_pages = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        unsigned long long size = 0, resident = 0;
        if (std::fscanf(f, "%llu %llu", &size, &resident) == 2) vm_pages = size, rss_pages = resident;
        std::fclose(f);
    }
    const std::uint64_t page_bytes = page > 0 ? static_cast<std::uint64_t>(page) : 4096;
    rlimit lim{};
    if (getrlimit(RLIMIT_AS, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY) {
        lower(headroom(static_cast<std::uint64_t>(lim.rlim_cur), vm_pages * page_bytes));
    }
    if (getrlimit(RLIMIT_DATA, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY) {
        lower(headroom(static_cast<std::uint64_t>(lim.rlim_cur), rss_pages * page_bytes));
    }
    return best;
}

}  // namespace vorn
