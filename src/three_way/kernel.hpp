// The three-way plane kernel's interface: the column states, the layout of a plane's scores
// (by anti-diagonals) and of the pointer bytes, and the job of filling diagonals of one plane.
// Built per instruction set like the pairwise kernel; this header holds no function that a
// kernel unit could export (helpers live in an anonymous namespace).
#pragma once

#include <cstdint>

#include "common/interruption.hpp"
#include "common/pointers.hpp"

namespace vorn::three_way {

// States are three-bit gap masks, bit s set when string s + 1 has a gap in the column:
// 0 all three characters; 1, 2, 4 a gap in string 1, 2, 3; 3 only string 3 has a
// character, 5 only string 2, 6 only string 1; 7 (three gaps) does not exist.
inline constexpr int kStates = 7;

// The most cells a vector of any build holds (16-bit cells in 512 bits). Every array the
// kernel reads or writes by lane carries this much slack past its last entry.
inline constexpr int kMaxWidth = 32;

// A cell's pointers: the predecessor state of each state k, kUnset3 where none was
// written, 21 bits kept in three bytes, each in a byte plane of its own (see PlaneJob):
// byte q holds field 2q in bits 0-2, field 2q + 1 in bits 3-5 and bit q of field 6 in bit 6.
inline constexpr std::uint8_t kUnset3 = POINTER_UNSET & 7;
inline constexpr int kPointerBytes = 3;
// The three bytes of the start cell: state 0's field 0, every other field unset.
inline constexpr std::uint8_t kStartBytes[kPointerBytes] = {0x78, 0x7F, 0x7F};

namespace {

constexpr bool gaps(int state, int s) { return (state >> s) & 1; }
// The step of state k along string s: 1 for a character, 0 for a gap.
constexpr int step_of(int state, int s) { return gaps(state, s) ? 0 : 1; }

// Field k of a cell's pointers from its three bytes.
constexpr int pointer_field(const std::uint8_t bytes[kPointerBytes], int k) {
    if (k < 6) return (bytes[k / 2] >> (3 * (k % 2))) & 7;
    return ((bytes[0] >> 6) & 1) | (((bytes[1] >> 6) & 1) << 1) | (((bytes[2] >> 6) & 1) << 2);
}

}  // namespace

// Where the three pair scores of a cell come from. The fill runs one string (the outer
// one) in planes and the other two, a before b, along the planes' anti-diagonals: the
// pair (a, b) is read from a plane-shaped array, the pair (outer, a) from a row by a's
// coordinate, and the pair (outer, b) from a row by kb = len_b - (b's coordinate).
enum class PairSource : std::uint8_t { Plane, ByA, ByB };

// One plane of the grid: the cells (x_a, x_b), 0 <= x_a <= len_a, 0 <= x_b <= len_b, of one
// coordinate of the outer string, stored anti-diagonal by anti-diagonal (t = x_a + x_b), each
// state in an array of `entries` values. Cell x_a of diagonal t is at entry base[t] + x_a, with
// the unreachable value just before the diagonal's first cell and just after its last (x_a = -1
// or x_b = -1 read there); two diagonals t = -2 and -1 of unreachable values lead the array,
// and slack for whole vectors ends it. Pointer bytes: byte q of cell x_a of diagonal t is at
// q * cells + cell_base[t] + x_a.
template <class T>
struct PlaneJob {
    std::int64_t len_a, len_b;
    const std::int64_t* base;                                   // by t + 2, t = -2 .. len_a + len_b
    const std::int64_t* cell_base;                              // by t
    std::int64_t entries;                                       // values of one state's array
    std::int64_t cells;                                         // cells of one plane
    int step_outer[kStates], step_a[kStates], step_b[kStates];  // each state's steps
    const T* prev;     // the plane before (states at p * entries)
    T* cur;            // the plane being filled
    const T* pair[3];  // pair scores of strings (1, 2), (1, 3), (2, 3)
    PairSource pair_source[3];
    const T* gap_table;           // doubles: [64][k][p], by the coordinate classes of the strings
    T class_terms[3][4];          // integers: kOpening, kExtension, kClosing terms by class
    int outer_classes;            // the outer coordinate's class, at its string's bits
    int shift_a, shift_b;         // bit positions of a's and b's classes in a table index
    const std::uint8_t* class_a;  // class by coordinate (bit 0 free gap, bit 1 exempt closing)
    const std::uint8_t* class_b;
    const std::int64_t* special_a;  // coordinates of a whose class is not 0, and their number
    int n_special_a;
    const std::int64_t* special_b;
    int n_special_b;
    std::int64_t max_a, max_b;  // only cells with x_a <= max_a and x_b <= max_b are needed
    std::uint8_t* pointers;     // byte 0 of this plane's pointers; null: none kept
    T unreachable;              // -inf, or the integer fills' stand-in
    void* scratch;              // room for kStates * kStates vectors of the widest build
    void* fields;               // doubles: kFieldBytes per cell of a diagonal and of kMaxWidth
    Interruption* interruption;
};

// The integer fills keep each entry of state k as 8 v + (7 - k), v its scaled score, so that
// the largest candidate is also the first one in p order (exact_integers.hpp). Their gap score of
// p -> k is split per string s: kOpening where k gaps s, plus kExtension where p gaps s as well,
// and kClosing where k has a character of s and p gaps s; each times 8, 0 where the class of the
// coordinate makes the gap free or the closing exempt.
inline constexpr int kOpening = 0, kExtension = 1, kClosing = 2;
inline constexpr int kTieBits = 3;

// The double fill's pointer fields of one diagonal wait in PlaneJob::fields, this many bytes per
// cell of its longest diagonal and of kMaxWidth more.
inline constexpr int kFieldBytes = 8;

// Room the scratch of a PlaneJob needs, in bytes, including alignment.
inline constexpr std::uint64_t kScratchBytes = kStates * kStates * 64 + 64;

// Fills diagonals first..last of the job's plane (their cells within the job's bounds) and
// their pointers; false when the interruption asked to stop (the plane is then unusable).
#define VORN_THREE_WAY_FILLS                                                               \
    bool fill_double(const PlaneJob<double>&, std::int64_t first, std::int64_t last);      \
    bool fill_int32(const PlaneJob<std::int32_t>&, std::int64_t first, std::int64_t last); \
    bool fill_int16(const PlaneJob<std::int16_t>&, std::int64_t first, std::int64_t last);
namespace kernel_generic {
VORN_THREE_WAY_FILLS
}  // namespace kernel_generic
namespace kernel_avx2 {
VORN_THREE_WAY_FILLS
}  // namespace kernel_avx2
namespace kernel_avx512 {
VORN_THREE_WAY_FILLS
}  // namespace kernel_avx512
#undef VORN_THREE_WAY_FILLS

}  // namespace vorn::three_way
