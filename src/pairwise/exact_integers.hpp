// Whether a pairwise fill without a scaler can run on integers and give exactly the
// double fill's values, pointers and score. Plain C++.
//
// Let every score that enters the fill (the pair scores of the bytes that occur,
// gap_open_eff, gap_extend and gap_close) be finite, not -0.0, and a whole multiple of
// 2^-shift. Each cell's double value is then a sum of such numbers, and when every
// magnitude stays below 2^31 * 2^-shift every sum is exact, so the double fill computes
// exactly (integer fill) * 2^-shift on the cells it can reach, with the same strict
// comparisons and so the same pointers and ties. No -0.0 can arise (an IEEE sum is -0.0
// only when both terms are), so the score 0 comes back as +0.0 either way.
//
// The cells that are -inf in the double fill are those no path reaches: Match in row or
// column 0 (but the start), GapInSeq1 in column 0 and GapInSeq2 in row 0. Each of them
// reads only the padding and the sentinels, which hold the stand-in U, so it holds U plus
// one step (a candidate minus its predecessor, at most C in magnitude), and every
// candidate read from it is within 2C of U. The stand-in is U = lowest + 2C: those
// candidates never leave the type, and with every reachable value at least `floor`, where
// floor - C > U + 2C, they lose against every reachable candidate, exactly as -inf loses
// in the double fill. Their own pointers may differ from the double fill's unset ones,
// but the traceback never reads them: it starts at the best end state, which some path
// reaches, and every step from a reachable state goes to a reachable one.
//
// Bounds on the reachable values (S = pair scores, o, e, c = gap_open_eff, gap_extend,
// gap_close, all scaled; a step adds a pair score, possibly with c, or a gap term from
// {0, o, e, c, o + c}): a path has at most min(n, m) Match columns and n + m columns,
// so no value exceeds min(n, m) * max(S, S + c, 0) + (n + m) * max(gap steps). Each
// reachable state of cell (i, j) is reached by a path of min(i, j) or fewer Match columns
// and |i - j| + 2 or fewer gap columns in at most two gaps (so at most two openings and
// two closings), so no value is below
//   -(max over the grid of min(i, j) * |min(S, 0)| + (|i - j| + 2) * |min(e, 0)|)
//     - 2 * |min(o, c, o + c, 0)| - 2 * |min(c, 0)|,
// the maximum lying at a corner: max(n, m) * |min(e, 0)| or
// min(n, m) * |min(S, 0)| + (max(n, m) - min(n, m)) * |min(e, 0)|, plus the 2 columns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "common/engine_input.hpp"
#include "common/engine_policy.hpp"

namespace vorn::pairwise {

struct IntegerPlan {
    int shift;                 // every score times 2^shift is a whole number
    std::int32_t unreachable;  // the stand-in for -inf
    std::int32_t floor;        // no reachable cell holds less
};

// The plan for cells of `type` (Int32 or Int16), or nothing when the scores or the
// lengths do not allow it. `pair_scores` are the scores of every pair of bytes that can
// meet in the fill.
std::optional<IntegerPlan> plan_integer_fill(const double* pair_scores, std::size_t count,
                                             const GapScores& gaps, std::int64_t n, std::int64_t m,
                                             CellType type);

// The score a scaled integer stands for: -inf for a state no path reaches.
inline double integer_score(std::int64_t value, const IntegerPlan& plan) noexcept {
    if (value < plan.floor) return kNegInf;
    return static_cast<double>(value) / static_cast<double>(std::int64_t{1} << plan.shift);
}

// Every score times 2^shift (exact: the plan admits only such scores).
inline std::int32_t scaled_score(double value, const IntegerPlan& plan) noexcept {
    return static_cast<std::int32_t>(value * static_cast<double>(std::int64_t{1} << plan.shift));
}

// The 16-bit fills' permute table: the scaled scores in blocks of 64, zero-padded, into
// `out` (room for kSmallTable entries); returns the number of blocks, 0 (nothing written)
// when there are more than kSmallTable scores.
int small_table(const std::int32_t* scaled, std::size_t count, std::int16_t* out);

}  // namespace vorn::pairwise
