// The three-way row kernel, included once per instruction set with KERNEL_NS and
// KERNEL_LANES defined. For each state k of a cell (state 3 excepted, whose predecessor
// is the previous cell of the same row and is computed serially by the caller):
//   candidate(p) = (score of p at the predecessor + pair score) + gap score(p -> k)
// over p = 0..6, a later p replacing the best only when strictly greater (ties keep
// the lower p; -inf and NaN never win). Lanes are consecutive cells along the third
// string; lanes past `hi` compute values that are never read.
#include <cstdint>

#include "common/lanes.hpp"
#include "three_way/kernel.hpp"

namespace vorn::three_way::KERNEL_NS {

namespace {

using namespace vorn::KERNEL_NS;  // the lane types and operations
// A vector at l <= hi <= len3 reaches l + kWidth - 1 <= len3 + kLanes - 1, inside the
// row of len3 + 1 + kLanes entries; loads of predecessors start at l - 1 >= lo - 1 >= 1.
static_assert(kWidth <= kLanes);

// The best of the candidates from states `first`..`last` for state 3 at each lane's l,
// whose predecessor is the cell at l - 1 of the same row (pair score 0.0).
inline void best_of_states(const RowInput& in, std::int64_t l, int first, int last, double* value,
                           std::int64_t* from) {
    VecD best = splat(kNegInf);
    VecI best_from = splat_i(kUnset3);
    for (int p = first; p <= last; ++p) {
        offer((load<VecD>(in.out[p] + l - 1) + splat(0.0)) + in.gap[3][p], p, best, best_from);
    }
    store(value + l, best);
    store(from + l, best_from);
}

}  // namespace

void fill_row(const RowInput& in) {
    for (std::int64_t l = in.lo; l <= in.hi; l += kWidth) {
        const VecD zero = splat(0.0);
        const VecD t13 = load<VecD>(in.t13 + l), t23 = load<VecD>(in.t23 + l);
        VecI word = splat_i(kAllUnset);
        for (int k = 0; k < kStates; ++k) {
            if (k == 3) continue;
            if (!in.fits[k]) {
                store(in.out[k] + l, splat(kNegInf));
                continue;
            }
            const VecD pair = state_pair_score(k, zero, in.t12, t13, t23);
            const std::int64_t at = l - ((k & 4) ? 0 : 1);  // l - d3
            VecD best = splat(kNegInf);
            VecI from = splat_i(kUnset3);
            for (int p = 0; p < kStates; ++p) {
                offer((load<VecD>(in.pred[k][p] + at) + pair) + in.gap[k][p], p, best, from);
            }
            store(in.out[k] + l, best);
            word = (word & splat_i(~(std::int64_t{kUnset3} << field_shift(k)))) |
                   (from << field_shift(k));
        }
        store(in.words + l, __builtin_convertvector(word, VecU32));
    }
    if (!in.fits[3]) return;
    // State 3 from the cell at l - 1 of this row, split around p = 3.
    for (std::int64_t l = in.lo; l <= in.hi; l += kWidth) {
        best_of_states(in, l, 0, 2, in.low_value, in.low_from);
        best_of_states(in, l, 4, 6, in.high_value, in.high_from);
    }
}

}  // namespace vorn::three_way::KERNEL_NS
