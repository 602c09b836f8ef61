// Reading the memory limits of this process: physical memory, its cgroup (v2 and v1),
// its resource limits and what the kernel reports as available.
#include "common/memory_budget.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "common/checked_size.hpp"

namespace vorn {

namespace {

// The whole of a small file, or "" when it cannot be read.
std::string read_file(const std::string& path) {
    std::ifstream in(path);
    if (!in) return std::string();
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A number of bytes from a cgroup file: kUnlimited for "max" or an unreadable file.
std::uint64_t read_bytes(const std::string& path) {
    const std::string text = read_file(path);
    unsigned long long value = 0;
    if (text.empty() || text.compare(0, 3, "max") == 0 ||
        std::sscanf(text.c_str(), "%llu", &value) != 1) {
        return kUnlimited;
    }
    return value;
}

std::uint64_t headroom(std::uint64_t limit, std::uint64_t used) {
    if (limit == kUnlimited) return kUnlimited;
    return limit > used ? limit - used : 0;
}

// The lowest headroom of a cgroup directory and its ancestors up to `mount`.
std::uint64_t cgroup_headroom(const std::string& mount, std::string path, const char* limit_file,
                              const char* usage_file) {
    std::uint64_t lowest = kUnlimited;
    while (true) {
        const std::string dir = mount + path;
        const std::uint64_t limit = read_bytes(dir + "/" + limit_file);
        if (limit != kUnlimited) {
            const std::uint64_t used = read_bytes(dir + "/" + usage_file);
            lowest = std::min(lowest, headroom(limit, used == kUnlimited ? 0 : used));
        }
        const std::size_t slash = path.find_last_of('/');
        if (path.empty() || slash == std::string::npos) break;
        path.erase(slash);
    }
    return lowest;
}

// A cgroup path from /proc/self/cgroup as "/a/b" below its hierarchy's mount ("" for the
// root): empty and "." components dropped, ".." taking one back, so that what is appended
// to the mount always starts with a separator and never climbs above it.
std::string cgroup_path(const std::string& text) {
    std::vector<std::string> parts;
    std::istringstream components(text);
    for (std::string part; std::getline(components, part, '/');) {
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string path;
    for (const std::string& part : parts) path += "/" + part;
    return path;
}

std::uint64_t cgroup_limit(const std::string& base) {
    std::istringstream lines(read_file(base + "/proc/self/cgroup"));
    std::uint64_t lowest = kUnlimited;
    for (std::string line; std::getline(lines, line);) {
        // "hierarchy:controllers:path": v2 has hierarchy 0 and no controllers.
        const std::size_t a = line.find(':'),
                          b = a == std::string::npos ? a : line.find(':', a + 1);
        if (b == std::string::npos) continue;
        const std::string controllers = line.substr(a + 1, b - a - 1);
        const std::string path = cgroup_path(line.substr(b + 1));
        if (line.compare(0, a, "0") == 0 && controllers.empty()) {
            lowest = std::min(lowest, cgroup_headroom(base + "/sys/fs/cgroup", path, "memory.max",
                                                      "memory.current"));
        } else if (("," + controllers + ",").find(",memory,") != std::string::npos) {
            lowest =
                std::min(lowest, cgroup_headroom(base + "/sys/fs/cgroup/memory", path,
                                                 "memory.limit_in_bytes", "memory.usage_in_bytes"));
        }
    }
    return lowest;
}

// MemAvailable + SwapFree from meminfo (kB), and MemTotal; values past 64 bits saturate.
void meminfo(const std::string& base, MemoryLimits* limits) {
    std::istringstream lines(read_file(base + "/proc/meminfo"));
    std::uint64_t available = 0, swap_free = 0, total = 0;
    bool have_available = false;
    for (std::string line; std::getline(lines, line);) {
        unsigned long long kb = 0;
        if (std::sscanf(line.c_str(), "MemAvailable: %llu kB", &kb) == 1) {
            available = saturating_mul(kb, 1024), have_available = true;
        } else if (std::sscanf(line.c_str(), "SwapFree: %llu kB", &kb) == 1) {
            swap_free = saturating_mul(kb, 1024);
        } else if (std::sscanf(line.c_str(), "MemTotal: %llu kB", &kb) == 1) {
            total = saturating_mul(kb, 1024);
        }
    }
    if (have_available) limits->available = saturating_add(available, swap_free);
    if (total != 0) limits->physical = total;
}

// The process's current address space and data segment (from statm, in pages).
void rlimits(const std::string& base, MemoryLimits* limits) {
    const long page = sysconf(_SC_PAGESIZE);
    unsigned long long size = 0, resident = 0, shared = 0, text = 0, lib = 0, data = 0;
    const std::string statm = read_file(base + "/proc/self/statm");
    const bool have = std::sscanf(statm.c_str(), "%llu %llu %llu %llu %llu %llu", &size, &resident,
                                  &shared, &text, &lib, &data) == 6 &&
                      page > 0;
    rlimit r{};
    if (getrlimit(RLIMIT_AS, &r) == 0 && r.rlim_cur != RLIM_INFINITY) {
        limits->address_space =
            headroom(r.rlim_cur, have ? saturating_mul(size, static_cast<std::uint64_t>(page)) : 0);
    }
    if (getrlimit(RLIMIT_DATA, &r) == 0 && r.rlim_cur != RLIM_INFINITY) {
        limits->data =
            headroom(r.rlim_cur, have ? saturating_mul(data, static_cast<std::uint64_t>(page)) : 0);
    }
}

}  // namespace

MemoryLimits read_memory_limits(const std::string& root) noexcept {
    MemoryLimits limits;
    try {
        const std::string& base = root;
        if (physical_memory() != 0) limits.physical = physical_memory();
        meminfo(base, &limits);  // its MemTotal, where present, stands instead
        limits.cgroup = cgroup_limit(base);
        rlimits(base, &limits);
    } catch (const std::exception&) {  // out of memory while reading: those read stand
    }
    return limits;
}

std::uint64_t lowest_limit(const MemoryLimits& l) noexcept {
    return std::min({l.physical, l.cgroup, l.address_space, l.data, l.available});
}

std::uint64_t obtainable_memory(const std::string& root) noexcept {
    return lowest_limit(read_memory_limits(root));
}

bool admit(std::uint64_t bytes, const std::string& root) noexcept {
    return bytes < kAdmissionThreshold || bytes <= obtainable_memory(root);
}

}  // namespace vorn
