// Which build of the vectorised kernels runs: the best the processor supports, unless
// pinned. Every build computes the same bits; pinning exists so that tests can cover
// each of them.
#pragma once

namespace vorn {

enum class KernelIsa { Generic, Avx2, Avx512 };

// The kernel build to use now.
KernelIsa selected_kernel_isa() noexcept;

// Pins a build by name ("generic", "avx2", "avx512"); null or an unknown name unpins.
// A build the processor lacks falls back to the best available one.
void pin_kernel_isa(const char* name) noexcept;

}  // namespace vorn
