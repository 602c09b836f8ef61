// What the pairwise fill kernels read and write, by representation: the codes of the two
// strings, the pair scores as a small table value, the gap terms per index (or, with a scaler,
// the end-weight sums), the region of the grid a fill covers and where its pointer bytes go.
// The kernels are compiled once per instruction set from kernel_impl.hpp (portable
// everywhere, AVX2 and AVX-512 on x86-64 only) and chosen per call by its policy; all builds
// compute exactly the same operations, so the choice never changes a bit. Kernel units include
// this header, so it defines no function that a unit could emit for its own instruction set
// (see common/lanes.hpp). Plain C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

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
// the first, the sentinel (or index m + 1 of arrays by k) past the last, and one spare.
inline constexpr int kEdgeEntries = 3;

// The codes of the bytes of both strings as 16-bit table indices: the pair score of cell
// (i, j) is at index q1[i] + q2r[k], k = m - j (arrays by k run forwards along an
// anti-diagonal). q1[i] is the code of s1[i - 1] times the table's row length, q2r[k] the
// code of s2[j - 1]; q1[0] and q2r[m] are padding.
struct Codes {
    const std::uint16_t* q1;   // by i, valid from -1 to n
    const std::uint16_t* q2r;  // by k, valid from 0 to m + 1
};

// The pair scores of the bytes that occur, in doubles: up to 16 of them (zero-padded to 16)
// are looked up from two vector registers, more by gathers.
struct DoubleScores {
    const double* scores;
    bool in_registers;
};

// The same scores as whole numbers (see exact_integers.hpp); for 16-bit cells also in
// `n_blocks` blocks of 64 (zero-padded; null and 0 when there are more than kSmallTable),
// which vector permutes look up faster than gathers.
struct IntegerScores {
    const std::int32_t* scores;
    const std::int16_t* blocks;
    int n_blocks;
};

// The gap terms of a fill without a scaler, per index, in the fill's cell type: for a
// GapInSeq1 column at row i its opening, extension and the closing of such a gap at row i;
// the same for GapInSeq2 columns by k. Free columns and exempt closings are folded in.
template <class T>
struct GapTerms {
    const T *ox_i, *ex_i, *cx_i;  // by i
    const T *oy_k, *ey_k, *cy_k;  // by k
};

// The pair scores a fill in cells of type T looks up.
template <class T>
using ScoresOf = std::conditional_t<std::is_same_v<T, double>, DoubleScores, IntegerScores>;

// What a fill without a scaler reads, for cells of type T (double, std::int32_t or
// std::int16_t; the integer fills hold every score times 2^shift, see exact_integers.hpp).
template <class T>
struct PlainFill {
    std::int64_t n, m;
    Codes codes;
    ScoresOf<T> scores;
    GapTerms<T> gaps;
    T unreachable;  // -inf, or the integer fills' stand-in for it
};

// Where the end rules apply, per index as lane masks (-1 where true): a gap column at row i
// (by i) or column j (by k) that is free, and the closing of a gap there that is exempt.
struct EndMasks {
    const std::int64_t *free_i, *exempt_i;  // by i
    const std::int64_t *free_k, *exempt_k;  // by k
};

// What the fill with a scaler reads: the end-weight sums per index (each 0.0 where its end
// is not free), from which every cell's scales follow, the gap scores and the end rules.
struct ScaledFill {
    std::int64_t n, m;
    Codes codes;
    DoubleScores scores;
    const double *a1_i, *b1_i;          // by i: L1(i) + R1(i), L1(i + 1) + R1(i)
    const double *l2_k, *l2p_k, *r2_k;  // by k: L2(j), L2(j + 1), R2(j)
    double open_eff, extend, close;     // the derived gap scores
    EndMasks ends;
};

// First row of anti-diagonal d (i + j = d) in an n x m grid.
[[gnu::always_inline]] inline std::int64_t first_row(std::int64_t d, std::int64_t m) {
    return d > m ? d - m : 0;
}

// Room for one stored diagonal: its longest length, min(n, m) + 1, plus padding at
// index -1, the sentinel past its last cell and kLanes entries of slack.
[[gnu::always_inline]] inline std::int64_t diagonal_room(std::int64_t n, std::int64_t m) {
    return (n < m ? n : m) + kEdgeEntries + kLanes;
}

// The part of the grid a fill computes: the cells (i, j) of rows first..last whose
// diagonal j - i lies in [low_diagonal, high_diagonal]. Cells outside it are not computed and
// read as unreachable. A region that starts below row 0 reads row first - 1 from `above`
// (M, X, Y by column j), where the region above it left them in its `below`; null for none.
// With `edges`, the fill also keeps the first and the last cell of every anti-diagonal d of
// the region: M, X, Y of the first at edges[6d], of the last at edges[6d + 3].
template <class T>
struct Region {
    std::int64_t first, last;
    std::int64_t low_diagonal, high_diagonal;
    const T* above[3];
    T* below[3];
    T* edges;
};

// The rows of anti-diagonal d (i + j = d) in an n x m grid that `region` holds: lo..hi
// (empty when lo > hi).
template <class T>
[[gnu::always_inline]] inline std::int64_t region_lo(const Region<T>& region, std::int64_t d,
                                                     std::int64_t m) {
    const std::int64_t grid = d > m ? d - m : 0;
    const std::int64_t band = (d - region.high_diagonal + 1) >> 1;  // ceil((d - high) / 2)
    return grid > region.first ? (grid > band ? grid : band)
                               : (region.first > band ? region.first : band);
}
template <class T>
[[gnu::always_inline]] inline std::int64_t region_hi(const Region<T>& region, std::int64_t d,
                                                     std::int64_t n) {
    const std::int64_t grid = d < n ? d : n;
    const std::int64_t band = (d - region.low_diagonal) >> 1;  // floor((d - low) / 2)
    const std::int64_t rows = region.last < grid ? region.last : grid;
    return rows < band ? rows : band;
}

// The scores of the three states on the two most recent anti-diagonals and one being
// filled, nine arrays of diagonal_room() entries, each pointing at its index 0. Cell i
// of diagonal d is stored at index i - lo(d), lo(d) being the first row of the diagonal
// in the region; index -1 and the entry past a diagonal's last cell hold the unreachable
// value.
template <class T>
struct FillState {
    T* diag[9];      // M, X, Y of diagonal d - 2, then d - 1, then the one being filled
    std::int64_t d;  // the last diagonal filled (its scores are diag[3..5])
};

// Where a fill writes the pointer bytes of its cells: the cells of diagonal d start at
// bytes[offsets[d] - origin], from the diagonal's first row in the whole grid or, for a
// layout of the region's cells only (`region_cells`), from its first row in the region.
struct PointerBytes {
    std::uint8_t* bytes;
    const std::uint64_t* offsets;
    std::uint64_t origin;
    bool region_cells;
};

// Fills diagonals state.d + 1 to last, the region's rows of each, writing their pointer
// bytes, and leaves the state at diagonal `last`; returns early, the state then unusable,
// when the interruption (ticked once per diagonal) asks to stop.
template <class Input, class T>
using FillFn = void (*)(const Input&, FillState<T>& state, std::int64_t last,
                        const Region<T>& region, const PointerBytes& out,
                        Interruption& interruption);

// The fills of one kernel build, by representation.
struct Fills {
    FillFn<PlainFill<double>, double> plain;
    FillFn<ScaledFill, double> scaled;
    FillFn<PlainFill<std::int32_t>, std::int32_t> int32;
    FillFn<PlainFill<std::int16_t>, std::int16_t> int16;
};

namespace kernel_generic {
extern const Fills kFills;
}  // namespace kernel_generic
namespace kernel_avx2 {
extern const Fills kFills;
}  // namespace kernel_avx2
namespace kernel_avx512 {
extern const Fills kFills;
}  // namespace kernel_avx512

}  // namespace vorn::pairwise
