// The interface of the grouped fill: several short pairs aligned side by side, one pair
// per vector lane, row by row. Compiled once per instruction set from
// group_kernel_impl.hpp, beside the pairwise kernel; group.cpp picks one at run time.
#pragma once

#include <cstdint>

#include "common/interruption.hpp"
#include "pairwise/fill.hpp"

namespace vorn::pairwise {

// Everything the grouped fill reads and writes, for cells of type T (std::int16_t or
// std::int32_t: the group runs only where the integer fill is exact). With W the
// kernel's lanes for T, entry [x * W + l] of an array "by row" or "by column" belongs to
// the pair in lane l at row x (seq1 position) or column x (seq2 position).
template <class T>
struct GroupInput {
    std::int64_t rows, cols;  // the longest seq1 and the longest seq2 of the group
    const std::uint16_t* q1;  // by row 0..rows: code of s1[i-1] times sigma2 (row 0 padding)
    const std::uint16_t* q2;  // by column 0..cols: code of s2[j-1] (column 0 padding)
    IntegerScores scores;     // pair scores, indexed by q1 + q2
    const T *ox, *ex, *cx;    // by row: GapInSeq1 opening and extension, closing of X
    const T *oy, *ey, *cy;    // by column: GapInSeq2 opening and extension, closing of Y
    T unreachable;            // the stand-in for -inf
    T* rows_storage;          // 6 * (cols + 2) * W cells: two rows of the three states
    std::uint8_t* pointers;   // [(i * (cols + 1) + j) * W + l], as in the pairwise fill
    const std::int64_t *lane_n, *lane_m;  // each lane's own lengths
    T* ends;                              // [l * 3 + state]: the states at (lane_n, lane_m)
    Interruption* interruption;           // ticked once per row, for every lane
};

// Lanes of one vector for cells of type T in each build.
template <class T>
inline constexpr int group_lanes(int vector_bytes) {
    return vector_bytes / static_cast<int>(sizeof(T));
}

#define VORN_GROUP_FILLS                                 \
    inline constexpr int kVectorBytes = KERNEL_BYTES;    \
    void fill_group(const GroupInput<std::int16_t>& in); \
    void fill_group(const GroupInput<std::int32_t>& in);
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
