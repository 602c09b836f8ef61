// Run-time choice of the kernel build: on x86-64 the best of AVX-512, AVX2 and the
// portable build that the processor runs; elsewhere the portable build.
#include "common/kernel_isa.hpp"

#include <atomic>
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

const KernelIsa kBest = best_supported();
std::atomic<KernelIsa> g_selected{kBest};

}  // namespace

KernelIsa selected_kernel_isa() noexcept { return g_selected.load(std::memory_order_relaxed); }

void pin_kernel_isa(const char* name) noexcept {
    KernelIsa choice = kBest;
    if (name && std::strcmp(name, "generic") == 0) {
        choice = KernelIsa::Generic;
    } else if (name && std::strcmp(name, "avx2") == 0 && kBest != KernelIsa::Generic) {
        choice = KernelIsa::Avx2;
    }
    g_selected.store(choice, std::memory_order_relaxed);
}

}  // namespace vorn
