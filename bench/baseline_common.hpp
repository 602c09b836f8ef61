// What both plain-layout baselines share: the random DNA that run.py generates too, and
// the peak memory of the process.
#pragma once

#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

std::uint64_t splitmix64(std::uint64_t& state) {
    state += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// Random DNA: each 64-bit word gives 32 bases, lowest two bits first (run.py does the same).
std::string random_dna(std::size_t n, std::uint64_t seed, std::uint64_t index) {
    std::uint64_t state = seed ^ (index * 0xD1B54A32D192ED03ULL);
    std::string s;
    while (s.size() < n) {
        const std::uint64_t word = splitmix64(state);
        for (int k = 0; k < 32 && s.size() < n; ++k) s.push_back("ACGT"[(word >> (2 * k)) & 3]);
    }
    return s;
}

// Peak RSS in KiB. ru_maxrss of a process started by fork and exec from a large parent keeps
// the parent's size as a floor (Linux carries it across execve), so prefer this process's own
// high-water mark VmHWM and fall back to ru_maxrss.
long peak_rss_kib() {
    if (std::FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        long kib = -1;
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "VmHWM: %ld", &kib) == 1) break;
        std::fclose(f);
        if (kib >= 0) return kib;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace
