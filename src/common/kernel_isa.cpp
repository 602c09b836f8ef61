// The kernel builds by name: on x86-64 the best of AVX-512, AVX2 and the portable build that
// the processor runs; elsewhere the portable build.
#include "common/kernel_isa.hpp"

#include <cstring>

namespace vorn {

namespace {

#if VORN_X86_KERNELS
KernelIsa best_supported() noexcept {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq")) {
        return KernelIsa::Avx512;
    }
    return __builtin_cpu_supports("avx2") ? KernelIsa::Avx2 : KernelIsa::Generic;
}
#else
// Off x86-64 the portable kernel is the only build, compiled for the target's own
// vectors (NEON on aarch64).
KernelIsa best_supported() noexcept { return KernelIsa::Generic; }
#endif

// Every build by name, in order of preference; a build runs when it is not better than
// the best the processor supports.
struct NamedIsa {
    const char* name;
    KernelIsa isa;
};
constexpr NamedIsa kBuilds[] = {
    {"generic", KernelIsa::Generic},
    {"avx2", KernelIsa::Avx2},
    {"avx512", KernelIsa::Avx512},
};

bool runnable(KernelIsa isa) noexcept {
    return static_cast<int>(isa) <= static_cast<int>(best_kernel_isa());
}

}  // namespace

KernelIsa best_kernel_isa() noexcept {
    static const KernelIsa best = best_supported();
    return best;
}

bool kernel_isa_named(const char* name, KernelIsa* out) noexcept {
    if (!name || !*name) {
        *out = best_kernel_isa();
        return true;
    }
    for (const NamedIsa& build : kBuilds) {
        if (std::strcmp(name, build.name) == 0 && runnable(build.isa)) {
            *out = build.isa;
            return true;
        }
    }
    return false;
}

std::string runnable_kernel_names() {
    std::string names;
    for (const NamedIsa& build : kBuilds) {
        if (!runnable(build.isa)) continue;
        if (!names.empty()) names += ", ";
        names += build.name;
    }
    return names;
}

}  // namespace vorn
