// Filling only a band of diagonals of the grid, and proving that the band's alignment is the
// whole grid's, strings and score bits. Plain C++.
//
// Symbols, named alike here and in diagonal_band.cpp (all scores in the integer fill's units,
// see exact_integers.hpp; the band runs only on the integer fills, whose arithmetic is exact):
//   k = j - i   the diagonal of cell (i, j); delta = m - n, the diagonal of the end cell.
//   [low, high] the band: the cells with low <= k <= high, where low <= min(0, delta) and
//               high >= max(0, delta), so that the start and the end cell lie in it. The band
//               fill is the whole fill restricted: a predecessor outside the band reads as
//               unreachable, every other candidate, term and comparison is the whole fill's.
//   S_B         the band fill's final score (closing term included).
//   U           an upper bound on the final score of every complete path, in any state and
//               under the exact position rules (free columns, exempt closings, the end
//               closing), that visits a cell outside the band.
//
// Claim: if S_B > U, the whole fill's result equals the band's.
// (a) Every path inside the band is a path of the whole grid with the same score, so the
//     whole optimum is at least S_B; a path that leaves the band scores at most U < S_B. So
//     the whole optimum is S_B, and only paths inside the band reach it.
// (b) Every cell on the band's traceback has the same value in both fills: a larger whole
//     value there would come from a path that leaves the band, and extended by the rest of
//     the band's optimal path it would be a complete outside path scoring above S_B > U.
// (c) At each such cell the candidates whose predecessors hold the same value in both fills
//     are equal; a candidate whose predecessor holds a larger whole value belongs to an
//     outside path, and if it tied or won there, that path completed as the band's optimal
//     path continues would score at least S_B > U. So the same candidate wins under the first-
//     maximum rule, the same end state is chosen, and the traceback is identical.
// The inequality must be strict: with S_B = U an outside path can tie and win a tie.
//
// The bound. A path that visits diagonal k outside the band goes from k = 0 to k beyond the
// band and back to delta, so it has at least two gaps, and g >= |k| + |k - delta| gap
// columns; the least over the diagonals outside the band that exist is g_min (g has the
// parity of n + m). With g gap columns it has a = (n + m - g) / 2 Match columns.
// (d) The Match columns score at most the a largest row maxima of seq1's bytes (the best pair
//     score of each byte against any byte of seq2, unlisted pairs counting 0.0), and at most
//     the a largest column maxima of seq2's bytes: the least of the two sums.
// (e) Each gap that does not lie along a free row or column totals gap_open + (L - 1) *
//     gap_extend (open_eff, closing included, whether the closing comes with a character or
//     at the end); a free one totals 0. So the gap columns total at most Gap(g):
//       no end free, gap_open <= gap_extend:  g * gap_extend + 2 * (gap_open - gap_extend)
//       no end free, gap_open >  gap_extend:  g * gap_open
//       an end free:                          g * max(0, gap_open, gap_extend)
// (f) U = max over g = g_min, g_min + 2, ..., n + m of [(d) with a = (n + m - g) / 2] + Gap(g).
#pragma once

#include <cstdint>
#include <vector>

namespace vorn::pairwise {

// The band of diagonals [low, high], containing 0 and m - n, `half_width` wider on each side,
// clipped to the grid's diagonals [-n, m].
struct Band {
    std::int64_t low, high;
};
Band band_of(std::int64_t n, std::int64_t m, std::int64_t half_width) noexcept;

// Whether the band holds every cell of the grid.
inline bool covers_grid(const Band& band, std::int64_t n, std::int64_t m) noexcept {
    return band.low <= -n && band.high >= m;
}

// The cells of the band and its longest anti-diagonal.
struct BandCells {
    std::uint64_t cells;
    std::uint64_t longest;
};
BandCells band_cells(std::int64_t n, std::int64_t m, const Band& band) noexcept;

// What the bound reads, in units: the best score of each byte of seq1 against every byte of
// seq2 (row maxima) and the reverse (column maxima), each sorted largest first, and the raw
// gap scores.
struct BoundInput {
    std::int64_t n, m;
    std::vector<std::int64_t> row_maxima;     // one per character of seq1
    std::vector<std::int64_t> column_maxima;  // one per character of seq2
    std::int64_t gap_open;                    // open_eff + close, in units
    std::int64_t gap_extend;
    bool any_end_free;
};

// U for the band (the largest value of (f)), or nothing when no cell lies outside it.
// Saturates at the 64-bit limits, which only makes the proof fail.
std::int64_t outside_bound(const BoundInput& input, const Band& band) noexcept;

// The half-width from which the bound could fall below `score` for a band of half-width
// `half_width` that failed to prove it (U >= score): an estimate, by how fast U falls as the
// band widens; 0 when it never falls (a gap costs nothing).
std::int64_t width_to_prove(const BoundInput& input, std::int64_t half_width, std::int64_t score,
                            std::int64_t bound) noexcept;

}  // namespace vorn::pairwise
