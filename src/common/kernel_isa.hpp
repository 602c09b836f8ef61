// The builds of the vectorised kernels: the best the processor supports, or one named by a
// call's policy. Every build computes the same bits; naming one exists so that tests can
// cover each of them.
#pragma once

#include <string>

namespace vorn {

enum class KernelIsa { Generic, Avx2, Avx512 };

// The best build this processor runs (found once, at load).
KernelIsa best_kernel_isa() noexcept;

// The build called `name` ("generic", "avx2", "avx512") into *out; null or "" names the best
// one. False, *out unchanged, for an unknown name or a build this processor cannot run.
bool kernel_isa_named(const char* name, KernelIsa* out) noexcept;

// The names of the builds this processor can run, best last, e.g. "generic, avx2".
std::string runnable_kernel_names();

// `return ns::kernel_<build>::expr;` for the build `kernel`: every build of an engine's
// kernels lives in the namespaces ns::kernel_generic, ns::kernel_avx2 and ns::kernel_avx512,
// the last two only in an x86-64 build (VORN_X86_KERNELS).
#if VORN_X86_KERNELS
#define VORN_RETURN_BY_KERNEL(kernel, ns, expr) \
    switch (kernel) {                           \
        case ::vorn::KernelIsa::Avx512:         \
            return ns::kernel_avx512::expr;     \
        case ::vorn::KernelIsa::Avx2:           \
            return ns::kernel_avx2::expr;       \
        default:                                \
            return ns::kernel_generic::expr;    \
    }
#else
#define VORN_RETURN_BY_KERNEL(kernel, ns, expr) \
    (void)(kernel);                             \
    return ns::kernel_generic::expr;
#endif

}  // namespace vorn
