// The anti-diagonal fill, included once per instruction set with KERNEL_NS defined.
//
// States: M = Match (a letter of each string), X = GapInSeq1 (a gap in seq1, a letter of
// seq2), Y = GapInSeq2 (a letter of seq1, a gap in seq2); a primed value is the
// predecessor cell's.
//
// Cells (i, j) with i + j = d depend only on diagonals d - 1 and d - 2, so all cells of
// one diagonal are computed side by side (vector lanes). For cell (i, j):
//   Match     from (i-1, j-1): M' + sub,  cX + (X' + sub),  cY + (Y' + sub)
//   GapInSeq1 from (i, j-1):   M' + ox,   ex + X',          cY + (ox + Y')
//   GapInSeq2 from (i-1, j):   M' + oy,   cX + (oy + X'),   ey + Y'
// Candidates are taken in that order; a later one replaces an earlier only when
// strictly greater, and one at -inf or NaN never counts (best starts at -inf), so ties
// keep the lower state. A state that does not exist in a cell (Match in row or column
// 0, GapInSeq1 in column 0, GapInSeq2 in row 0) reads -inf predecessors: every
// diagonal keeps -inf at index -1 (padding) and just past its last cell (sentinel).
//
// The same fill runs on doubles (always exact to the operations above) or, when every
// score is a whole multiple of one power of two and the values stay small enough, on
// 32- or 16-bit integers holding each score times that power: the same comparisons on
// the same values, with a stand-in for -inf (exact_integers.hpp says why that is exact).
//
// The lanes are GCC vector-extension vectors as wide as KERNEL_LANES doubles, which the
// compiler maps onto the instruction set of the translation unit (8, 16 or 32 cells of
// double, int32 or int16 in 512 bits); a diagonal is processed in whole vectors, and
// lanes past its end compute values that are never read (every array carries kLanes
// entries of slack).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#if defined(__AVX2__) || defined(__AVX512F__)
#include <immintrin.h>
#endif

#include "common/lanes.hpp"
#include "pairwise/kernel.hpp"

namespace vorn::pairwise::KERNEL_NS {

namespace {

using namespace vorn::KERNEL_NS;  // the lane types and operations
static_assert(kWidth <= kLanes);

// The zero-to-one rule of the scale sums, lane by lane.
inline VecD one_if_zero(VecD x) { return x == splat(0.0) ? splat(1.0) : x; }

// tab[index] for every lane (the doubles' pair scores), from two registers when there are at
// most 16 of them.
inline VecD gather(const double* tab, VecI32 index, bool in_registers) {
#if defined(__AVX512F__) && KERNEL_LANES == 8
    __m256i ix;
    std::memcpy(&ix, &index, sizeof ix);
    if (in_registers) {  // 16 entries: a permute of two registers instead of a gather
        __m512d lo, hi;
        std::memcpy(&lo, tab, sizeof lo);
        std::memcpy(&hi, tab + 8, sizeof hi);
        const VecI wide = __builtin_convertvector(index, VecI);
        __m512i ix64;
        std::memcpy(&ix64, &wide, sizeof ix64);
        const __m512d r = _mm512_permutex2var_pd(lo, ix64, hi);
        VecD v;
        std::memcpy(&v, &r, sizeof v);
        return v;
    }
    const __m512d g = _mm512_mask_i32gather_pd(_mm512_setzero_pd(), 0xFF, ix, tab, 8);
    VecD v;
    std::memcpy(&v, &g, sizeof v);
    return v;
#elif defined(__AVX2__) && KERNEL_LANES == 4
    (void)in_registers;
    __m128i ix;
    std::memcpy(&ix, &index, sizeof ix);
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    const __m256d g = _mm256_mask_i32gather_pd(_mm256_setzero_pd(), tab, ix, all, 8);
    VecD v;
    std::memcpy(&v, &g, sizeof v);
    return v;
#else
    (void)in_registers;
    VecD v;
    for (int lane = 0; lane < kWidth; ++lane) v[lane] = tab[index[lane]];
    return v;
#endif
}

// The integer fills' pair scores: tab[index] for every lane, for 16-bit cells permuted
// out of blocks of 64 scores (two registers each) where the processor can permute 16-bit
// lanes, else gathered 32 bits at a time and narrowed (every score fits the cell type).
template <class T>
[[gnu::always_inline]] inline typename Lanes<T>::V lookup(const FillInput& in,
                                                          typename Lanes<T>::U16 index) {
    using V = typename Lanes<T>::V;
    constexpr int kCells = sizeof(V) / sizeof(T);
    V v;
#if defined(__AVX512BW__) && KERNEL_LANES == 8
    if constexpr (sizeof(T) == 2) {
        if (in.tab_small) {
            // Entries 64c .. 64c + 63 from block c; blocks past the index's are not taken.
            __m512i ix, lo, hi;
            std::memcpy(&ix, &index, sizeof ix);
            std::memcpy(&lo, in.tab_small, sizeof lo);
            std::memcpy(&hi, in.tab_small + 32, sizeof hi);
            __m512i r = _mm512_permutex2var_epi16(lo, ix, hi);
            for (int c = 1; c < in.small_chunks; ++c) {
                std::memcpy(&lo, in.tab_small + 64 * c, sizeof lo);
                std::memcpy(&hi, in.tab_small + 64 * c + 32, sizeof hi);
                const __mmask32 in_block =
                    _mm512_cmpge_epu16_mask(ix, _mm512_set1_epi16(static_cast<short>(64 * c)));
                r = _mm512_mask_mov_epi16(r, in_block, _mm512_permutex2var_epi16(lo, ix, hi));
            }
            std::memcpy(&v, &r, sizeof v);
            return v;
        }
    }
    using I32x16 = std::int32_t __attribute__((vector_size(64)));
    using U16x16 = std::uint16_t __attribute__((vector_size(32)));
    using I16x16 = std::int16_t __attribute__((vector_size(32)));
    using T16 = std::conditional_t<sizeof(T) == 2, I16x16, I32x16>;
    for (int part = 0; part < kCells; part += 16) {
        const I32x16 wide = __builtin_convertvector(
            load<U16x16>(reinterpret_cast<const std::uint16_t*>(&index) + part), I32x16);
        __m512i ix;
        std::memcpy(&ix, &wide, sizeof ix);
        const __m512i g =
            _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), 0xFFFF, ix, in.tab_int, 4);
        const T16 narrow = __builtin_convertvector(load<I32x16>(&g), T16);
        std::memcpy(reinterpret_cast<T*>(&v) + part, &narrow, sizeof narrow);
    }
#elif defined(__AVX2__) && KERNEL_LANES == 4
    using I32x8 = std::int32_t __attribute__((vector_size(32)));
    using U16x8 = std::uint16_t __attribute__((vector_size(16)));
    using I16x8 = std::int16_t __attribute__((vector_size(16)));
    using T8 = std::conditional_t<sizeof(T) == 2, I16x8, I32x8>;
    for (int part = 0; part < kCells; part += 8) {
        const I32x8 wide = __builtin_convertvector(
            load<U16x8>(reinterpret_cast<const std::uint16_t*>(&index) + part), I32x8);
        __m256i ix;
        std::memcpy(&ix, &wide, sizeof ix);
        const __m256i all = _mm256_set1_epi32(-1);
        const __m256i g =
            _mm256_mask_i32gather_epi32(_mm256_setzero_si256(), in.tab_int, ix, all, 4);
        const T8 narrow = __builtin_convertvector(load<I32x8>(&g), T8);
        std::memcpy(reinterpret_cast<T*>(&v) + part, &narrow, sizeof narrow);
    }
#else
    for (int lane = 0; lane < kCells; ++lane) v[lane] = static_cast<T>(in.tab_int[index[lane]]);
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

// The value of a state that cannot be reached, and the start of every best-so-far: -inf
// for doubles; for integers the stand-in, and the type's lowest value below it.
template <class T>
inline T unreachable(const FillInput& in) {
    if constexpr (std::is_same_v<T, double>) {
        return kNegInf;
    } else {
        return static_cast<T>(in.unreachable);
    }
}

template <class T>
inline T lowest() {
    if constexpr (std::is_same_v<T, double>) {
        return kNegInf;
    } else {
        return std::numeric_limits<T>::min();
    }
}

template <class T>
inline const GapTerms<T>& gap_terms(const FillInput& in) {
    if constexpr (std::is_same_v<T, double>) {
        return in.gaps;
    } else if constexpr (std::is_same_v<T, std::int32_t>) {
        return in.gaps32;
    } else {
        return in.gaps16;
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

template <class T, bool Scaled>
void fill(const FillInput& in, FillState<T>& state, std::int64_t last, const Band<T>& band) {
    using V = typename Lanes<T>::V;
    using Mask = typename Lanes<T>::Mask;
    constexpr int kCells = sizeof(V) / sizeof(T);
    static_assert(!Scaled || std::is_same_v<T, double>, "scaled terms are never integers");
    const std::int64_t n = in.n, m = in.m;
    // diagonal d - 2, d - 1 and d, each three states
    T *m2 = state.diag[0], *x2 = state.diag[1], *y2 = state.diag[2];
    T *m1 = state.diag[3], *x1 = state.diag[4], *y1 = state.diag[5];
    T *m0 = state.diag[6], *x0 = state.diag[7], *y0 = state.diag[8];
    const T none = unreachable<T>(in);

    const VecD open_eff = splat(in.open_eff), extend = splat(in.extend), close = splat(in.close);
    const VecD zero = splat(0.0);
    const VecU32 sigma2 = VecU32{} + in.sigma2;
    // With a scaler, free gap columns and exempt closings are found by comparing each
    // lane's i and j with the boundaries (without one, they are folded into the
    // per-index gap terms).
    VecI lane{};
    for (int t = 0; t < kWidth; ++t) lane[t] = t;
    const VecI l1f = splat_i(in.seq1_left_free ? -1 : 0),
               r1f = splat_i(in.seq1_right_free ? -1 : 0);
    const VecI l2f = splat_i(in.seq2_left_free ? -1 : 0),
               r2f = splat_i(in.seq2_right_free ? -1 : 0);
    const VecI zero_i = splat_i(0), one_i = splat_i(1), n_i = splat_i(n), m_i = splat_i(m);
    const GapTerms<T>& g = gap_terms<T>(in);
    // On entry to diagonal d: diagonals d - 2 and d - 1 are final in m2/x2/y2 and m1/x1/y1
    // (cells lo..hi at indices 0..hi - lo, the unreachable value at index -1 and just past
    // the last cell), and m0/x0/y0 is free. A whole vector at the diagonal's end spills up
    // to kCells - 1 entries past hi: into the slack of the score arrays, then covered by
    // the sentinel, and into the first pointer bytes of diagonal d + 1 (or the slack after
    // the buffer), which are written later in full, so the spilled bytes are never read.
    // Below the first band, the pointer bytes past a diagonal's last cell are not written:
    // they may belong to a band filled before.
    static_assert(kCells <= kLanes, "a vector past a diagonal's end must stay in its slack");
    for (std::int64_t d = state.d + 1; d <= last; ++d) {
        // The band's rows of diagonal d: lo..hi.
        const auto band_first_row = [&](std::int64_t dd) {
            const std::int64_t r = first_row(dd, m);
            return r > band.first ? r : band.first;
        };
        const std::int64_t lo = band_first_row(d);
        const std::int64_t hi = std::min({d, n, band.last});
        const std::int64_t kbase = m - d;  // k = m - j = kbase + i
        if (in.interruption->tick(hi - lo + 1)) return;
        // Cell i of diagonal d is at index i - lo; the same row on diagonal d - 1 is
        // `up1` further, and row i - 1 on diagonal d - 2 is at `up2` - 1.
        const std::int64_t up1 = lo - band_first_row(d - 1), up2 = lo - band_first_row(d - 2);
        // Row band.first - 1 of diagonal d - 1, read through its index -1.
        if (band.above[0] && d - band.first <= m) {
            m1[-1] = band.above[0][d - band.first];
            x1[-1] = band.above[1][d - band.first];
            y1[-1] = band.above[2][d - band.first];
        }
        std::uint8_t* out =
            in.pointers + (in.offsets[d] - in.pointer_origin) + (lo - first_row(d, m));
        for (std::int64_t i = lo; i <= hi; i += kCells) {
            const std::int64_t k = kbase + i;
            const std::int64_t at = i - lo, at1 = at + up1, at2 = at + up2 - 1;
            V sub, cx_m, cy_m, ox, ex, cy_x, oy, ey, cx_y;
            if constexpr (Scaled) {
                const VecU32 index = load<VecU32>(in.c1 + i) * sigma2 + load<VecU32>(in.c2r + k);
                sub = gather(in.tab, reinterpret_cast<const VecI32&>(index), in.tab_in_registers);
                const VecI iv = splat_i(i) + lane, jv = splat_i(d - i) - lane;
                const VecI free_x = ((iv == zero_i) & l1f) | ((iv == n_i) & r1f);
                const VecI free_y = ((jv == zero_i) & l2f) | ((jv == m_i) & r2f);
                const VecI exempt_x = (iv == one_i) & l1f, exempt_y = (jv == one_i) & l2f;
                const VecD a_i = load<VecD>(in.a1_i + i), b_i = load<VecD>(in.b1_i + i);
                const VecD a_im = load<VecD>(in.a1_i + i - 1), b_im = load<VecD>(in.b1_i + i - 1);
                const VecD l2 = load<VecD>(in.l2_k + k), l2p = load<VecD>(in.l2p_k + k);
                const VecD r2 = load<VecD>(in.r2_k + k);
                const VecD l2_jm = load<VecD>(in.l2_k + k + 1),
                           l2p_jm = load<VecD>(in.l2p_k + k + 1);
                const VecD r2_jm = load<VecD>(in.r2_k + k + 1);
                const VecD match_scale = one_if_zero((a_i + l2) + r2);
                const VecD g1 = one_if_zero((b_i + l2) + r2);              // gap1_scale(i, j)
                const VecD g2 = one_if_zero((a_i + l2p) + r2);             // gap2_scale(i, j)
                const VecD g1_mm = one_if_zero((b_im + l2_jm) + r2_jm);    // gap1_scale(i-1, j-1)
                const VecD g2_mm = one_if_zero((a_im + l2p_jm) + r2_jm);   // gap2_scale(i-1, j-1)
                const VecD g2_left = one_if_zero((a_i + l2p_jm) + r2_jm);  // gap2_scale(i, j-1)
                const VecD g1_up = one_if_zero((b_im + l2) + r2);          // gap1_scale(i-1, j)
                sub = sub * match_scale;
                cx_m = exempt_x ? zero : g1_mm * close;
                cy_m = exempt_y ? zero : g2_mm * close;
                ox = free_x ? zero : open_eff * g1;
                ex = free_x ? zero : g1 * extend;
                cy_x = exempt_y ? zero : g2_left * close;
                oy = free_y ? zero : open_eff * g2;
                ey = free_y ? zero : g2 * extend;
                cx_y = exempt_x ? zero : g1_up * close;
            } else {
                if constexpr (std::is_same_v<T, double>) {
                    const VecU32 index =
                        load<VecU32>(in.c1 + i) * sigma2 + load<VecU32>(in.c2r + k);
                    sub =
                        gather(in.tab, reinterpret_cast<const VecI32&>(index), in.tab_in_registers);
                } else {
                    using U16 = typename Lanes<T>::U16;
                    sub = lookup<T>(in, load<U16>(in.q1 + i) + load<U16>(in.q2r + k));
                }
                cx_m = load<V>(g.cx_i + i);
                cy_m = load<V>(g.cy_k + k);
                ox = load<V>(g.ox_i + i);
                ex = load<V>(g.ex_i + i);
                cy_x = cy_m;
                oy = load<V>(g.oy_k + k);
                ey = load<V>(g.ey_k + k);
                cx_y = cx_m;
            }
            const V pm1 = load<V>(m1 + at1), px1 = load<V>(x1 + at1), py1 = load<V>(y1 + at1);
            const V pm1u = load<V>(m1 + at1 - 1), px1u = load<V>(x1 + at1 - 1);
            const V py1u = load<V>(y1 + at1 - 1);
            Best<T> bm, bx, by;
            bm.offer(add(load<V>(m2 + at2), sub), 0);
            bm.offer(add(cx_m, add(load<V>(x2 + at2), sub)), 1);
            bm.offer(add(cy_m, add(load<V>(y2 + at2), sub)), 2);
            bx.offer(add(pm1, ox), 0);
            bx.offer(add(ex, px1), 1);
            bx.offer(add(cy_x, add(ox, py1)), 2);
            by.offer(add(pm1u, oy), 0);
            by.offer(add(cx_y, add(oy, px1u)), 1);
            by.offer(add(ey, py1u), 2);
            store(m0 + at, bm.value);
            store(x0 + at, bx.value);
            store(y0 + at, by.value);
            const Mask packed =
                (bm.from << kShiftMatch) | (bx.from << kShiftGap1) | (by.from << kShiftGap2);
            const auto bytes = __builtin_convertvector(packed, typename Lanes<T>::U8);
            if (band.first == 0 || hi - i + 1 >= kCells) {
                store(out + at, bytes);
            } else {  // the last cells: the bytes after them may belong to a band filled before
                std::memcpy(out + at, &bytes, static_cast<std::size_t>(hi - i + 1));
            }
        }
        m0[hi - lo + 1] = none;
        x0[hi - lo + 1] = none;
        y0[hi - lo + 1] = none;
        if (band.below[0] && hi == band.last) {  // the band's last row, for the next band
            band.below[0][d - hi] = m0[hi - lo];
            band.below[1][d - hi] = x0[hi - lo];
            band.below[2][d - hi] = y0[hi - lo];
        }
        // rotate: d - 1 becomes d - 2, d becomes d - 1, the old d - 2 is reused
        T *tm = m2, *tx = x2, *ty = y2;
        m2 = m1, x2 = x1, y2 = y1;
        m1 = m0, x1 = x0, y1 = y0;
        m0 = tm, x0 = tx, y0 = ty;
    }
    T* const kept[9] = {m2, x2, y2, m1, x1, y1, m0, x0, y0};
    for (int t = 0; t < 9; ++t) state.diag[t] = kept[t];
    if (last > state.d) state.d = last;
}

}  // namespace

void fill_plain(const FillInput& in, FillState<double>& state, std::int64_t last,
                const Band<double>& band) {
    fill<double, false>(in, state, last, band);
}
void fill_scaled(const FillInput& in, FillState<double>& state, std::int64_t last,
                 const Band<double>& band) {
    fill<double, true>(in, state, last, band);
}
void fill_int32(const FillInput& in, FillState<std::int32_t>& state, std::int64_t last,
                const Band<std::int32_t>& band) {
    fill<std::int32_t, false>(in, state, last, band);
}
void fill_int16(const FillInput& in, FillState<std::int16_t>& state, std::int64_t last,
                const Band<std::int16_t>& band) {
    fill<std::int16_t, false>(in, state, last, band);
}

}  // namespace vorn::pairwise::KERNEL_NS
