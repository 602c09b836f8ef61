// The portable fill kernel (see kernel_impl.hpp): two-double vectors, which map onto
// SSE2 on x86-64 and NEON on aarch64.
#define KERNEL_NS kernel_generic
#define KERNEL_LANES 2
#include "pairwise/kernel_impl.hpp"
// after the pairwise fill, whose lane operations it uses
#include "pairwise/group_kernel_impl.hpp"
