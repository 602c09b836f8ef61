// The band's geometry and the bound U of diagonal_band.hpp, computed line by line of its
// argument, in 128-bit arithmetic (the lengths times the scores may pass 64 bits).
#include "pairwise/diagonal_band.hpp"

#include <algorithm>
#include <limits>

#include "pairwise/fill.hpp"

namespace vorn::pairwise {

namespace {

__extension__ typedef __int128 Wide;  // GCC and Clang on every 64-bit target
constexpr std::int64_t kNoOutside = std::numeric_limits<std::int64_t>::min();

std::int64_t saturate(Wide v) {
    if (v > std::numeric_limits<std::int64_t>::max())
        return std::numeric_limits<std::int64_t>::max();
    if (v < std::numeric_limits<std::int64_t>::min())
        return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(v);
}

// (d): the sums of the a largest values, for a = 0, 1, ..., of one string's maxima (sorted
// largest first), walked downwards from a = `top`.
class LargestSums {
  public:
    LargestSums(const std::vector<std::int64_t>& sorted, std::int64_t top) : sorted_(sorted) {
        a_ = std::min<std::int64_t>(top, static_cast<std::int64_t>(sorted_.size()));
        for (std::int64_t r = 0; r < a_; ++r) sum_ += sorted_[static_cast<std::size_t>(r)];
    }
    // The sum of the a largest (a at most the starting `top`, non-increasing between calls).
    Wide at(std::int64_t a) {
        while (a_ > a) sum_ -= sorted_[static_cast<std::size_t>(--a_)];
        return sum_;
    }

  private:
    const std::vector<std::int64_t>& sorted_;
    std::int64_t a_ = 0;
    Wide sum_ = 0;
};

}  // namespace

Band band_of(std::int64_t n, std::int64_t m, std::int64_t half_width) noexcept {
    const std::int64_t delta = m - n;
    return {std::max(std::min<std::int64_t>(0, delta) - half_width, -n),
            std::min(std::max<std::int64_t>(0, delta) + half_width, m)};
}

BandCells band_cells(std::int64_t n, std::int64_t m, const Band& band) noexcept {
    const Region<std::int64_t> region{0, n, band.low, band.high, {}, {}, nullptr};
    BandCells out{0, 0};
    for (std::int64_t d = 0; d <= n + m; ++d) {
        const std::int64_t cells = region_hi(region, d, n) - region_lo(region, d, m) + 1;
        if (cells <= 0) continue;
        out.cells += static_cast<std::uint64_t>(cells);
        out.longest = std::max(out.longest, static_cast<std::uint64_t>(cells));
    }
    return out;
}

std::int64_t outside_bound(const BoundInput& in, const Band& band) noexcept {
    const std::int64_t n = in.n, m = in.m, delta = m - n;
    // g_min: the least |k| + |k - delta| over the diagonals outside the band.
    std::int64_t g_min = std::numeric_limits<std::int64_t>::max();
    if (band.high < m) g_min = std::min(g_min, 2 * (band.high + 1) - delta);
    if (band.low > -n) g_min = std::min(g_min, delta - 2 * (band.low - 1));
    if (g_min == std::numeric_limits<std::int64_t>::max()) return kNoOutside;
    // (e): Gap(g).
    const Wide go = in.gap_open, ge = in.gap_extend;
    auto gap = [&](std::int64_t g) -> Wide {
        if (in.any_end_free) return g * std::max({Wide{0}, go, ge});
        return go <= ge ? g * ge + 2 * (go - ge) : g * go;
    };
    // (d) and (f): the largest of the sums over the feasible g, a falling as g rises.
    const std::int64_t a_max = (n + m - g_min) / 2;
    LargestSums rows(in.row_maxima, a_max), columns(in.column_maxima, a_max);
    Wide bound = std::numeric_limits<Wide>::min();
    for (std::int64_t g = g_min; g <= n + m; g += 2) {
        const std::int64_t a = (n + m - g) / 2;
        bound = std::max(bound, std::min(rows.at(a), columns.at(a)) + gap(g));
    }
    return saturate(bound);
}

std::int64_t width_to_prove(const BoundInput& input, std::int64_t half_width, std::int64_t score,
                            std::int64_t bound) noexcept {
    // How fast U falls: its drop over `step` more half-width, extrapolated.
    const std::int64_t step = std::max<std::int64_t>(16, half_width / 4);
    const std::int64_t wider = outside_bound(input, band_of(input.n, input.m, half_width + step));
    if (wider == kNoOutside) return half_width + step;
    const Wide drop = Wide{bound} - wider;
    if (drop <= 0) return 0;
    const Wide deficit = Wide{bound} - score + 1;
    return saturate(half_width + (deficit * step + drop - 1) / drop);
}

}  // namespace vorn::pairwise
