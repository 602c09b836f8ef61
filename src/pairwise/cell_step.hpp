// The pairwise recurrence, once, for a vector of cells: the nine candidate offers of the
// three states and their first-maximum choices, with the lane operations it needs (the pair
// score lookup, wrapping integer sums, the first maximum of three). The single-pair fill (a vector
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

// The first maximum of three candidates (a, b, c), taken in that order, a later one replacing
// the best so far only when strictly greater, and the pointer byte of three such choices.
//
// Integers (no -inf, no NaN): with bc = max(b, c), the winner is a unless bc > a, and then c
// if c > b, else b; so the choice is two maxima and two comparisons, and its 2-bit code is
// later + last, later = (bc > a) and last = later and (c > b). (A cell whose candidates all
// sit at the type's lowest value gets code 0 instead of the double fill's unset one: only
// unreachable cells, whose pointers the traceback never reads, see exact_integers.hpp (e).)
//
// Doubles: a candidate at -inf or NaN never counts, so the best starts at -inf: a' = a where
// a > -inf (else -inf), then b replaces a' where b > a', then c replaces that where greater,
// each replacement max(candidate, best) with the ordered comparison's semantics (NaN keeps
// the best). The code is 2 where c replaced, else 1 where b did, else 0 where the best is
// above -inf, else the unset code.
#if defined(__AVX512BW__) && defined(__AVX512VL__) && KERNEL_LANES == 8
#define VORN_MASK_REGISTERS 1
// AVX-512: comparisons into mask registers, the pointer byte built by masked byte adds.
template <class T>
struct MaskOf {
    using type = std::conditional_t<sizeof(T) == 2, __mmask32,
                                    std::conditional_t<sizeof(T) == 4, __mmask16, __mmask8>>;
};
template <class T>
using KMask = typename MaskOf<T>::type;

// The pointer bytes of one vector's lanes while they are assembled: bytes for 16- and 32-bit
// cells, 16-bit lanes for doubles (whose 8-bit masks serve those directly).
template <class T>
using ByteAcc = std::conditional_t<std::is_same_v<T, double>, Vector<short, 16>,
                                   Vector<char, sizeof(T) == 2 ? 32 : 16>>;

template <class T>
[[gnu::always_inline]] inline KMask<T> greater(typename Lanes<T>::V a, typename Lanes<T>::V b) {
    if constexpr (std::is_same_v<T, double>) {
        return _mm512_cmp_pd_mask(a, b, _CMP_GT_OQ);
    } else if constexpr (sizeof(T) == 2) {
        return _mm512_cmpgt_epi16_mask((__m512i)a, (__m512i)b);
    } else {
        return _mm512_cmpgt_epi32_mask((__m512i)a, (__m512i)b);
    }
}
// greater(a, b) in the lanes of `where`, false elsewhere.
template <class T>
[[gnu::always_inline]] inline KMask<T> greater_in(KMask<T> where, typename Lanes<T>::V a,
                                                  typename Lanes<T>::V b) {
    if constexpr (sizeof(T) == 2) {
        return _mm512_mask_cmpgt_epi16_mask(where, (__m512i)a, (__m512i)b);
    } else {
        return _mm512_mask_cmpgt_epi32_mask(where, (__m512i)a, (__m512i)b);
    }
}
// acc + value in the bytes of the lanes of `where`.
template <class T>
[[gnu::always_inline]] inline ByteAcc<T> add_in(ByteAcc<T> acc, KMask<T> where, int value) {
    const char v = static_cast<char>(value);
    if constexpr (std::is_same_v<T, double>) {
        return (ByteAcc<T>)_mm_mask_add_epi16((__m128i)acc, where, (__m128i)acc,
                                              _mm_set1_epi16(static_cast<short>(value)));
    } else if constexpr (sizeof(T) == 2) {
        return (ByteAcc<T>)_mm256_mask_add_epi8((__m256i)acc, where, (__m256i)acc,
                                                _mm256_set1_epi8(v));
    } else {
        return (ByteAcc<T>)_mm_mask_add_epi8((__m128i)acc, where, (__m128i)acc, _mm_set1_epi8(v));
    }
}
template <class T>
[[gnu::always_inline]] inline ByteAcc<T> bytes_of(int value) {
    return ByteAcc<T>{} + static_cast<std::remove_cvref_t<decltype(ByteAcc<T>{}[0])>>(value);
}
template <class T>
[[gnu::always_inline]] inline typename Lanes<T>::U8 to_bytes(ByteAcc<T> acc) {
    typename Lanes<T>::U8 out;
    if constexpr (std::is_same_v<T, double>) {
        const __m128i narrow = _mm_maskz_cvtepi16_epi8(0xFF, (__m128i)acc);
        std::memcpy(&out, &narrow, sizeof out);
    } else {
        std::memcpy(&out, &acc, sizeof out);
    }
    return out;
}

template <class T>
struct Choice {  // integers
    using V = typename Lanes<T>::V;
    V value;
    KMask<T> later, last;
};
template <>
struct Choice<double> {
    VecD value;
    KMask<double> counted, by_b, last;  // by_b: b replaced a'
};

template <class T, bool kNoNaN = false>
[[gnu::always_inline]] inline Choice<T> choose(typename Lanes<T>::V a, typename Lanes<T>::V b,
                                               typename Lanes<T>::V c) {
    Choice<T> r;
    if constexpr (std::is_same_v<T, double>) {
        const VecD none = splat(kNegInf);
        // max(x, y) is x > y ? x : y, NaN in x keeping y; all-lanes masks keep the compiler
        // from an undefined pass-through. Where no candidate can be NaN, a' is a itself.
        VecD a1 = a;
        if constexpr (!kNoNaN) a1 = _mm512_maskz_max_pd(0xFF, a, none);
        r.by_b = greater<T>(b, a1);
        const VecD ab = _mm512_maskz_max_pd(0xFF, b, a1);
        r.last = greater<T>(c, ab);
        r.value = _mm512_maskz_max_pd(0xFF, c, ab);
        // The best is never NaN: above -inf where its bits differ from -inf's (an integer
        // comparison, off the floating-point pipes).
        r.counted = _mm512_cmpneq_epi64_mask((__m512i)r.value, (__m512i)none);
    } else {
        const auto bc = b > c ? b : c;
        r.later = greater<T>(bc, a);
        r.last = greater_in<T>(r.later, c, b);
        r.value = a > bc ? a : bc;
    }
    return r;
}

// The pointer bytes of a cell's three choices (see kShiftMatch), one per lane.
template <class T>
[[gnu::always_inline]] inline typename Lanes<T>::U8 pointer_bytes(const Choice<T>& m,
                                                                  const Choice<T>& x,
                                                                  const Choice<T>& y) {
    constexpr int kM = 1 << kShiftMatch, kX = 1 << kShiftGap1, kY = 1 << kShiftGap2;
    if constexpr (std::is_same_v<T, double>) {
        // Each state's field by masked moves in the order of precedence (unset, 0 where a
        // candidate counted, 1 where b replaced a', 2 where c replaced), so that each choice's
        // masks die at once; then the three fields together.
        const auto field = [](const Choice<T>& ch, int shift) {
            const __m128i unset = _mm_set1_epi16(static_cast<short>(kUnset2 << shift));
            __m128i f = _mm_maskz_mov_epi16(static_cast<__mmask8>(~ch.counted), unset);
            f = _mm_mask_mov_epi16(f, ch.by_b, _mm_set1_epi16(static_cast<short>(1 << shift)));
            return _mm_mask_mov_epi16(f, ch.last, _mm_set1_epi16(static_cast<short>(2 << shift)));
        };
        const __m128i all = _mm_or_si128(_mm_or_si128(field(m, kShiftMatch), field(x, kShiftGap1)),
                                         field(y, kShiftGap2));
        return to_bytes<T>((ByteAcc<T>)all);
    } else {
        ByteAcc<T> acc = bytes_of<T>(0);
        acc = add_in<T>(acc, m.later, kM);
        acc = add_in<T>(acc, m.last, kM);
        acc = add_in<T>(acc, x.later, kX);
        acc = add_in<T>(acc, x.last, kX);
        acc = add_in<T>(acc, y.later, kY);
        acc = add_in<T>(acc, y.last, kY);
        return to_bytes<T>(acc);
    }
}
#else
// Vector extensions: comparisons give lanes of -1 (true) or 0.
template <class T>
struct Choice {  // integers
    using V = typename Lanes<T>::V;
    V value;
    typename Lanes<T>::Mask later, last;
};
template <>
struct Choice<double> {
    VecD value;
    VecI counted, later, last;
};

template <class T, bool kNoNaN = false>
[[gnu::always_inline]] inline Choice<T> choose(typename Lanes<T>::V a, typename Lanes<T>::V b,
                                               typename Lanes<T>::V c) {
    Choice<T> r;
    if constexpr (std::is_same_v<T, double>) {
        const VecD none = splat(kNegInf);
        const VecD a1 = kNoNaN ? a : (a > none ? a : none);
        const VecI by_b = b > a1;
        const VecD ab = by_b ? b : a1;
        r.last = c > ab;
        r.value = r.last ? c : ab;
        r.later = by_b | r.last;
        r.counted = r.value > none;
    } else {
        const auto bc = b > c ? b : c;
        r.later = bc > a;
        r.last = r.later & (c > b);
        r.value = a > bc ? a : bc;
    }
    return r;
}

// The pointer bytes of a cell's three choices (see kShiftMatch), one per lane: the code of
// each is later + last (a true lane being -1, minus their sum), and with doubles
// 3 - 3 counted + later + last, the unset code where nothing counted.
template <class T>
[[gnu::always_inline]] inline typename Lanes<T>::U8 pointer_bytes(const Choice<T>& m,
                                                                  const Choice<T>& x,
                                                                  const Choice<T>& y) {
    constexpr int kM = 1 << kShiftMatch, kX = 1 << kShiftGap1, kY = 1 << kShiftGap2;
    using Mask = std::remove_cvref_t<decltype(m.later)>;
    Mask packed = (m.later + m.last) * kM + (x.later + x.last) * kX + (y.later + y.last) * kY;
    if constexpr (std::is_same_v<T, double>) {
        packed -= m.counted * (kUnset2 * kM) + x.counted * (kUnset2 * kX) +
                  y.counted * (kUnset2 * kY) + kUnset2 * (kM + kX + kY);
    }
    return __builtin_convertvector(-packed, typename Lanes<T>::U8);
}
#endif

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
    Choice<T> m, x, y;
};

// With a scaler, a cell's end-weight sums: seq1's at rows i and i - 1, seq2's at columns j and
// j - 1 (see ScaledFill).
struct ScaleSums {
    VecD a_i, b_i, a_im, b_im;
    VecD l2, l2p, r2, l2_jm, l2p_jm, r2_jm;
};
// Lane by lane, where a gap column is free and where a closing is exempt.
struct EndMasks {
    VecI free_x, exempt_x, free_y, exempt_y;
};

// The terms of a cell with a scaler: each scale from the sums, times its gap score, with `sub`
// holding the match scale for the caller to multiply by the pair score. Where a gap column is
// free or a closing exempt the term is 0.0 (not 0.0 times a scale, which may be infinite);
// interior cells (kEnds false) have neither, so their masks are not read. The single-pair and
// the grouped fill both take their terms from here.
template <bool kEnds>
[[gnu::always_inline]] inline Terms<double> scaled_terms_of(const ScaleSums& s, const EndMasks& e,
                                                            VecD open_eff, VecD extend,
                                                            VecD close) {
    const VecD g1 = one_if_zero((s.b_i + s.l2) + s.r2);              // gap1_scale(i, j)
    const VecD g2 = one_if_zero((s.a_i + s.l2p) + s.r2);             // gap2_scale(i, j)
    const VecD g1_mm = one_if_zero((s.b_im + s.l2_jm) + s.r2_jm);    // gap1_scale(i-1, j-1)
    const VecD g2_mm = one_if_zero((s.a_im + s.l2p_jm) + s.r2_jm);   // gap2_scale(i-1, j-1)
    const VecD g2_left = one_if_zero((s.a_i + s.l2p_jm) + s.r2_jm);  // gap2_scale(i, j-1)
    const VecD g1_up = one_if_zero((s.b_im + s.l2) + s.r2);          // gap1_scale(i-1, j)
    Terms<double> t;
    t.sub = one_if_zero((s.a_i + s.l2) + s.r2);  // match_scale(i, j)
    t.cx_m = g1_mm * close;
    t.cy_m = g2_mm * close;
    t.ox = open_eff * g1;
    t.ex = g1 * extend;
    t.cy_x = g2_left * close;
    t.oy = open_eff * g2;
    t.ey = g2 * extend;
    t.cx_y = g1_up * close;
    if constexpr (kEnds) {
        const VecD zero = splat(0.0);
        t.cx_m = e.exempt_x ? zero : t.cx_m;
        t.cy_m = e.exempt_y ? zero : t.cy_m;
        t.ox = e.free_x ? zero : t.ox;
        t.ex = e.free_x ? zero : t.ex;
        t.cy_x = e.exempt_y ? zero : t.cy_x;
        t.oy = e.free_y ? zero : t.oy;
        t.ey = e.free_y ? zero : t.ey;
        t.cx_y = e.exempt_x ? zero : t.cx_y;
    }
    return t;
}

// The recurrence above, for every lane. Integer sums wrap and are regrouped where that
// lets loop-invariant terms combine (a sum is the same in any grouping modulo 2^bits, and
// the lanes that are read never wrap, see exact_integers.hpp (d)): Match compares the
// predecessors with their closings before the pair score is added to the winner.
//
// kNoNaN: every term is finite, so no candidate is NaN (a NaN sum needs +inf and -inf, and
// the scores, never NaN themselves, are -inf or sums of finite terms).
template <class T, bool kNoNaN = false>
[[gnu::always_inline]] inline Cells<T> cell_step(const Neighbours<T>& p, const Terms<T>& t) {
    Cells<T> c;
    if constexpr (std::is_same_v<T, double>) {
        c.m = choose<T, kNoNaN>(p.m_diag + t.sub, t.cx_m + (p.x_diag + t.sub),
                                t.cy_m + (p.y_diag + t.sub));
        c.x = choose<T, kNoNaN>(p.m_left + t.ox, t.ex + p.x_left, t.cy_x + (t.ox + p.y_left));
        c.y = choose<T, kNoNaN>(p.m_up + t.oy, t.cx_y + (t.oy + p.x_up), t.ey + p.y_up);
    } else {
        c.m = choose<T>(p.m_diag, add(p.x_diag, t.cx_m), add(p.y_diag, t.cy_m));
        c.m.value = add(c.m.value, t.sub);
        c.x = choose<T>(add(p.m_left, t.ox), add(p.x_left, t.ex), add(p.y_left, add(t.ox, t.cy_x)));
        c.y = choose<T>(add(p.m_up, t.oy), add(p.x_up, add(t.oy, t.cx_y)), add(p.y_up, t.ey));
    }
    return c;
}

// The pointer bytes of the cells (see kShiftMatch), one per lane.
template <class T>
[[gnu::always_inline]] inline typename Lanes<T>::U8 pointer_bytes(const Cells<T>& c) {
    return pointer_bytes<T>(c.m, c.x, c.y);
}

}  // namespace

}  // namespace vorn::pairwise::KERNEL_NS
