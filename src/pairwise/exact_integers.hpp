// Whether a pairwise fill without a scaler can run on integers and give exactly the double
// fill's values, pointers and score. Plain C++.
//
// Symbols, named alike here and in exact_integers.cpp:
//   shift   every score that enters the fill (the pair scores S of the bytes that occur, and
//           o = gap_open_eff, e = gap_extend, c = gap_close) is finite, not -0.0, and a whole
//           multiple of 2^-shift; its units, units(v) = v * 2^shift, are whole numbers of
//           magnitude at most 2^30.
//   C       the largest magnitude of one step of a candidate, a step being what a candidate
//           adds to its predecessor's value, or a partial sum to it: S, S + c (Match),
//           o, e, o + c (a gap column), and the partial sums S and o (c alone is counted too).
//   H       an upper bound on every value the fill can reach (units).
//   F       a lower bound (the floor) on every reachable value (units).
//   lowest, highest   the cell type's range; U = lowest + 2C, the stand-in for -inf.
//
// (a) Exactness. Every reachable value is a sum of scores, each a whole number of units, and
//     stays within [F - C, H + C], so below 2^53 units in magnitude: every double sum is exact
//     and the double fill computes exactly (integer fill) * 2^-shift, with the same strict
//     comparisons and so the same pointers and ties. No -0.0 arises (an IEEE sum is -0.0
//     only when both terms are, and the start is +0.0), so a score of 0 is +0.0 either way.
// (b) H: a path has at most min(n, m) Match columns and n + m columns, so no value exceeds
//     min(n, m) * max(S + max(c, 0), 0) + (n + m) * max(o, e, c, o + c, 0).
// (c) F: each reachable state of cell (i, j) is reached by a path of min(i, j) or fewer Match
//     columns and |i - j| + 2 or fewer gap columns in at most two gaps (two openings, two
//     closings), so no value is below
//       -( max over the grid of [min(i, j) * a + |i - j| * b] + 2b + 2p + 2q ),
//     with a = max(-S, 0), b = max(-e, 0), p = max(-o, -c, -(o + c), 0), q = max(-c, 0); the
//     maximum over the grid lies at a corner: max(n, m) * b, or min(n, m) * a +
//     (max(n, m) - min(n, m)) * b.
// (d) The unreachable cells of the double fill (-inf there) are Match in row or column 0 but
//     the start, GapInSeq1 in column 0 and GapInSeq2 in row 0. Each reads only padding and
//     sentinels, which hold U, so it holds a value in [U - C, U + C], and every candidate or
//     partial sum read from it lies in [U - 2C, U + 2C] = [lowest, lowest + 4C]: it never
//     leaves the type.
// (e) Every candidate from a reachable predecessor is at least F - C. With F - C > U + 2C it
//     beats every candidate from an unreachable one, exactly as a finite value beats -inf;
//     where all of a cell's candidates come from unreachable cells the cell is unreachable in
//     the double fill too. The pointers of unreachable cells may differ from the double
//     fill's unset ones, but the traceback never reads them: it starts at the best end state,
//     which some path reaches, and every step from a reachable state goes to a reachable one.
// (f) Every candidate from a reachable predecessor is at most H + C, which must not exceed
//     highest.
// (g) The kernels regroup a candidate's sums (X' + c, then + S, for c + (X' + S)) and compare
//     the Match candidates before the pair score is added to the winner. Every partial sum is
//     still a value plus one step (c, o + c and S count as steps), so within the bounds of
//     (d), (e) and (f): nothing that is read wraps, and adding S to all three candidates keeps
//     their order, so the values and the choices are those of the double fill.
// The checks in plan_integer_fill are numbered after these lines. Integer sums in the kernels
// wrap (unsigned), so the lanes past a diagonal's end, which read slack and are never read
// back, are defined behaviour.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "common/engine_input.hpp"
#include "common/engine_policy.hpp"
#include "common/score_units.hpp"

namespace vorn::pairwise {

struct IntegerPlan {
    int shift;                 // every score is a whole number of 2^-shift units
    std::int32_t unreachable;  // U, the stand-in for -inf
    std::int32_t floor;        // F: no reachable cell holds less
};

// The plan for cells of `type` (Int32 or Int16), or nothing when the scores or the
// lengths do not allow it. `pair_scores` are the scores of every pair of bytes that can
// meet in the fill.
std::optional<IntegerPlan> plan_integer_fill(const double* pair_scores, std::size_t count,
                                             const GapScores& gaps, std::int64_t n, std::int64_t m,
                                             CellType type);

// A score in the plan's units, as the integer fills hold it.
inline std::int32_t scaled_score(double value, const IntegerPlan& plan) noexcept {
    return static_cast<std::int32_t>(units(value, plan.shift));
}

// The score a value of the integer fill stands for: -inf for a state no path reaches.
inline double integer_score(std::int64_t value, const IntegerPlan& plan) noexcept {
    if (value < plan.floor) return kNegInf;
    return static_cast<double>(value) / static_cast<double>(std::int64_t{1} << plan.shift);
}

// The 16-bit fills' permute table: the scaled scores in blocks of 64, zero-padded, into
// `out` (room for kSmallTable entries); returns the number of blocks, 0 (nothing written)
// when there are more than kSmallTable scores.
int small_table(const std::int32_t* scaled, std::size_t count, std::int16_t* out);

}  // namespace vorn::pairwise
