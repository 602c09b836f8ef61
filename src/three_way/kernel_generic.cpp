// The portable three-way plane kernel (see kernel_impl.hpp): two-double vectors, which map
// onto SSE2 on x86-64 and NEON on aarch64.
#define KERNEL_NS kernel_generic
#define KERNEL_LANES 2
#include "three_way/kernel_impl.hpp"
