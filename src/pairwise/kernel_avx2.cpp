// The fill kernel built for the avx2 instruction set (see kernel_impl.hpp).
#define KERNEL_NS kernel_avx2
#define KERNEL_LANES 4
#include "pairwise/kernel_impl.hpp"
// after the pairwise fill, whose lane operations it uses
#include "pairwise/group_kernel_impl.hpp"
