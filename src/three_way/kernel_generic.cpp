// The three-way row kernel built for the generic instruction set (see kernel_impl.hpp).
#define KERNEL_NS kernel_generic
#define KERNEL_LANES 2
#include "three_way/kernel_impl.hpp"
