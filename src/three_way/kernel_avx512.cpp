// The three-way plane kernel built for the avx512 instruction set (see kernel_impl.hpp).
#define KERNEL_NS kernel_avx512
#define KERNEL_LANES 8
#include "three_way/kernel_impl.hpp"
