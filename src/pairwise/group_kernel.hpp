// The interface of the grouped fill: several short pairs aligned side by side, one pair
// per vector lane, row by row. Compiled once per instruction set from
// group_kernel_impl.hpp, beside the pairwise kernel; group.cpp picks one at run time.
#pragma once

#include <cstdint>

#include "common/interruption.hpp"
#include "pairwise/fill.hpp"

namespace vorn::pairwise {

// The scale terms of a grouped fill with a scaler, lane by lane (see ScaledFill): by row the
// end-weight sums L1(i) + R1(i) and L1(i + 1) + R1(i) and the end rules of seq1, by column
// L2(j), L2(j + 1), R2(j) and the end rules of seq2 (lane masks, -1 where true); and the
// derived gap scores.
struct GroupScales {
    const double *a1, *b1;                  // by row
    const std::int64_t *free_x, *exempt_x;  // by row
    const double *l2, *l2p, *r2;            // by column
    const std::int64_t *free_y, *exempt_y;  // by column
    double open_eff, extend, close;
};

// Everything the grouped fill reads and writes, for cells of type T (std::int16_t or
// std::int32_t where the integer fill is exact, else double). With W the kernel's lanes
// for T, entry [x * W + l] of an array "by row" or "by column" belongs to the pair in lane
// l at row x (seq1 position) or column x (seq2 position).
template <class T>
struct GroupInput {
    std::int64_t rows, cols;  // the longest seq1 and the longest seq2 of the group
    const std::uint16_t* q1;  // by row 0..rows: code of s1[i-1] times sigma2 (row 0 padding)
    const std::uint16_t* q2;  // by column 0..cols: code of s2[j-1] (column 0 padding)
    ScoresOf<T> scores;       // pair scores, indexed by q1 + q2
    const T* row_terms;       // [(row * 3 + t) * W + l]: GapInSeq1 opening, extension, closing of X
    const T* col_terms;  // [(column * 3 + t) * W + l]: GapInSeq2 opening, extension, closing of Y
    const GroupScales* scales;  // doubles with a scaler (the terms above unused), or null
    T unreachable;              // the stand-in for -inf (-inf itself for doubles)
    bool finite;      // doubles without a scaler: every pair score and gap score is finite
    T* rows_storage;  // 9 * (rows + 3) * W cells: three diagonals of the three states
    // The pointer bytes (as in the pairwise fill), diagonal by diagonal: cell (i, j) of lane l
    // at [(group_diagonal_offset(i + j) + i - first row of the diagonal) * W + l].
    std::uint8_t* pointers;
    const std::int64_t *lane_n, *lane_m;  // each lane's own lengths
    T* ends;                              // [l * 3 + state]: the states at (lane_n, lane_m)
    Interruption* interruption;           // ticked once per row, for every lane
};

// The cells of anti-diagonals 0..d - 1 of a rows x cols grid.
inline std::int64_t group_diagonal_offset(std::int64_t d, std::int64_t rows, std::int64_t cols) {
    // Diagonal e holds min(e, rows) - max(0, e - cols) + 1 cells: the sum of e + 1 over
    // e < d, less the rows past `rows` and the columns past `cols`.
    const auto tri = [](std::int64_t k) { return k > 0 ? k * (k + 1) / 2 : 0; };
    return d * (d + 1) / 2 - tri(d - 1 - rows) - tri(d - 1 - cols);
}

// Lanes of one vector for cells of type T in each build.
template <class T>
inline constexpr int group_lanes(int vector_bytes) {
    return vector_bytes / static_cast<int>(sizeof(T));
}

#define VORN_GROUP_FILLS                                 \
    inline constexpr int kVectorBytes = KERNEL_BYTES;    \
    void fill_group(const GroupInput<std::int16_t>& in); \
    void fill_group(const GroupInput<std::int32_t>& in); \
    void fill_group(const GroupInput<double>& in);
namespace kernel_generic {
#define KERNEL_BYTES 16
VORN_GROUP_FILLS
#undef KERNEL_BYTES
}  // namespace kernel_generic
namespace kernel_avx2 {
#define KERNEL_BYTES 32
VORN_GROUP_FILLS
#undef KERNEL_BYTES
}  // namespace kernel_avx2
namespace kernel_avx512 {
#define KERNEL_BYTES 64
VORN_GROUP_FILLS
#undef KERNEL_BYTES
}  // namespace kernel_avx512
#undef VORN_GROUP_FILLS

}  // namespace vorn::pairwise
