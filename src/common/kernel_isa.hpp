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

}  // namespace vorn
