// The pairwise recurrence, once, for a vector of cells: the nine candidate offers of the
// three states and their first-maximum choices, with the lane operations it needs (the pair
// score lookup, wrapping integer sums, the best-so-far). The single-pair fill (a vector
// along one pair's anti-diagonal) and the grouped fill (a vector of lanes of different
// pairs) both call cell_step. Include only from a kernel translation unit, after
// common/lanes.hpp, with KERNEL_NS and KERNEL_LANES defined.
//
// States: M = Match (a letter of each string), X = GapInSeq1 (a gap in seq1, a letter of
// seq2), Y = GapInSeq2 (a letter of seq1, a gap in seq2). For cell (i, j), primed values
// being the predecessor cell's:
//   Match     from (i-1, j-1): M' + sub,  cX + (X' + sub),  cY + (Y' + sub)
//   GapInSeq1 from (i, j-1):   M' + ox,   ex + X',          cY + (ox + Y')
//   GapInSeq2 from (i-1, j):   M' + oy,   cX + (oy + X'),   ey + Y'
// Candidates are taken in that order; a later one replaces an earlier only when strictly
// greater, and one at -inf or NaN never counts (the best starts at -inf), so ties keep the
// lower state.
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#if defined(__AVX2__) || defined(__AVX512F__)
#include <immintrin.h>
#endif

#include "common/lanes.hpp"
#include "pairwise/fill.hpp"

namespace vorn::pairwise::KERNEL_NS {

namespace {

using namespace vorn::KERNEL_NS;  // the lane types and operations
static_assert(kWidth <= kLanes);

// The zero-to-one rule of the scale sums, lane by lane.
inline VecD one_if_zero(VecD x) { return x == splat(0.0) ? splat(1.0) : x; }

// The doubles' pair scores for every lane, from two registers when there are at most 16.
inline VecD lookup(const DoubleScores& table, VecI32 index) {
#if defined(__AVX512F__) && KERNEL_LANES == 8
    __m256i ix;
    std::memcpy(&ix, &index, sizeof ix);
    if (table.in_registers) {  // 16 entries: a permute of two registers instead of a gather
        __m512d lo, hi;
        std::memcpy(&lo, table.scores, sizeof lo);
        std::memcpy(&hi, table.scores + 8, sizeof hi);
        const VecI wide = __builtin_convertvector(index, VecI);
        __m512i ix64;
        std::memcpy(&ix64, &wide, sizeof ix64);
        const __m512d r = _mm512_permutex2var_pd(lo, ix64, hi);
        VecD v;
        std::memcpy(&v, &r, sizeof v);
        return v;
    }
    const __m512d g = _mm512_mask_i32gather_pd(_mm512_setzero_pd(), 0xFF, ix, table.scores, 8);
    VecD v;
    std::memcpy(&v, &g, sizeof v);
    return v;
#elif defined(__AVX2__) && KERNEL_LANES == 4
    __m128i ix;
    std::memcpy(&ix, &index, sizeof ix);
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    const __m256d g = _mm256_mask_i32gather_pd(_mm256_setzero_pd(), table.scores, ix, all, 8);
    VecD v;
    std::memcpy(&v, &g, sizeof v);
    return v;
#else
    VecD v;
    for (int lane = 0; lane < kWidth; ++lane) v[lane] = table.scores[index[lane]];
    return v;
#endif
}

#if (defined(__AVX512F__) && KERNEL_LANES == 8) || (defined(__AVX2__) && KERNEL_LANES == 4)
// table[index] for 2 * KERNEL_LANES 32-bit lanes: one gather instruction.
template <class I32xG>
inline I32xG gather32(const std::int32_t* table, I32xG index) {
#if defined(__AVX512F__) && KERNEL_LANES == 8
    __m512i ix;
    std::memcpy(&ix, &index, sizeof ix);
    const __m512i g = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), 0xFFFF, ix, table, 4);
#else
    __m256i ix;
    std::memcpy(&ix, &index, sizeof ix);
    const __m256i g =
        _mm256_mask_i32gather_epi32(_mm256_setzero_si256(), table, ix, _mm256_set1_epi32(-1), 4);
#endif
    return load<I32xG>(&g);
}
#endif

// The integer fills' pair scores for every lane: for 16-bit cells permuted out of blocks of 64
// scores (two registers each) where the processor can permute 16-bit lanes, else gathered 32
// bits at a time and narrowed (every score fits the cell type).
template <class T>
[[gnu::always_inline]] inline typename Lanes<T>::V lookup(const IntegerScores& table,
                                                          typename Lanes<T>::U16 index) {
    using V = typename Lanes<T>::V;
    constexpr int kCells = sizeof(V) / sizeof(T);
    V v;
#if defined(__AVX512BW__) && KERNEL_LANES == 8
    if constexpr (sizeof(T) == 2) {
        if (table.blocks) {
            // Entries 64c .. 64c + 63 from block c; blocks past the index's are not taken.
            __m512i ix, lo, hi;
            std::memcpy(&ix, &index, sizeof ix);
            std::memcpy(&lo, table.blocks, sizeof lo);
            std::memcpy(&hi, table.blocks + 32, sizeof hi);
            __m512i r = _mm512_permutex2var_epi16(lo, ix, hi);
            for (int c = 1; c < table.n_blocks; ++c) {
                std::memcpy(&lo, table.blocks + 64 * c, sizeof lo);
                std::memcpy(&hi, table.blocks + 64 * c + 32, sizeof hi);
                const __mmask32 in_block =
                    _mm512_cmpge_epu16_mask(ix, _mm512_set1_epi16(static_cast<short>(64 * c)));
                r = _mm512_mask_mov_epi16(r, in_block, _mm512_permutex2var_epi16(lo, ix, hi));
            }
            std::memcpy(&v, &r, sizeof v);
            return v;
        }
    }
#endif
#if (defined(__AVX512F__) && KERNEL_LANES == 8) || (defined(__AVX2__) && KERNEL_LANES == 4)
    // G scores of 32 bits per gather, narrowed to the cell type.
    constexpr int G = 2 * KERNEL_LANES;
    using I32xG = std::int32_t __attribute__((vector_size(4 * G)));
    using U16xG = std::uint16_t __attribute__((vector_size(2 * G)));
    using TxG = Vector<T, static_cast<int>(sizeof(T)) * G>;
    for (int part = 0; part < kCells; part += G) {
        const I32xG wide = __builtin_convertvector(
            load<U16xG>(reinterpret_cast<const std::uint16_t*>(&index) + part), I32xG);
        const TxG narrow = __builtin_convertvector(gather32(table.scores, wide), TxG);
        std::memcpy(reinterpret_cast<T*>(&v) + part, &narrow, sizeof narrow);
    }
#else
    for (int lane = 0; lane < kCells; ++lane) v[lane] = static_cast<T>(table.scores[index[lane]]);
#endif
    return v;
}

// Cell arithmetic. The integer sums wrap instead of overflowing: lanes past a diagonal's
// end add whatever the slack holds, and their results are never read (the lanes that are
// read never come near the limits of the type, see exact_integers.hpp).
template <class V>
using Element = std::remove_cvref_t<decltype(V{}[0])>;
template <class V>
[[gnu::always_inline]] inline V add(V a, V b) {
    if constexpr (std::is_floating_point_v<Element<V>>) {
        return a + b;
    } else {
        using U = typename Lanes<Element<V>>::Unsigned;
        const U sum = load<U>(&a) + load<U>(&b);
        return load<V>(&sum);
    }
}

// x in every lane.
template <class V, class S>
inline V broadcast(S x) {
    return V{} + static_cast<Element<V>>(x);
}

// Where every best-so-far starts: -inf for doubles, the type's lowest value for integers
// (below the stand-in for -inf).
template <class T>
inline T lowest() {
    if constexpr (std::is_same_v<T, double>) {
        return kNegInf;
    } else {
        return std::numeric_limits<T>::min();
    }
}

// A best-so-far per lane: replaced only by a strictly greater value, so ties keep the
// earlier (lower) state and -inf or NaN never count. Integers have neither, so there the
// new value is the maximum (one instruction on the dependency chain) and the comparison
// only decides the state.
template <class T>
struct Best {
    using V = typename Lanes<T>::V;
    using Mask = typename Lanes<T>::Mask;
    V value = broadcast<V>(lowest<T>());
    Mask from = broadcast<Mask>(kUnset2);
    [[gnu::always_inline]] void offer(V candidate, int state) {
        const Mask better = candidate > value;
        if constexpr (std::is_same_v<T, double>) {
            value = better ? candidate : value;
        } else {
            value = candidate > value ? candidate : value;
        }
        from = better ? broadcast<Mask>(state) : from;
    }
};

// M, X and Y of the three predecessors of a vector of cells (i, j): `diag` (i-1, j-1),
// `left` (i, j-1) and `up` (i-1, j).
template <class T>
struct Neighbours {
    using V = typename Lanes<T>::V;
    V m_diag, x_diag, y_diag, m_left, x_left, y_left, m_up, x_up, y_up;
};

// The terms of a vector of cells: the pair score; the closings of a gap in seq1 (cx) and in
// seq2 (cy) that ends into the Match column, into the GapInSeq1 column (cy_x) and into the
// GapInSeq2 column (cx_y); the openings and extensions of both gaps.
template <class T>
struct Terms {
    using V = typename Lanes<T>::V;
    V sub, cx_m, cy_m, ox, ex, cy_x, oy, ey, cx_y;
};

template <class T>
struct Cells {
    Best<T> m, x, y;
};

// The recurrence above, for every lane.
template <class T>
[[gnu::always_inline]] inline Cells<T> cell_step(const Neighbours<T>& p, const Terms<T>& t) {
    Cells<T> c;
    c.m.offer(add(p.m_diag, t.sub), 0);
    c.m.offer(add(t.cx_m, add(p.x_diag, t.sub)), 1);
    c.m.offer(add(t.cy_m, add(p.y_diag, t.sub)), 2);
    c.x.offer(add(p.m_left, t.ox), 0);
    c.x.offer(add(t.ex, p.x_left), 1);
    c.x.offer(add(t.cy_x, add(t.ox, p.y_left)), 2);
    c.y.offer(add(p.m_up, t.oy), 0);
    c.y.offer(add(t.cx_y, add(t.oy, p.x_up)), 1);
    c.y.offer(add(t.ey, p.y_up), 2);
    return c;
}

// The pointer bytes of the cells (see kShiftMatch), one per lane.
template <class T>
[[gnu::always_inline]] inline typename Lanes<T>::U8 pointer_bytes(const Cells<T>& c) {
    const typename Lanes<T>::Mask packed =
        (c.m.from << kShiftMatch) | (c.x.from << kShiftGap1) | (c.y.from << kShiftGap2);
    return __builtin_convertvector(packed, typename Lanes<T>::U8);
}

}  // namespace

}  // namespace vorn::pairwise::KERNEL_NS
