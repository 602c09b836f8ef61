// The pairwise fill kernel's interface. The kernel is compiled once per instruction set
// from kernel_impl.hpp (portable everywhere, AVX2 and AVX-512 on x86-64 only); core.cpp
// picks one at run time. All variants compute exactly the same IEEE operations, so the
// choice never changes a bit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/interruption.hpp"
#include "common/pointers.hpp"

namespace vorn::pairwise {

// Pointer byte of one cell: two bits per state, each the TraceState of that state's
// predecessor (Match 0, GapInSeq1 1, GapInSeq2 2) or kUnset2 when it has none.
inline constexpr std::uint8_t kUnset2 = POINTER_UNSET & 3;
inline constexpr int kShiftMatch = 0, kShiftGap1 = 2, kShiftGap2 = 4;

// The most lanes any kernel has in a vector (16-bit cells in 512-bit vectors); every
// per-index array and diagonal carries this much slack past its end, and the pointer
// bytes too.
inline constexpr int kLanes = 32;

// The most pair scores (sigma1 * sigma2) a 16-bit fill looks up by permutes.
inline constexpr std::size_t kSmallTable = 512;

// Entries every per-index array and stored diagonal has beyond its cells: index -1 before
// the first, the -inf sentinel (or index m + 1 of arrays by k) past the last, and one spare.
inline constexpr int kEdgeEntries = 3;

// The per-index gap terms of a fill without a scaler, in the fill's cell type.
template <class T>
struct GapTerms {
    const T *ox_i, *ex_i, *cx_i;  // by i
    const T *oy_k, *ey_k, *cy_k;  // by k
};

// Everything the fill reads. Arrays "by i" are indexed by the seq1 position i and are
// valid from index -1 to n; arrays "by k" are indexed by k = m - j (so that along an
// anti-diagonal both run forwards) and are valid from 0 to m + 1. Index -1 and m + 1
// are padding that only ever meets an unreachable predecessor.
struct FillInput {
    std::int64_t n, m;
    const std::uint32_t* c1;   // by i: code of s1[i-1] (c1[0] is padding)
    const std::uint32_t* c2r;  // by k: code of s2[j-1] (k = m is padding)
    const double* tab;         // compact pair scores, tab[c1 * sigma2 + c2]
    bool tab_in_registers;     // at most 16 of them (tab then holds 16, zero-padded)
    std::uint32_t sigma2;
    double open_eff, extend, close;
    bool seq1_left_free, seq1_right_free, seq2_left_free, seq2_right_free;
    // Without a scaler: the gap terms per index, free columns and exempt closings
    // already folded in.
    GapTerms<double> gaps;
    // With a scaler: the end-weight sums.
    const double *a1_i, *b1_i;          // by i: L1(i) + R1(i), L1(i + 1) + R1(i)
    const double *l2_k, *l2p_k, *r2_k;  // by k: L2(j), L2(j + 1), R2(j)
    // The integer fills: every score above times 2^shift, a whole number (see
    // exact_integers.hpp), the gap terms as the cell type, the pair scores as 32-bit
    // integers indexed by q1[i] + q2r[k], and for 16-bit cells the same scores in
    // small_chunks blocks of 64 (zero-padded; null and 0 when there are too many), which
    // vector permutes look up faster than gathers.
    const std::uint16_t* q1;   // by i: code of s1[i-1] times sigma2
    const std::uint16_t* q2r;  // by k: code of s2[j-1]
    const std::int32_t* tab_int;
    const std::int16_t* tab_small;
    int small_chunks;
    GapTerms<std::int32_t> gaps32;
    GapTerms<std::int16_t> gaps16;
    std::int32_t unreachable;  // the integer fills' stand-in for -inf
    // Pointer bytes of the diagonals filled: the cells of diagonal d start at
    // pointers[offsets[d] - pointer_origin].
    std::uint8_t* pointers;
    const std::uint64_t* offsets;  // first cell of each anti-diagonal in the whole grid
    std::uint64_t pointer_origin;
    Interruption* interruption;  // ticked once per diagonal
};

// First row of anti-diagonal d (i + j = d) in an n x m grid.
inline std::int64_t first_row(std::int64_t d, std::int64_t m) { return d > m ? d - m : 0; }

// Room for one stored diagonal: its longest length, min(n, m) + 1, plus padding at
// index -1, the sentinel past its last cell and kLanes entries of slack.
inline std::int64_t diagonal_room(std::int64_t n, std::int64_t m) {
    return (n < m ? n : m) + kEdgeEntries + kLanes;
}

// The scores of the three states on the two most recent anti-diagonals and one being
// filled, nine arrays of diagonal_room() doubles, each pointing at its index 0. Cell
// (i, d - i) of diagonal d is stored at index i - first_row(d); index -1 and the entry
// past a diagonal's last cell hold -inf.
// The cell types are double, std::int32_t and std::int16_t; the integer fills hold
// in.unreachable where the double fill holds -inf.
template <class T>
struct FillState {
    T* diag[9];      // M, X, Y of diagonal d - 2, then d - 1, then the one being filled
    std::int64_t d;  // the last diagonal filled (its scores are diag[3..5])
};

// The rows a fill computes: first..last of every diagonal (0..n: the whole grid). A band
// that starts below row 0 reads row first - 1 from `above` (M, X, Y by column j), where
// the band above it left them in its `below`; null for none.
template <class T>
struct Band {
    std::int64_t first, last;
    const T* above[3];
    T* below[3];
};

// Fills diagonals state.d + 1 to last from the state, the band's rows of each, writing
// their pointer bytes, and leaves the state at diagonal `last`; returns early, the state
// then unusable, when the interruption asks to stop. The diagonals of a band are stored
// from its first row on (cell i of diagonal d at index i - max(first_row(d), first)).
template <class T>
using FillFn = void (*)(const FillInput&, FillState<T>& state, std::int64_t last,
                        const Band<T>& band);

#define VORN_PAIRWISE_FILLS                                                                    \
    void fill_plain(const FillInput&, FillState<double>&, std::int64_t, const Band<double>&);  \
    void fill_scaled(const FillInput&, FillState<double>&, std::int64_t, const Band<double>&); \
    void fill_int32(const FillInput&, FillState<std::int32_t>&, std::int64_t,                  \
                    const Band<std::int32_t>&);                                                \
    void fill_int16(const FillInput&, FillState<std::int16_t>&, std::int64_t,                  \
                    const Band<std::int16_t>&);
namespace kernel_generic {
VORN_PAIRWISE_FILLS
}  // namespace kernel_generic
namespace kernel_avx2 {
VORN_PAIRWISE_FILLS
}  // namespace kernel_avx2
namespace kernel_avx512 {
VORN_PAIRWISE_FILLS
}  // namespace kernel_avx512
#undef VORN_PAIRWISE_FILLS

}  // namespace vorn::pairwise
