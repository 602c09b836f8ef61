// The score scaler's factor, shared by RustScoreScaler.__call__ and the pairwise
// engine so that both give the same bits. Plain C++.
#pragma once

#include <cmath>
#include <cstdint>

#include "common/pow_symbol.hpp"

namespace vorn {

// One free end's term for a column whose distance from that end is k (1-based):
// 1 / pow(k / T, d), with the C library's pow. For an index idx, k = idx + 1.
inline double end_weight(double k, double decay_exponent, double temperature) noexcept {
    return 1.0 / std::pow(k / temperature, decay_exponent);
}

// The zero-to-one rule applied to a sum of end terms.
inline double one_if_zero(double sum) noexcept { return sum == 0.0 ? 1.0 : sum; }

// The factor for one column: the sum of the enabled ends' terms in the fixed order
// (seq1 left, seq1 right, seq2 left, seq2 right), or 1.0 where that sum is zero.
inline double scale_factor(double decay_exponent, double temperature, const std::int64_t indices[4],
                           const bool flags[4]) noexcept {
    double sum = 0.0;
    for (int k = 0; k < 4; ++k) {
        if (flags[k]) {
            const double x = (static_cast<double>(indices[k]) + 1.0) / temperature;
            const double p = std::pow(x, decay_exponent);
            sum = sum + 1.0 / p;
        }
    }
    return one_if_zero(sum);
}

}  // namespace vorn
