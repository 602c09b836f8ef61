// The fill kernel built for the avx512 instruction set (see kernel_impl.hpp).
#define KERNEL_NS kernel_avx512
#define KERNEL_LANES 8
#include "pairwise/kernel_impl.hpp"
// after the pairwise fill, whose lane operations it uses
#include "pairwise/group_kernel_impl.hpp"
