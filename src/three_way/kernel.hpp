// The three-way row kernel's interface: the states whose predecessors lie outside the
// current row (every state but 3, gap-gap-char) for a run of cells along the third
// string, computed side by side, and the parts of state 3 that do not depend on itself. Built per instruction set like the pairwise kernel.
#pragma once

#include <cstdint>

#include "common/pointers.hpp"

namespace vorn::three_way {

inline constexpr int kStates = 7;
inline constexpr int kLanes = 8;  // slack every row carries past its end
inline constexpr std::uint32_t kUnset3 = POINTER_UNSET & 7;
inline constexpr std::uint32_t kAllUnset = 0x1FFFFF;  // seven fields of kUnset3

struct RowInput {
    std::int64_t lo, hi;         // the cells l = lo..hi of row (i, j), lo >= 2
    bool fits[kStates];          // whether state k fits the row (i >= d1, j >= d2)
    double* out[kStates];        // score row of state k in the current plane, indexed by l
    const double* pred[kStates][kStates];  // row of predecessor state p for state k, indexed by l - d3
    const double* gap[kStates];  // gap score of p -> k for this row's coordinate classes
    double t12;                  // pair score of the first two strings' characters
    const double* t13;           // by l: pair score of the first and third strings' characters
    const double* t23;           // by l: pair score of the second and third strings' characters
    std::uint32_t* words;        // pointer words of the row, indexed by l
    // State 3's predecessor is the previous cell of this row. What does not depend on
    // state 3 itself is prepared here by l: the best of p = 0..2 and of p = 4..6 (value
    // and p), which the caller joins with p = 3 cell by cell.
    double* low_value;
    std::int64_t* low_from;
    double* high_value;
    std::int64_t* high_from;
};

using RowFn = void (*)(const RowInput&);

namespace kernel_generic { void fill_row(const RowInput&); }
namespace kernel_avx2 { void fill_row(const RowInput&); }
namespace kernel_avx512 { void fill_row(const RowInput&); }

}  // namespace vorn::three_way
