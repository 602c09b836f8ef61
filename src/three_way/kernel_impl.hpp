// The three-way row kernel, included once per instruction set with KERNEL_NS and
// KERNEL_LANES defined. For each state k of a cell (state 3 excepted, whose predecessor
// is the previous cell of the same row and is computed serially by the caller):
//   candidate(p) = (score of p at the predecessor + pair score) + gap score(p -> k)
// over p = 0..6, a later p replacing the best only when strictly greater (ties keep
// the lower p; -inf and NaN never win). Lanes are consecutive cells along the third
// string; lanes past `hi` compute values that are never read.
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>

#include "three_way/kernel.hpp"

namespace vorn::three_way::KERNEL_NS {

namespace {

constexpr int kWidth = KERNEL_LANES;
static_assert(kWidth <= kLanes);
constexpr double kNegInf = -std::numeric_limits<double>::infinity();

using VecD = double __attribute__((vector_size(kWidth * 8)));
using VecI = std::int64_t __attribute__((vector_size(kWidth * 8)));
using VecU32 = std::uint32_t __attribute__((vector_size(kWidth * 4)));

template <class V, class T>
inline V load(const T* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class V, class T>
inline void store(T* p, V v) {
    std::memcpy(p, &v, sizeof v);
}

inline VecD splat(double x) { return VecD{} + x; }
inline VecI splat_i(std::int64_t x) { return VecI{} + x; }

}  // namespace

void fill_row(const RowInput& in) {
    for (std::int64_t l = in.lo; l <= in.hi; l += kWidth) {
        const VecD zero = splat(0.0);
        const VecD t13 = load<VecD>(in.t13 + l), t23 = load<VecD>(in.t23 + l);
        VecI word = splat_i(0x1FFFFF);  // every state unset
        for (int k = 0; k < kStates; ++k) {
            if (k == 3) continue;
            if (!in.fits[k]) {
                store(in.out[k] + l, splat(kNegInf));
                continue;
            }
            VecD pair;
            switch (k) {
                case 0: pair = ((zero + in.t12) + t13) + t23; break;
                case 1: pair = zero + t23; break;
                case 2: pair = zero + t13; break;
                case 4: pair = zero + in.t12; break;
                default: pair = zero; break;
            }
            const std::int64_t at = l - ((k & 4) ? 0 : 1);  // l - d3
            VecD best = splat(kNegInf);
            VecI from = splat_i(kUnset3);
            for (int p = 0; p < kStates; ++p) {
                const VecD candidate = (load<VecD>(in.pred[k][p] + at) + pair) + in.gap[k][p];
                const VecI better = candidate > best;
                best = better ? candidate : best;
                from = better ? splat_i(p) : from;
            }
            store(in.out[k] + l, best);
            word = (word & splat_i(~(std::int64_t{7} << (3 * k)))) | (from << (3 * k));
        }
        store(in.words + l, __builtin_convertvector(word, VecU32));
    }
    if (!in.fits[3]) return;
    // State 3 (pair score 0.0) from the cell at l - 1 of this row, split around p = 3.
    const double* gap3 = in.gap[3];
    for (std::int64_t l = in.lo; l <= in.hi; l += kWidth) {
        const VecD zero = splat(0.0);
        VecD best = splat(kNegInf);
        VecI from = splat_i(kUnset3);
        for (int p : {0, 1, 2}) {
            const VecD candidate = (load<VecD>(in.out[p] + l - 1) + zero) + gap3[p];
            const VecI better = candidate > best;
            best = better ? candidate : best;
            from = better ? splat_i(p) : from;
        }
        store(in.low_value + l, best);
        store(in.low_from + l, from);
        best = splat(kNegInf);
        from = splat_i(kUnset3);
        for (int p : {4, 5, 6}) {
            const VecD candidate = (load<VecD>(in.out[p] + l - 1) + zero) + gap3[p];
            const VecI better = candidate > best;
            best = better ? candidate : best;
            from = better ? splat_i(p) : from;
        }
        store(in.high_value + l, best);
        store(in.high_from + l, from);
    }
}

}  // namespace vorn::three_way::KERNEL_NS
