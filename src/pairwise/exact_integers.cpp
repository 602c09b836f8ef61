// The checks behind the integer fills (the reasoning is in exact_integers.hpp).
#include "pairwise/exact_integers.hpp"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "pairwise/fill.hpp"

namespace vorn::pairwise {

namespace {

// Scores are scaled by at most 2^kMaxShift, and no scaled score may exceed 2^30.
constexpr int kMaxShift = 24;
constexpr double kMaxScaled = 1073741824.0;

// The least shift that makes `v` a whole number within the bound; -1 for a score that
// cannot be one (infinite, NaN, -0.0, too fine or too large).
int shift_for(double v) {
    if (!std::isfinite(v) || (v == 0.0 && std::signbit(v))) return -1;
    for (int s = 0; s <= kMaxShift; ++s) {
        const double t = std::ldexp(v, s);
        if (std::fabs(t) > kMaxScaled) return -1;
        if (std::trunc(t) == t) return s;
    }
    return -1;
}

// a * b + c for non-negative operands, or -1 on overflow.
std::int64_t mul_add(std::int64_t a, std::int64_t b, std::int64_t c) {
    std::int64_t out = 0;
    if (__builtin_mul_overflow(a, b, &out) || __builtin_add_overflow(out, c, &out)) return -1;
    return out;
}

}  // namespace

std::optional<IntegerPlan> plan_integer_fill(const double* pair_scores, std::size_t count,
                                             const GapScores& gaps, std::int64_t n, std::int64_t m,
                                             CellType type) {
    int shift = 0;
    for (double v : {gaps.open_eff, gaps.extend, gaps.close}) {
        const int s = shift_for(v);
        if (s < 0) return std::nullopt;
        shift = std::max(shift, s);
    }
    for (std::size_t t = 0; t < count; ++t) {
        const int s = shift_for(pair_scores[t]);
        if (s < 0) return std::nullopt;
        shift = std::max(shift, s);
    }
    auto scaled = [&](double v) -> std::int64_t {
        return static_cast<std::int64_t>(std::ldexp(v, shift));
    };
    for (double v : {gaps.open_eff, gaps.extend, gaps.close}) {
        if (std::fabs(std::ldexp(v, shift)) > kMaxScaled) return std::nullopt;
    }
    std::int64_t s_min = 0, s_max = 0;
    for (std::size_t t = 0; t < count; ++t) {
        if (std::fabs(std::ldexp(pair_scores[t], shift)) > kMaxScaled) return std::nullopt;
        const std::int64_t s = scaled(pair_scores[t]);
        if (t == 0 || s < s_min) s_min = s;
        if (t == 0 || s > s_max) s_max = s;
    }
    const std::int64_t o = scaled(gaps.open_eff), e = scaled(gaps.extend), c = scaled(gaps.close);
    // The steps a candidate adds to its predecessor.
    const std::int64_t match_hi = std::max(s_max, s_max + c), match_lo = std::min(s_min, s_min + c);
    const std::int64_t gap_hi = std::max({std::int64_t{0}, o, e, c, o + c});
    const std::int64_t gap_lo = std::min({std::int64_t{0}, o, e, c, o + c});
    const std::int64_t step = std::max({match_hi, -match_lo, gap_hi, -gap_lo});
    const std::int64_t opening_lo = std::min({std::int64_t{0}, o, c, o + c});

    const std::int64_t shorter = std::min(n, m), longer = std::max(n, m);
    const std::int64_t top =
        mul_add(shorter, std::max<std::int64_t>(match_hi, 0), mul_add(n + m, gap_hi, 0));
    // The path of the lower bound has min(i, j) Match columns and |i - j| + 2 gap columns,
    // most at max(i, j) * b over the grid's corners.
    const std::int64_t a = std::max<std::int64_t>(-s_min, 0), b = -std::min<std::int64_t>(e, 0);
    const std::int64_t along = mul_add(longer, b, 0);
    const std::int64_t across = mul_add(shorter, a, mul_add(longer - shorter, b, 0));
    if (top < 0 || along < 0 || across < 0) return std::nullopt;
    const std::int64_t depth =
        mul_add(2, b - opening_lo - std::min<std::int64_t>(c, 0), std::max(along, across));
    if (depth < 0) return std::nullopt;

    const std::int64_t lowest = type == CellType::Int16 ? -32768 : -2147483648LL;
    const std::int64_t highest = -lowest - 1;
    // Reachable candidates stay at or below `highest`; the floor leaves 5 steps above the
    // type's lowest value for the stand-in and what is added to it.
    if (top > highest - step || -depth - 5 * step <= lowest) return std::nullopt;
    return IntegerPlan{shift, static_cast<std::int32_t>(lowest + 2 * step),
                       static_cast<std::int32_t>(-depth)};
}

int small_table(const std::int32_t* scaled, std::size_t count, std::int16_t* out) {
    if (count > kSmallTable) return 0;
    const std::size_t chunks = (count + 63) / 64;
    std::fill(out, out + chunks * 64, std::int16_t{0});
    for (std::size_t t = 0; t < count; ++t) out[t] = static_cast<std::int16_t>(scaled[t]);
    return static_cast<int>(chunks);
}

}  // namespace vorn::pairwise
