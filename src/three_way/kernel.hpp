// The three-way row kernel's interface: the states whose predecessors lie outside the
// current row (every state but 3, gap-gap-char) for a run of cells along the third
// string, computed side by side, and the parts of state 3 that do not depend on itself. Built per
// instruction set like the pairwise kernel.
#pragma once

#include <cstdint>

#include "common/pointers.hpp"

namespace vorn::three_way {

// States are three-bit gap masks, bit s set when string s+1 has a gap in the column:
// 0 all three characters; 1, 2, 4 a gap in string 1, 2, 3; 3 only string 3 has a
// character, 5 only string 2, 6 only string 1; 7 (three gaps) does not exist.
inline constexpr int kStates = 7;
inline constexpr int kLanes = 8;  // slack every row carries past its end, for whole vectors

// The pointer word of a cell: the predecessor state of each state k in bits
// 3k..3k+2 (kUnset3 where none was written), 21 bits kept in 3 bytes, low byte first.
inline constexpr int kFieldBits = 3;
inline constexpr std::uint32_t kUnset3 = POINTER_UNSET & 7;
inline constexpr std::uint32_t kAllUnset = 0x1FFFFF;  // seven fields of kUnset3
inline constexpr int kWordBytes = 3;
static_assert(kFieldBits * kStates <= 8 * kWordBytes);

constexpr int field_shift(int state) { return kFieldBits * state; }

// `word` with state k's field set to predecessor p.
constexpr std::uint32_t with_pointer(std::uint32_t word, int k, std::uint32_t p) {
    return (word & ~(kUnset3 << field_shift(k))) | (p << field_shift(k));
}
// State k's field of `word`.
constexpr std::uint32_t pointer_of(std::uint32_t word, int k) {
    return (word >> field_shift(k)) & kUnset3;
}

inline void pack_word(std::uint8_t* cell, std::uint32_t word) {
    cell[0] = static_cast<std::uint8_t>(word);
    cell[1] = static_cast<std::uint8_t>(word >> 8);
    cell[2] = static_cast<std::uint8_t>(word >> 16);
}
inline std::uint32_t load_word(const std::uint8_t* cell) {
    return cell[0] | (cell[1] << 8) | (static_cast<std::uint32_t>(cell[2]) << 16);
}

// The pair score of state k from the pair scores of its cell, summed from `zero` in a
// fixed order: the scalar rule and the vector kernels share it (V is double or a vector).
template <class V>
inline V state_pair_score(int k, V zero, double t12, V t13, V t23) {
    switch (k) {
        case 0:
            return ((zero + t12) + t13) + t23;  // three characters: all three pairs
        case 1:
            return zero + t23;  // strings 2 and 3
        case 2:
            return zero + t13;  // strings 1 and 3
        case 4:
            return zero + t12;  // strings 1 and 2
        default:
            return zero;  // one character: no pair
    }
}

struct RowInput {
    std::int64_t lo, hi;   // the cells l = lo..hi of row (i, j), lo >= 2
    bool fits[kStates];    // whether state k fits the row (i >= d1, j >= d2)
    double* out[kStates];  // score row of state k in the current plane, indexed by l
    const double* pred[kStates]
                      [kStates];  // row of predecessor state p for state k, indexed by l - d3
    const double* gap[kStates];   // gap score of p -> k for this row's coordinate classes
    double t12;                   // pair score of the first two strings' characters
    const double* t13;            // by l: pair score of the first and third strings' characters
    const double* t23;            // by l: pair score of the second and third strings' characters
    std::uint32_t* words;         // pointer words of the row, indexed by l
    // State 3's predecessor is the previous cell of this row. What does not depend on
    // state 3 itself is prepared here by l: the best of p = 0..2 and of p = 4..6 (value
    // and p), which the caller joins with p = 3 cell by cell.
    double* low_value;
    std::int64_t* low_from;
    double* high_value;
    std::int64_t* high_from;
};

using RowFn = void (*)(const RowInput&);

namespace kernel_generic {
void fill_row(const RowInput&);
}
namespace kernel_avx2 {
void fill_row(const RowInput&);
}
namespace kernel_avx512 {
void fill_row(const RowInput&);
}

}  // namespace vorn::three_way
