// Whether a three-way fill can run on integers and give exactly the double fill's values,
// pointers and score. Plain C++.
//
// Let every score that enters the fill (the pair scores of the bytes that occur, O =
// gap_open_eff, E = gap_extend, C = gap_close) be finite, not -0.0, and a whole multiple of
// 2^-shift, at most 2^30 in magnitude once scaled by 2^shift. Every value of the double fill
// is then a sum of such numbers; while the sums stay below 2^31 scaled they are exact, so the
// double fill computes exactly (integer fill) * 2^-shift, with the same comparisons and so the
// same pointers and ties. (The integer fill adds a state's pair score after the maximum of its
// seven candidates, which moves them all by the same amount.) No -0.0 arises: an IEEE sum is
// -0.0 only when both terms are, and the start is +0.0.
//
// Unreachable entries. With finite scores, the entries at -inf in the double fill are those
// whose state does not fit their cell (a character of string s at x_s = 0) and the start
// cell's states 1 to 6: every other cell has a fitting state, all 49 transitions are allowed,
// so by induction over the fill order every fitting entry is reached. A non-fitting entry's
// predecessor cell lies outside the grid, where the integer fill reads the stand-in U, and the
// start cell's other states hold U; so a non-fitting entry holds a value within D (below) of
// U, and a candidate read from one lies within 2D of U. Their pointers may differ from the
// double fill's unset ones, but the traceback never reads them: it starts at the best end
// state, which is reachable, and every step from a reachable entry goes to a reachable one.
//
// The integer cells keep each value v of state k as 8 v + (7 - k): the low bits break ties
// (the largest of the candidates 8 (v_p + gap) + (7 - p) is the first maximum in p order), so
// v itself must lie in [lowest / 8, (highest - 7) / 8], lowest and highest the limits of the
// cell type. The integer step adds the gap score in two parts: the terms of the predecessor's
// gaps (at most two, each E - O or C or 0) before the maximum, then the state's openings (up to
// three O) with the pair score.
//
// Symbols, all scaled by 2^shift:
//   S_max, S_min  the largest and smallest pair score of the bytes that occur.
//   W = max(|O|, |E|, |C|), S_abs = max(|S_max|, |S_min|).
//   D = 3 S_abs + 4 W: every partial sum of a candidate, in either fill, lies within D of the
//     predecessor's value (the predecessor's gap terms within 4 W, the whole gap score within
//     3 W, the pair score within 3 S_abs).
//   N = len1 + len2 + len3, the most characters a path consumes.
//   G_hi = 3 max(0, O, E, C), the most a column's gap score adds.
//   Top = N (max(0, S_max) + G_hi): a column of c characters holds at most c pairs, so it adds
//     at most c max(0, S_max) + G_hi <= c (max(0, S_max) + G_hi); no path, and no reachable
//     value, scores more.
//   F = -Depth, the floor: entry (k, x) is reached, through y = x - d(k), by the path of
//     n1 = y(1) columns of three characters, n2 = y(2) - y(1) columns of the two strings with
//     the larger coordinates, n3 = y(3) - y(2) columns of the string with the largest, then
//     the column of state k (y(r) are y's coordinates in increasing order). Each string has
//     at most two gap runs on it, so at most six openings and six closings. With the
//     magnitudes s = max(0, -S_min), e = max(0, -E), o = max(0, -O), c = max(0, -C), a gapped
//     column of a string costs at most e, the first of a run at most o more, a closing at most
//     c, so the path scores at least -(3s n1 + (s + e) n2 + 2e n3 + Last + 6o + 6c), Last =
//     3s + 2e for the final column. As y(r) <= L(r), the lengths in increasing order,
//     n1 <= L(1), n1 + n2 <= L(2), n1 + n2 + n3 <= L(3); the linear form is largest at a
//     vertex of that region (n1 = 0 or L(1), n1 + n2 = n1 or L(2), n1 + n2 + n3 = n1 + n2 or
//     L(3)), and Depth is that largest value plus Last + 6o + 6c.
//   lowest_v = lowest / 8, highest_v = (highest - 7) / 8: the values the encoding holds.
//   U = lowest_v + 2D, the stand-in for -inf, so that U - 2D never leaves them.
//
// Checks, numbered as in plan_integer_fill:
//   (1) every score is whole once scaled, with |score| <= 2^30 (so the double fill is exact
//       while (2) and (3) hold, and the bounds above are computed without overflow).
//   (2) Top + D <= highest_v: no candidate or partial sum of a reachable entry leaves the type.
//   (3) F - D > U + 2D: every candidate from a reachable entry beats every candidate from a
//       non-fitting one, as -inf loses in the double fill; so every non-fitting entry
//       (at most U + D) lies below F and reads as -inf at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "common/engine_input.hpp"
#include "common/engine_policy.hpp"

namespace vorn::three_way {

struct IntegerPlan {
    int shift;                 // every score times 2^shift is a whole number
    std::int32_t unreachable;  // U, the stand-in for -inf
    std::int32_t floor;        // F: no reachable entry holds less
};

// The plan for cells of `type` (Int32 or Int16), or nothing when the scores or the lengths do
// not allow it. `pair_scores` are the scores of every pair of bytes that can meet in a column.
std::optional<IntegerPlan> plan_integer_fill(const double* pair_scores, std::size_t count,
                                             const GapScores& gaps, const std::int64_t len[3],
                                             CellType type);

// The score an integer cell stands for (its value v is the cell shifted right by the three
// tie-break bits): -inf for an entry no path reaches.
inline double integer_score(std::int64_t cell, const IntegerPlan& plan) noexcept {
    const std::int64_t value = cell >> 3;
    if (value < plan.floor) return kNegInf;
    return static_cast<double>(value) / static_cast<double>(std::int64_t{1} << plan.shift);
}

// A score times 2^shift (exact: the plan admits only such scores); the cells and the kernel's
// terms hold it times 8 more.
inline std::int32_t scaled_score(double value, const IntegerPlan& plan) noexcept {
    return static_cast<std::int32_t>(value * static_cast<double>(std::int64_t{1} << plan.shift));
}

}  // namespace vorn::three_way
