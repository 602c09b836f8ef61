// The fill kernel built for the generic instruction set (see kernel_impl.hpp).
#define KERNEL_NS kernel_generic
#include "pairwise/kernel_impl.hpp"
