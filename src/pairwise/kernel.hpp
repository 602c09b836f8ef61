// The pairwise fill kernel's interface. The kernel is compiled once per instruction set
// from kernel_impl.hpp (portable everywhere, AVX2 and AVX-512 on x86-64 only); core.cpp
// picks one at run time. All variants compute exactly the same IEEE operations, so the
// choice never changes a bit.
#pragma once

#include <cstdint>

#include "common/pointers.hpp"

namespace vorn::pairwise {

// Pointer byte of one cell: two bits per state, each the TraceState of that state's
// predecessor (Match 0, GapInSeq1 1, GapInSeq2 2) or kUnset2 when it has none.
inline constexpr std::uint8_t kUnset2 = POINTER_UNSET & 3;
inline constexpr int kShiftMatch = 0, kShiftGap1 = 2, kShiftGap2 = 4;

// Lanes per vector in the kernels; every per-index array and diagonal carries this much
// slack past its end, and the pointer bytes too.
inline constexpr int kLanes = 8;

// Everything the fill reads. Arrays "by i" are indexed by the seq1 position i and are
// valid from index -1 to n; arrays "by k" are indexed by k = m - j (so that along an
// anti-diagonal both run forwards) and are valid from 0 to m + 1. Index -1 and m + 1
// are padding that only ever meets an unreachable predecessor.
struct FillInput {
    std::int64_t n, m;
    const std::uint32_t* c1;   // by i: code of s1[i-1] (c1[0] is padding)
    const std::uint32_t* c2r;  // by k: code of s2[j-1] (k = m is padding)
    const double* tab;         // compact pair scores, tab[c1 * sigma2 + c2]
    std::uint32_t sigma2;
    double open_eff, extend, close;
    bool seq1_left_free, seq1_right_free, seq2_left_free, seq2_right_free;
    // Without a scaler: the gap terms per index, free columns and exempt closings
    // already folded in.
    const double *ox_i, *ex_i, *cx_i;  // by i
    const double *oy_k, *ey_k, *cy_k;  // by k
    // With a scaler: the end-weight sums.
    const double *a1_i, *b1_i;          // by i: L1(i) + R1(i), L1(i + 1) + R1(i)
    const double *l2_k, *l2p_k, *r2_k;  // by k: L2(j), L2(j + 1), R2(j)
    // Working storage: nine diagonals of n + kLanes + 3 doubles, each pointing at index 0.
    double* diag[9];
    std::uint8_t* pointers;        // one byte per cell, diagonal by diagonal
    const std::uint64_t* offsets;  // first cell of each anti-diagonal in `pointers`
};

// Fills every cell and returns the scores of the three states at (n, m).
using FillFn = void (*)(const FillInput&, double end[3]);

namespace kernel_generic {
void fill_plain(const FillInput&, double end[3]);
void fill_scaled(const FillInput&, double end[3]);
}  // namespace kernel_generic
namespace kernel_avx2 {
void fill_plain(const FillInput&, double end[3]);
void fill_scaled(const FillInput&, double end[3]);
}  // namespace kernel_avx2
namespace kernel_avx512 {
void fill_plain(const FillInput&, double end[3]);
void fill_scaled(const FillInput&, double end[3]);
}  // namespace kernel_avx512

}  // namespace vorn::pairwise
