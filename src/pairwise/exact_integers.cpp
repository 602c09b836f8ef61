// The checks behind the integer fills, one per inequality of the argument in
// exact_integers.hpp, numbered by its lines.
#include "pairwise/exact_integers.hpp"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <vector>

#include "common/score_units.hpp"
#include "pairwise/fill.hpp"

namespace vorn::pairwise {

namespace {

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
    const int shift = common_shift(pair_scores, count, {gaps.open_eff, gaps.extend, gaps.close});
    if (shift < 0) return std::nullopt;
    auto whole = [&](double v) { return whole_units(v, shift); };  // (1)
    const std::optional<UnitRange> pairs = whole_range(pair_scores, count, shift);
    if (!pairs) return std::nullopt;
    const std::int64_t s_min = pairs->low, s_max = pairs->high;
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
