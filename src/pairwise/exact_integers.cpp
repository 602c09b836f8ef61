// The checks behind the integer fills, one per inequality of the argument in
// exact_integers.hpp, numbered by its lines.
#include "pairwise/exact_integers.hpp"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <vector>

#include "pairwise/fill.hpp"

namespace vorn::pairwise {

namespace {

// Scores are taken in units of at most 2^-kMaxShift, and no score may exceed 2^30 units.
constexpr int kMaxShift = 24;
constexpr double kMaxUnits = 1073741824.0;

// The least shift in 0..kMaxShift that makes `v` a whole number of units within the bound;
// -1 for a score that cannot be one (infinite, NaN, -0.0, too fine or too large).
int shift_for(double v) {
    if (!std::isfinite(v) || (v == 0.0 && std::signbit(v))) return -1;
    for (int shift = 0; shift <= kMaxShift; ++shift) {
        const double u = units(v, shift);
        if (std::fabs(u) > kMaxUnits) return -1;
        if (std::trunc(u) == u) return shift;
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
    // (1) Every score a whole number of 2^-shift units, at most 2^30 of them: (a). A score's
    // own shift is the least that makes it whole, so the largest of them serves all, and a
    // score within the bound at its own shift may exceed it at a larger one: checked again.
    int shift = 0;
    const double gap_scores[] = {gaps.open_eff, gaps.extend, gaps.close};
    for (double v : gap_scores) {
        const int s = shift_for(v);
        if (s < 0) return std::nullopt;
        shift = std::max(shift, s);
    }
    for (std::size_t t = 0; t < count; ++t) {
        const int s = shift_for(pair_scores[t]);
        if (s < 0) return std::nullopt;
        shift = std::max(shift, s);
    }
    auto whole = [&](double v) -> std::optional<std::int64_t> {
        const double u = units(v, shift);
        if (std::fabs(u) > kMaxUnits) return std::nullopt;  // (1)
        return static_cast<std::int64_t>(u);
    };
    std::int64_t s_min = 0, s_max = 0;
    for (std::size_t t = 0; t < count; ++t) {
        const std::optional<std::int64_t> s = whole(pair_scores[t]);
        if (!s) return std::nullopt;
        if (t == 0 || *s < s_min) s_min = *s;
        if (t == 0 || *s > s_max) s_max = *s;
    }
    const std::optional<std::int64_t> wo = whole(gaps.open_eff), we = whole(gaps.extend),
                                      wc = whole(gaps.close);
    if (!wo || !we || !wc) return std::nullopt;
    const std::int64_t o = *wo, e = *we, c = *wc;

    // C: the largest magnitude of one step (every term below 2^31, so no overflow); c is
    // counted on its own too, which only makes the margins below larger.
    std::int64_t step = 0;
    for (std::int64_t x : {s_min, s_max, s_min + c, s_max + c, o, e, c, o + c})
        step = std::max(step, x < 0 ? -x : x);

    // (b) H, the upper bound.
    const std::int64_t shorter = std::min(n, m), longer = std::max(n, m);
    const std::int64_t match_hi = std::max<std::int64_t>(s_max + std::max<std::int64_t>(c, 0), 0);
    const std::int64_t gap_hi = std::max({std::int64_t{0}, o, e, c, o + c});
    const std::int64_t high = mul_add(shorter, match_hi, mul_add(n + m, gap_hi, 0));
    // (c) F, the floor: -depth.
    const std::int64_t a = std::max<std::int64_t>(-s_min, 0), b = std::max<std::int64_t>(-e, 0);
    const std::int64_t p = std::max({std::int64_t{0}, -o, -c, -(o + c)});
    const std::int64_t q = std::max<std::int64_t>(-c, 0);
    const std::int64_t along = mul_add(longer, b, 0);
    const std::int64_t across = mul_add(shorter, a, mul_add(longer - shorter, b, 0));
    if (high < 0 || along < 0 || across < 0) return std::nullopt;  // past 64 bits
    const std::int64_t depth = mul_add(2, b + p + q, std::max(along, across));
    if (depth < 0) return std::nullopt;
    const std::int64_t floor = -depth;

    const std::int64_t lowest = type == CellType::Int16 ? -32768 : -2147483648LL;
    const std::int64_t highest = -lowest - 1;
    const std::int64_t unreachable = lowest + 2 * step;  // U, so that (d) U - 2C = lowest
    if (!(high + step <= highest)) return std::nullopt;  // (2): (f)
    if (!(floor - step > unreachable + 2 * step))
        return std::nullopt;  // (3): (e), and (d)'s
                              // U + 2C < F <= highest
    return IntegerPlan{shift, static_cast<std::int32_t>(unreachable),
                       static_cast<std::int32_t>(floor)};
}

int small_table(const std::int32_t* scaled, std::size_t count, std::int16_t* out) {
    if (count > kSmallTable) return 0;
    const std::size_t chunks = (count + 63) / 64;
    std::fill(out, out + chunks * 64, std::int16_t{0});
    for (std::size_t t = 0; t < count; ++t) out[t] = static_cast<std::int16_t>(scaled[t]);
    return static_cast<int>(chunks);
}

}  // namespace vorn::pairwise
