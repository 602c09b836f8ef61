// Which build of the vectorised kernels runs: the best the processor supports, unless
// pinned. Every build computes the same bits; pinning exists so that tests can cover
// each of them.
#pragma once

#include <string>

namespace vorn {

enum class KernelIsa { Generic, Avx2, Avx512 };

// The kernel build to use now.
KernelIsa selected_kernel_isa() noexcept;

// Pins a build by name ("generic", "avx2", "avx512"); null or "" unpins (the best build
// runs). False, leaving the choice unchanged, for an unknown name or a build this
// processor cannot run.
bool pin_kernel_isa(const char* name) noexcept;

// The names of the builds this processor can run, best last, e.g. "generic, avx2".
std::string runnable_kernel_names();

}  // namespace vorn
