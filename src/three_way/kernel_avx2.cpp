// The three-way plane kernel built for the avx2 instruction set (see kernel_impl.hpp).
#define KERNEL_NS kernel_avx2
#define KERNEL_LANES 4
#include "three_way/kernel_impl.hpp"
