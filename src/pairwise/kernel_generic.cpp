// The fill kernel built for the generic instruction set (see kernel_impl.hpp).
#define KERNEL_NS kernel_generic
#define KERNEL_LANES 2
#include "pairwise/kernel_impl.hpp"
