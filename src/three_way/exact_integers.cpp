// The checks behind the three-way integer fills (the argument is in exact_integers.hpp, in
// the same symbols).
#include "three_way/exact_integers.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <initializer_list>

#include "common/score_units.hpp"

namespace vorn::three_way {

namespace {

// Sums and products of the bounds, false once one leaves 64 bits (the plan is then refused).
struct Checked {
    bool ok = true;
    std::int64_t add(std::int64_t a, std::int64_t b) {
        std::int64_t out = 0;
        ok = ok && !__builtin_add_overflow(a, b, &out);
        return out;
    }
    std::int64_t mul(std::int64_t a, std::int64_t b) {
        std::int64_t out = 0;
        ok = ok && !__builtin_mul_overflow(a, b, &out);
        return out;
    }
};

}  // namespace

std::optional<IntegerPlan> plan_integer_fill(const double* pair_scores, std::size_t count,
                                             const GapScores& gaps, const std::int64_t len[3],
                                             CellType type) {
    // (1) Every score whole once scaled by the largest shift any of them needs, and within 2^30.
    const int shift = common_shift(pair_scores, count, {gaps.open_eff, gaps.extend, gaps.close});
    if (shift < 0) return std::nullopt;
    auto scaled = [&](double v) { return whole_units(v, shift); };  // (1)
    const std::optional<UnitRange> pairs = whole_range(pair_scores, count, shift);
    if (!pairs) return std::nullopt;  // (1)
    const std::int64_t S_max = pairs->high, S_min = pairs->low;
    const auto O_ = scaled(gaps.open_eff), E_ = scaled(gaps.extend), C_ = scaled(gaps.close);
    if (!O_ || !E_ || !C_) return std::nullopt;  // (1)
    const std::int64_t O = *O_, E = *E_, C = *C_;

    Checked checked;
    const std::int64_t W = std::max({std::abs(O), std::abs(E), std::abs(C)});
    const std::int64_t S_abs = std::max(std::abs(S_max), std::abs(S_min));
    const std::int64_t D = 3 * S_abs + 4 * W;
    const std::int64_t G_hi = 3 * std::max({std::int64_t{0}, O, E, C});
    const std::int64_t N = checked.add(checked.add(len[0], len[1]), len[2]);
    const std::int64_t Top = checked.mul(N, std::max<std::int64_t>(0, S_max) + G_hi);

    const std::int64_t s = std::max<std::int64_t>(0, -S_min), e = std::max<std::int64_t>(0, -E);
    const std::int64_t o = std::max<std::int64_t>(0, -O), c = std::max<std::int64_t>(0, -C);
    std::int64_t L[3] = {len[0], len[1], len[2]};
    std::sort(L, L + 3);
    std::int64_t deepest = 0;
    for (std::int64_t n1 : {std::int64_t{0}, L[0]}) {
        for (std::int64_t n12 : {n1, L[1]}) {
            for (std::int64_t n123 : {n12, L[2]}) {
                const std::int64_t n2 = n12 - n1, n3 = n123 - n12;
                const std::int64_t form =
                    checked.add(checked.add(checked.mul(3 * s, n1), checked.mul(s + e, n2)),
                                checked.mul(2 * e, n3));
                deepest = std::max(deepest, form);
            }
        }
    }
    const std::int64_t Last = 3 * s + 2 * e;
    const std::int64_t Depth = checked.add(deepest, Last + 6 * o + 6 * c);
    const std::int64_t F = -Depth;

    const std::int64_t lowest = type == CellType::Int16 ? -32768 : -2147483648LL;
    const std::int64_t highest = -lowest - 1;
    const std::int64_t lowest_v = lowest / 8, highest_v = (highest - 7) / 8;
    const std::int64_t U = lowest_v + 2 * D;
    const std::int64_t top_candidate = checked.add(Top, D), low_candidate = checked.add(F, -D);
    if (!checked.ok) return std::nullopt;
    if (!(top_candidate <= highest_v)) return std::nullopt;  // (2)
    if (!(low_candidate > U + 2 * D)) return std::nullopt;   // (3)
    return IntegerPlan{shift, static_cast<std::int32_t>(U), static_cast<std::int32_t>(F)};
}

}  // namespace vorn::three_way
