// The anti-diagonal fill, included once per instruction set with KERNEL_NS defined.
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
#include <cstdint>
#include <limits>

#include "pairwise/kernel.hpp"

namespace vorn::pairwise::KERNEL_NS {

namespace {

constexpr double kNegInf = -std::numeric_limits<double>::infinity();

inline double one_if_zero(double x) { return x == 0.0 ? 1.0 : x; }

struct Best {
    double value = kNegInf;
    std::uint8_t from = kUnset2;
    void offer(double v, std::uint8_t state) {
        const bool better = v > value;
        value = better ? v : value;
        from = better ? state : from;
    }
};

template <bool Scaled>
void fill(const FillInput& in, double end[3]) {
    const std::int64_t n = in.n, m = in.m;
    double* diag[9];
    for (int t = 0; t < 9; ++t) {
        diag[t] = in.diag[t];
        for (std::int64_t i = -1; i <= n + 1; ++i) diag[t][i] = kNegInf;
    }
    // diagonal d - 2, d - 1 and d, each three states
    double *m2 = diag[0], *x2 = diag[1], *y2 = diag[2];
    double *m1 = diag[3], *x1 = diag[4], *y1 = diag[5];
    double *m0 = diag[6], *x0 = diag[7], *y0 = diag[8];
    m1[0] = 0.0;  // the start cell; its Match pointer (0) is never read
    in.pointers[0] = static_cast<std::uint8_t>((kUnset2 << kShiftGap1) | (kUnset2 << kShiftGap2));

    const double open_eff = in.open_eff, extend = in.extend, close = in.close;
    for (std::int64_t d = 1; d <= n + m; ++d) {
        const std::int64_t lo = d > m ? d - m : 0;
        const std::int64_t hi = d < n ? d : n;
        const std::int64_t kbase = m - d;  // k = m - j = kbase + i
        std::uint8_t* __restrict out = in.pointers + in.offsets[d] - lo;
        double* __restrict cm = m0;
        double* __restrict cx = x0;
        double* __restrict cy = y0;
        const double* __restrict pm2 = m2;
        const double* __restrict px2 = x2;
        const double* __restrict py2 = y2;
        const double* __restrict pm1 = m1;
        const double* __restrict px1 = x1;
        const double* __restrict py1 = y1;
        const std::uint32_t* __restrict c1 = in.c1;
        const std::uint32_t* __restrict c2r = in.c2r;
        const double* __restrict tab = in.tab;
        const std::uint32_t sigma2 = in.sigma2;
        for (std::int64_t i = lo; i <= hi; ++i) {
            const std::int64_t k = kbase + i;
            double sub = tab[c1[i] * sigma2 + c2r[k]];
            double cx_m, cy_m, ox, ex, cy_x, oy, ey, cx_y;
            if constexpr (Scaled) {
                const double a_i = in.a1_i[i], b_i = in.b1_i[i];
                const double a_im = in.a1_i[i - 1], b_im = in.b1_i[i - 1];
                const double l2 = in.l2_k[k], l2p = in.l2p_k[k], r2 = in.r2_k[k];
                const double l2_jm = in.l2_k[k + 1], l2p_jm = in.l2p_k[k + 1], r2_jm = in.r2_k[k + 1];
                const double match_scale = one_if_zero((a_i + l2) + r2);
                const double g1 = one_if_zero((b_i + l2) + r2);                // gap1_scale(i, j)
                const double g2 = one_if_zero((a_i + l2p) + r2);               // gap2_scale(i, j)
                const double g1_mm = one_if_zero((b_im + l2_jm) + r2_jm);      // gap1_scale(i-1, j-1)
                const double g2_mm = one_if_zero((a_im + l2p_jm) + r2_jm);     // gap2_scale(i-1, j-1)
                const double g2_left = one_if_zero((a_i + l2p_jm) + r2_jm);    // gap2_scale(i, j-1)
                const double g1_up = one_if_zero((b_im + l2) + r2);            // gap1_scale(i-1, j)
                const bool exempt_x = in.exempt_x_i[i] != 0, exempt_y = in.exempt_y_k[k] != 0;
                const bool free_x = in.free_x_i[i] != 0, free_y = in.free_y_k[k] != 0;
                sub = sub * match_scale;
                cx_m = exempt_x ? 0.0 : g1_mm * close;
                cy_m = exempt_y ? 0.0 : g2_mm * close;
                ox = free_x ? 0.0 : open_eff * g1;
                ex = free_x ? 0.0 : g1 * extend;
                cy_x = exempt_y ? 0.0 : g2_left * close;
                oy = free_y ? 0.0 : open_eff * g2;
                ey = free_y ? 0.0 : g2 * extend;
                cx_y = exempt_x ? 0.0 : g1_up * close;
            } else {
                cx_m = in.cx_i[i];
                cy_m = in.cy_k[k];
                ox = in.ox_i[i];
                ex = in.ex_i[i];
                cy_x = cy_m;
                oy = in.oy_k[k];
                ey = in.ey_k[k];
                cx_y = cx_m;
            }
            Best bm, bx, by;
            bm.offer(pm2[i - 1] + sub, 0);
            bm.offer(cx_m + (px2[i - 1] + sub), 1);
            bm.offer(cy_m + (py2[i - 1] + sub), 2);
            bx.offer(pm1[i] + ox, 0);
            bx.offer(ex + px1[i], 1);
            bx.offer(cy_x + (ox + py1[i]), 2);
            by.offer(pm1[i - 1] + oy, 0);
            by.offer(cx_y + (oy + px1[i - 1]), 1);
            by.offer(ey + py1[i - 1], 2);
            cm[i] = bm.value;
            cx[i] = bx.value;
            cy[i] = by.value;
            out[i] = static_cast<std::uint8_t>((bm.from << kShiftMatch) | (bx.from << kShiftGap1) |
                                               (by.from << kShiftGap2));
        }
        m0[hi + 1] = kNegInf;
        x0[hi + 1] = kNegInf;
        y0[hi + 1] = kNegInf;
        // rotate: d - 1 becomes d - 2, d becomes d - 1, the old d - 2 is reused
        double *tm = m2, *tx = x2, *ty = y2;
        m2 = m1, x2 = x1, y2 = y1;
        m1 = m0, x1 = x0, y1 = y0;
        m0 = tm, x0 = tx, y0 = ty;
    }
    end[0] = m1[n];
    end[1] = x1[n];
    end[2] = y1[n];
}

}  // namespace

void fill_plain(const FillInput& in, double end[3]) { fill<false>(in, end); }
void fill_scaled(const FillInput& in, double end[3]) { fill<true>(in, end); }

}  // namespace vorn::pairwise::KERNEL_NS
