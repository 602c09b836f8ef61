// The grouped fill, included once per instruction set after kernel_impl.hpp. Each lane holds
// a different pair; cell (i, j) of all pairs is computed together, by the pairwise recurrence
// (cell_step.hpp), so every pointer byte and every reachable value is the one that pair's own
// fill computes. A lane whose pair is shorter than the group computes cells past its ends
// too; they are never read.
//
// Row -1 and column -1 hold the stand-in, as the pairwise fill's padding and sentinels
// do, so the unreachable states of row and column 0 read exactly what they read there.
#include "pairwise/cell_step.hpp"
#include "pairwise/group_kernel.hpp"

namespace vorn::pairwise::KERNEL_NS {

namespace {

using namespace vorn::KERNEL_NS;  // the lane types and operations

// The terms of cell (i, j) of every lane with a scaler (scaled_terms_of, the single-pair
// fill's too), from the lanes' end-weight sums at rows i - 1 and i (entries `r1` and `r`) and
// columns j - 1 and j (`c1` and `c`).
[[gnu::always_inline]] inline Terms<double> scaled_terms(const GroupScales& s, std::int64_t r,
                                                         std::int64_t r1, std::int64_t c,
                                                         std::int64_t c1) {
    const EndMasks ends{load<VecI>(s.free_x + r), load<VecI>(s.exempt_x + r),
                        load<VecI>(s.free_y + c), load<VecI>(s.exempt_y + c)};
    const ScaleSums sums{load<VecD>(s.a1 + r),  load<VecD>(s.b1 + r),  load<VecD>(s.a1 + r1),
                         load<VecD>(s.b1 + r1), load<VecD>(s.l2 + c),  load<VecD>(s.l2p + c),
                         load<VecD>(s.r2 + c),  load<VecD>(s.l2 + c1), load<VecD>(s.l2p + c1),
                         load<VecD>(s.r2 + c1)};
    return scaled_terms_of<true>(sums, ends, splat(s.open_eff), splat(s.extend), splat(s.close));
}

// The grid of every lane, anti-diagonal by anti-diagonal: cell (i, j) of diagonal d = i + j
// reads (i - 1, j - 1) on diagonal d - 2 and (i, j - 1), (i - 1, j) on d - 1, so the vectors of
// one diagonal are independent of each other (row by row, each would wait for the one before).
template <class T, bool kScaled, bool kNoNaN, class SubOf>
void fill_diagonals(const GroupInput<T>& in, const SubOf& sub_of) {
    using V = typename Lanes<T>::V;
    using U16 = typename Lanes<T>::U16;
    constexpr int W = sizeof(V) / sizeof(T);
    static_assert(W == group_lanes<T>(kVectorBytes));
    const std::int64_t rows = in.rows, cols = in.cols;
    const V none = broadcast<V>(in.unreachable);
    // Three diagonals by row, the states of a row side by side: M, X, Y of row i at entries
    // 3(i + 1), 3(i + 1) + 1, 3(i + 1) + 2 (row -1 first).
    const std::int64_t stride = 3 * (rows + 3) * W;
    T* diag[3];
    for (int r = 0; r < 3; ++r) {
        diag[r] = in.rows_storage + r * stride + 3 * W;
        for (std::int64_t e = -3; e < 3 * (rows + 2); ++e) store(diag[r] + e * W, none);
    }
    // Local copies, which the stores below cannot be taken to change.
    GroupScales scales{};
    if constexpr (kScaled) scales = *in.scales;
    const std::uint16_t *const q1 = in.q1, *const q2 = in.q2;
    const T *const row_terms = in.row_terms, *const col_terms = in.col_terms;
    std::uint8_t* const pointers = in.pointers;
    // The start cell, diagonal 0.
    store(diag[1], broadcast<V>(0));
    store(pointers, typename Lanes<T>::U8{});
    for (int l = 0; l < W; ++l) {  // two empty strings end there
        if (in.lane_n[l] + in.lane_m[l] != 0) continue;
        for (int t = 0; t < 3; ++t) in.ends[l * 3 + t] = diag[1][t * W + l];
    }
    // On entry to diagonal d: diagonals d - 2 and d - 1 are final in diag[0] and diag[1], each
    // with the stand-in at row -1 and just past its last row; diag[2] is free.
    for (std::int64_t d = 1; d <= rows + cols; ++d) {
        const std::int64_t lo = d > cols ? d - cols : 0, hi = d < rows ? d : rows;
        if (in.interruption->tick((hi - lo + 1) * W)) return;  // W pairs' cells
        T* const cur = diag[2];
        const T* const d1 = diag[1];
        const T* const d2 = diag[0];
        std::uint8_t* out = pointers + group_diagonal_offset(d, rows, cols) * W;
        for (std::int64_t i = lo; i <= hi; ++i, out += W) {
            const std::int64_t r = i * W, c = (d - i) * W;  // row i, column j = d - i
            const std::int64_t at = 3 * r;                  // row i's states
            Terms<T> t;
            const U16 index = load<U16>(q1 + r) + load<U16>(q2 + c);
            if constexpr (kScaled) {
                // rows i and i - 1, columns j and j - 1 (row and column -1: padding)
                t = scaled_terms(scales, r, r - W, c, c - W);
                t.sub = sub_of(index) * t.sub;
            } else {
                t.sub = sub_of(index);
                t.ox = load<V>(row_terms + 3 * r), t.ex = load<V>(row_terms + 3 * r + W);
                t.cx_m = t.cx_y = load<V>(row_terms + 3 * r + 2 * W);
                t.oy = load<V>(col_terms + 3 * c), t.ey = load<V>(col_terms + 3 * c + W);
                t.cy_m = t.cy_x = load<V>(col_terms + 3 * c + 2 * W);
            }
            Neighbours<T> p;
            p.m_diag = load<V>(d2 + at - 3 * W), p.x_diag = load<V>(d2 + at - 2 * W);
            p.y_diag = load<V>(d2 + at - W);
            p.m_left = load<V>(d1 + at), p.x_left = load<V>(d1 + at + W);
            p.y_left = load<V>(d1 + at + 2 * W);
            p.m_up = load<V>(d1 + at - 3 * W), p.x_up = load<V>(d1 + at - 2 * W);
            p.y_up = load<V>(d1 + at - W);
            const Cells<T> cells = cell_step<T, kNoNaN>(p, t);
            store(cur + at, cells.m.value);
            store(cur + at + W, cells.x.value);
            store(cur + at + 2 * W, cells.y.value);
            store(out, pointer_bytes(cells));
        }
        // Past the last row: column -1 for the next diagonal. (Below the first, row lo - 1
        // holds a cell of an earlier diagonal, which is never read: the next diagonals start
        // at lo or later.)
        for (int t = 0; t < 3; ++t) store(cur + (3 * (hi + 1) + t) * W, none);
        for (int l = 0; l < W; ++l) {
            if (in.lane_n[l] + in.lane_m[l] != d) continue;
            for (int t = 0; t < 3; ++t) in.ends[l * 3 + t] = cur[(3 * in.lane_n[l] + t) * W + l];
        }
        // rotate: d - 1 becomes d - 2, d becomes d - 1, the old d - 2 is reused
        T* const old = diag[0];
        diag[0] = diag[1], diag[1] = diag[2], diag[2] = old;
    }
}

// The grid with the pair-score lookup that suits the table (see fill in kernel_impl.hpp),
// and for doubles without NaN guards where every term is finite.
template <class T, bool kScaled = false>
void fill_diagonals(const GroupInput<T>& in) {
    constexpr bool kMayBeFinite = std::is_same_v<T, double> && !kScaled;
#if defined(__AVX512BW__) && KERNEL_LANES == 8
    if constexpr (std::is_same_v<T, double>) {
        if (in.scores.in_registers) {
            if (kMayBeFinite && in.finite) {
                fill_diagonals<T, kScaled, kMayBeFinite>(in, RegisterLookup<T>(in.scores));
            } else {
                fill_diagonals<T, kScaled, false>(in, RegisterLookup<T>(in.scores));
            }
            return;
        }
    } else if constexpr (sizeof(T) == 2) {
        if (in.scores.n_blocks == 1) {
            fill_diagonals<T, kScaled, false>(in, RegisterLookup<T>(in.scores));
            return;
        }
    }
#endif
    if (kMayBeFinite && in.finite) {
        fill_diagonals<T, kScaled, kMayBeFinite>(in, MemoryLookup<T>{in.scores});
    } else {
        fill_diagonals<T, kScaled, false>(in, MemoryLookup<T>{in.scores});
    }
}

}  // namespace

void fill_group(const GroupInput<std::int16_t>& in) { fill_diagonals(in); }
void fill_group(const GroupInput<std::int32_t>& in) { fill_diagonals(in); }
void fill_group(const GroupInput<double>& in) {
    if (in.scales) {
        fill_diagonals<double, true>(in);
    } else {
        fill_diagonals<double, false>(in);
    }
}

}  // namespace vorn::pairwise::KERNEL_NS
