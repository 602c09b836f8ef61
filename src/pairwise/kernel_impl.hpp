// The anti-diagonal fill of one pair, included once per instruction set with KERNEL_NS and
// KERNEL_LANES defined. Cells (i, j) with i + j = d depend only on diagonals d - 1 and d - 2,
// so all cells of one diagonal are computed side by side (vector lanes) by cell_step (the
// recurrence, cell_step.hpp). A state that does not exist in a cell (Match in row or column
// 0, GapInSeq1 in column 0, GapInSeq2 in row 0), and every cell outside the region, reads
// unreachable predecessors: every diagonal keeps the unreachable value at index -1 (padding)
// and just past its last cell (sentinel).
//
// The same fill runs on doubles (always exact to the operations of the recurrence) or, when
// every score is a whole multiple of one power of two and the values stay small enough, on
// 32- or 16-bit integers holding each score times that power: the same comparisons on the
// same values, with a stand-in for -inf (exact_integers.hpp says why that is exact).
//
// Most cells of a diagonal lie away from the ends (rows 2..n-1, columns 2..m-1), where every
// gap term is one constant: those run in a loop of their own with the terms in registers and
// every pointer in a local, the few others with each cell's terms loaded (fill_with).
//
// The lanes are GCC vector-extension vectors as wide as KERNEL_LANES doubles, which the
// compiler maps onto the instruction set of the translation unit (8, 16 or 32 cells of
// double, int32 or int16 in 512 bits); a diagonal is processed in whole vectors, and
// lanes past its end compute values that are never read (every array carries kLanes
// entries of slack).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "pairwise/cell_step.hpp"

namespace vorn::pairwise::KERNEL_NS {

namespace {

// The gap terms of the cells i.. of diagonal d (k = m - j = kbase + i) without a scaler, each
// cell's own (the pair scores are looked up apart).
template <class T>
[[gnu::always_inline]] inline Terms<T> terms_at(const GapTerms<T>& g, std::int64_t i,
                                                std::int64_t k) {
    using V = typename Lanes<T>::V;
    Terms<T> t;
    t.cx_m = t.cx_y = load<V>(g.cx_i + i);
    t.cy_m = t.cy_x = load<V>(g.cy_k + k);
    t.ox = load<V>(g.ox_i + i);
    t.ex = load<V>(g.ex_i + i);
    t.oy = load<V>(g.oy_k + k);
    t.ey = load<V>(g.ey_k + k);
    return t;
}

// The same with a scaler (scaled_terms_of); interior cells (kEnds false) read no end masks.
template <bool kEnds = true>
[[gnu::always_inline]] inline Terms<double> terms_at(const ScaledFill& in, std::int64_t i,
                                                     std::int64_t k, VecD pair_score) {
    EndMasks ends{};
    if constexpr (kEnds) {
        ends = {load<VecI>(in.ends.free_i + i), load<VecI>(in.ends.exempt_i + i),
                load<VecI>(in.ends.free_k + k), load<VecI>(in.ends.exempt_k + k)};
    }
    const ScaleSums sums{load<VecD>(in.a1_i + i),      load<VecD>(in.b1_i + i),
                         load<VecD>(in.a1_i + i - 1),  load<VecD>(in.b1_i + i - 1),
                         load<VecD>(in.l2_k + k),      load<VecD>(in.l2p_k + k),
                         load<VecD>(in.r2_k + k),      load<VecD>(in.l2_k + k + 1),
                         load<VecD>(in.l2p_k + k + 1), load<VecD>(in.r2_k + k + 1)};
    Terms<double> t =
        scaled_terms_of<kEnds>(sums, ends, splat(in.open_eff), splat(in.extend), splat(in.close));
    t.sub = pair_score * t.sub;
    return t;
}

// The gap terms of the cells away from the ends, where every per-index term is the same:
// rows 2..n-1 (row 0 and n may be free, row 1 may close exempt) and columns 2..m-1.
template <class T>
[[gnu::always_inline]] inline Terms<T> interior_terms(const PlainFill<T>& in) {
    using V = typename Lanes<T>::V;
    const GapTerms<T>& g = in.gaps;
    // Index 2 by i and 1 by k (j = m - 1) lie within the arrays' slack even for short strings,
    // where no cell is interior and the values go unused.
    Terms<T> t;
    t.cx_m = t.cx_y = broadcast<V>(g.cx_i[2]);
    t.cy_m = t.cy_x = broadcast<V>(g.cy_k[1]);
    t.ox = broadcast<V>(g.ox_i[2]);
    t.ex = broadcast<V>(g.ex_i[2]);
    t.oy = broadcast<V>(g.oy_k[1]);
    t.ey = broadcast<V>(g.ey_k[1]);
    return t;
}

// The pair scores of a vector of cells from their table indices: the fill's lookup, or, where
// the table fits in two registers (16 doubles, or 64 16-bit scores on AVX-512), a permute of
// those registers loaded once per fill.
template <class T>
struct MemoryLookup {
    ScoresOf<T> scores;
    [[gnu::always_inline]] typename Lanes<T>::V operator()(typename Lanes<T>::U16 index) const {
        if constexpr (std::is_same_v<T, double>) {
            return lookup(scores, __builtin_convertvector(index, VecI32));
        } else {
            return lookup<T>(scores, index);
        }
    }
};

#if defined(__AVX512BW__) && KERNEL_LANES == 8
template <class T>
struct RegisterLookup {
    __m512i lo, hi;  // entries 0..31 and 32..63 of 16 bits, or 0..7 and 8..15 of 64
    explicit RegisterLookup(const ScoresOf<T>& scores) {
        if constexpr (std::is_same_v<T, double>) {
            std::memcpy(&lo, scores.scores, sizeof lo);
            std::memcpy(&hi, scores.scores + 8, sizeof hi);
        } else {
            std::memcpy(&lo, scores.blocks, sizeof lo);
            std::memcpy(&hi, scores.blocks + 32, sizeof hi);
        }
    }
    [[gnu::always_inline]] typename Lanes<T>::V operator()(typename Lanes<T>::U16 index) const {
        if constexpr (std::is_same_v<T, double>) {
            const VecI wide = __builtin_convertvector(index, VecI);
            return (VecD)_mm512_permutex2var_pd((__m512d)lo, (__m512i)wide, (__m512d)hi);
        } else {
            return (typename Lanes<T>::V)_mm512_permutex2var_epi16(lo, (__m512i)index, hi);
        }
    }
};
#endif

// Interior cells of one diagonal, whole vectors over `count` cells: every pointer is offset to
// the first cell (the scores of diagonal d - 1 to the same row, those of d - 2 to row i - 1,
// the codes to their indices), and `terms_of(at, pair_score)` gives the gap terms of the
// cells from `at` on (registers without a scaler). Each cell is the recurrence of cell_step
// (Match from d - 2, GapInSeq1 and GapInSeq2 from d - 1, first maximum with ties to the lower
// state); on entry diagonals d - 1 and d - 2 are final.
template <class T, bool kNoNaN, class SubOf, class TermsOf>
[[gnu::always_inline]] inline void interior_cells(std::int64_t count, T* m0, T* x0, T* y0,
                                                  const T* m1, const T* x1, const T* y1,
                                                  const T* m2, const T* x2, const T* y2,
                                                  std::uint8_t* out, const std::uint16_t* q1,
                                                  const std::uint16_t* q2r, const TermsOf& terms_of,
                                                  const SubOf& sub_of) {
    using V = typename Lanes<T>::V;
    using U16 = typename Lanes<T>::U16;
    constexpr int kCells = sizeof(V) / sizeof(T);
    for (std::int64_t at = 0; at < count; at += kCells) {
        Neighbours<T> p;
        p.m_diag = load<V>(m2 + at), p.x_diag = load<V>(x2 + at), p.y_diag = load<V>(y2 + at);
        p.m_left = load<V>(m1 + at), p.x_left = load<V>(x1 + at), p.y_left = load<V>(y1 + at);
        p.m_up = load<V>(m1 + at - 1), p.x_up = load<V>(x1 + at - 1);
        p.y_up = load<V>(y1 + at - 1);
        const Terms<T> t = terms_of(at, sub_of(load<U16>(q1 + at) + load<U16>(q2r + at)));
        const Cells<T> c = cell_step<T, kNoNaN>(p, t);
        store(m0 + at, c.m.value);
        store(x0 + at, c.x.value);
        store(y0 + at, c.y.value);
        store(out + at, pointer_bytes(c));
    }
}

template <class T, bool kNoNaN, class Input, class SubOf>
void fill_with(const Input& in, FillState<T>& state, std::int64_t last, const Region<T>& region,
               const PointerBytes& out_bytes, Interruption& interruption, const SubOf& sub_of) {
    using V = typename Lanes<T>::V;
    constexpr int kCells = sizeof(V) / sizeof(T);
    constexpr bool kScaled = std::is_same_v<Input, ScaledFill>;
    const std::int64_t n = in.n, m = in.m;
    // Locals, which the byte stores below cannot be taken to change.
    const std::uint16_t* const q1 = in.codes.q1;
    const std::uint16_t* const q2r = in.codes.q2r;
    using U16 = typename Lanes<T>::U16;
    std::uint8_t* const bytes_base = out_bytes.bytes;
    const std::uint64_t* const offsets = out_bytes.offsets;
    const std::uint64_t origin = out_bytes.origin;
    const bool region_cells = out_bytes.region_cells;
    const bool partial_tail = region.first != 0;
    // diagonal d - 2, d - 1 and d, each three states
    T *m2 = state.diag[0], *x2 = state.diag[1], *y2 = state.diag[2];
    T *m1 = state.diag[3], *x1 = state.diag[4], *y1 = state.diag[5];
    T *m0 = state.diag[6], *x0 = state.diag[7], *y0 = state.diag[8];
    T none;
    Terms<T> inner{};
    GapTerms<T> gaps{};
    if constexpr (kScaled) {
        none = kNegInf;
    } else {
        none = in.unreachable;
        inner = interior_terms(in);
        gaps = in.gaps;
    }
    // The region's first row of diagonal dd.
    const auto lo_of = [&](std::int64_t dd) { return region_lo(region, dd, m); };
    // On entry to diagonal d: diagonals d - 2 and d - 1 are final in m2/x2/y2 and m1/x1/y1
    // (cells lo..hi at indices 0..hi - lo, the unreachable value at index -1 and just past
    // the last cell), and m0/x0/y0 is free. Its cells depend only on those two, so they may be
    // computed in any order and a cell twice. A vector at i covers cells i..i + kCells - 1:
    //   - the first, at lo, with each cell's own terms (rows 0 and 1, column m);
    //   - then whole vectors of interior cells (rows 2..n-1, columns 2..m-1) with the terms
    //     held in registers;
    //   - then the rest with each cell's own terms, the last vector ending at hi where the
    //     diagonal is long enough (cells computed again come out the same).
    // A vector at the diagonal's end that is shorter than a vector spills up to kCells - 1
    // entries past hi: into the slack of the score arrays, then covered by the sentinel, and
    // into the first pointer bytes of diagonal d + 1 (or the slack after the buffer), which
    // are written later in full, so the spilled bytes are never read. Below the first region,
    // the pointer bytes past a diagonal's last cell are not written: they may belong to a
    // region filled before.
    static_assert(kCells <= kLanes, "a vector past a diagonal's end must stay in its slack");
    for (std::int64_t d = state.d + 1; d <= last; ++d) {
        // The region's rows of diagonal d: lo..hi.
        const std::int64_t lo = lo_of(d);
        const std::int64_t hi = region_hi(region, d, n);
        const std::int64_t kbase = m - d;  // k = m - j = kbase + i
        if (interruption.tick(hi - lo + 1)) return;
        // Cell i of diagonal d is at index i - lo; the same row on diagonal d - 1 is
        // `up1` further, and row i - 1 on diagonal d - 2 is at `up2` - 1.
        const std::int64_t up1 = lo - lo_of(d - 1), up2 = lo - lo_of(d - 2);
        // Row region.first - 1 of diagonal d - 1, read through its index -1.
        if (region.above[0] && d - region.first <= m) {
            m1[-1] = region.above[0][d - region.first];
            x1[-1] = region.above[1][d - region.first];
            y1[-1] = region.above[2][d - region.first];
        }
        std::uint8_t* const out =
            bytes_base + (offsets[d] - origin) + (region_cells ? 0 : lo - first_row(d, m));
        // The vector of cells i.. with each cell's own terms.
        const auto own_terms = [&](std::int64_t i) {
            const std::int64_t at = i - lo, at1 = at + up1, at2 = at + up2 - 1;
            Neighbours<T> p;
            p.m_diag = load<V>(m2 + at2), p.x_diag = load<V>(x2 + at2);
            p.y_diag = load<V>(y2 + at2);
            p.m_left = load<V>(m1 + at1), p.x_left = load<V>(x1 + at1);
            p.y_left = load<V>(y1 + at1);
            p.m_up = load<V>(m1 + at1 - 1), p.x_up = load<V>(x1 + at1 - 1);
            p.y_up = load<V>(y1 + at1 - 1);
            const std::int64_t k = kbase + i;
            const V sub = sub_of(load<U16>(q1 + i) + load<U16>(q2r + k));
            Terms<T> t;
            if constexpr (kScaled) {
                t = terms_at(in, i, k, sub);
            } else {
                t = terms_at(gaps, i, k);
                t.sub = sub;
            }
            const Cells<T> c = cell_step(p, t);
            store(m0 + at, c.m.value);
            store(x0 + at, c.x.value);
            store(y0 + at, c.y.value);
            const auto bytes = pointer_bytes(c);
            if (!partial_tail || hi - i + 1 >= kCells) {
                store(out + at, bytes);
            } else {  // the last cells: the bytes after them may belong to a region filled before
                std::memcpy(out + at, &bytes, static_cast<std::size_t>(hi - i + 1));
            }
        };
        std::int64_t i = lo;
        const std::int64_t inner_lo = std::max<std::int64_t>({lo, 2, d - m + 1});
        const std::int64_t inner_hi = std::min<std::int64_t>({hi, n - 1, d - 2});
        if (i < inner_lo) {
            own_terms(i);
            i += kCells;
        }
        if (i + kCells - 1 <= inner_hi) {
            const std::int64_t at = i - lo;
            const std::int64_t count = (inner_hi - i + 1) / kCells * kCells;
            const auto terms_of = [&](std::int64_t c, V sub) {  // i stays put until it returns
                if constexpr (kScaled) {
                    return terms_at<false>(in, i + c, kbase + i + c, sub);
                } else {
                    Terms<T> t = inner;
                    t.sub = sub;
                    return t;
                }
            };
            interior_cells<T, kNoNaN>(count, m0 + at, x0 + at, y0 + at, m1 + at + up1,
                                      x1 + at + up1, y1 + at + up1, m2 + at + up2 - 1,
                                      x2 + at + up2 - 1, y2 + at + up2 - 1, out + at, q1 + i,
                                      q2r + kbase + i, terms_of, sub_of);
            i += count;
        }
        for (; i <= hi; i += kCells) own_terms(std::max(lo, std::min(i, hi - kCells + 1)));
        m0[hi - lo + 1] = none;
        x0[hi - lo + 1] = none;
        y0[hi - lo + 1] = none;
        if (region.edges && lo <= hi) {
            T* edge = region.edges + 6 * d;
            edge[0] = m0[0], edge[1] = x0[0], edge[2] = y0[0];
            edge[3] = m0[hi - lo], edge[4] = x0[hi - lo], edge[5] = y0[hi - lo];
        }
        if (region.below[0] && hi == region.last) {  // the region's last row, for the next one
            region.below[0][d - hi] = m0[hi - lo];
            region.below[1][d - hi] = x0[hi - lo];
            region.below[2][d - hi] = y0[hi - lo];
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

// Whether every term of the interior cells of a double fill is finite: its pair scores (the
// 16 of a table held in registers) and its interior gap terms.
inline bool interior_finite(const PlainFill<double>& in) {
    if (!in.scores.in_registers) return false;
    double sum = 0.0;  // finite only when every term is (NaN and inf propagate)
    for (int t = 0; t < 16; ++t) sum += in.scores.scores[t] * 0.0;
    const Terms<double> inner = interior_terms(in);
    sum += inner.cx_m[0] * 0.0 + inner.cy_m[0] * 0.0 + inner.ox[0] * 0.0 + inner.ex[0] * 0.0 +
           inner.oy[0] * 0.0 + inner.ey[0] * 0.0;
    return sum == 0.0;
}

// The fill with the pair-score lookup that suits its table, and for doubles the interior
// without NaN guards where every interior term is finite.
template <class T, class Input>
void fill(const Input& in, FillState<T>& state, std::int64_t last, const Region<T>& region,
          const PointerBytes& out_bytes, Interruption& interruption) {
#if defined(__AVX512BW__) && KERNEL_LANES == 8
    if constexpr (std::is_same_v<T, double>) {
        if (in.scores.in_registers) {
            if constexpr (std::is_same_v<Input, PlainFill<double>>) {
                if (interior_finite(in)) {
                    fill_with<T, true>(in, state, last, region, out_bytes, interruption,
                                       RegisterLookup<T>(in.scores));
                    return;
                }
            }
            fill_with<T, false>(in, state, last, region, out_bytes, interruption,
                                RegisterLookup<T>(in.scores));
            return;
        }
    } else if constexpr (sizeof(T) == 2) {
        if (in.scores.n_blocks == 1) {
            fill_with<T, false>(in, state, last, region, out_bytes, interruption,
                                RegisterLookup<T>(in.scores));
            return;
        }
    }
#else
    if constexpr (std::is_same_v<Input, PlainFill<double>>) {
        if (interior_finite(in)) {
            fill_with<T, true>(in, state, last, region, out_bytes, interruption,
                               MemoryLookup<T>{in.scores});
            return;
        }
    }
#endif
    fill_with<T, false>(in, state, last, region, out_bytes, interruption,
                        MemoryLookup<T>{in.scores});
}

}  // namespace

extern const Fills kFills = {fill<double, PlainFill<double>>, fill<double, ScaledFill>,
                             fill<std::int32_t, PlainFill<std::int32_t>>,
                             fill<std::int16_t, PlainFill<std::int16_t>>};

}  // namespace vorn::pairwise::KERNEL_NS
