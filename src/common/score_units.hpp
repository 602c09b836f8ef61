// Scores as whole numbers of units of 2^-shift: the integer fills of both engines hold every
// score so, and their exactness checks start here. Plain C++.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>

namespace vorn {

// Scores are taken in units of at most 2^-kMaxShift, and no score may exceed 2^30 units.
inline constexpr int kMaxShift = 24;
inline constexpr double kMaxUnits = 1073741824.0;

// v in units of 2^-shift, v * 2^shift (exact for a whole number of units within the bound).
inline double units(double v, int shift) noexcept {
    return v * static_cast<double>(std::int64_t{1} << shift);
}

// The least shift in 0..kMaxShift that makes `v` a whole number of units within the bound; -1
// for a score that cannot be one (infinite, NaN, -0.0, too fine or too large).
inline int shift_for(double v) noexcept {
    if (!std::isfinite(v) || (v == 0.0 && std::signbit(v))) return -1;
    for (int shift = 0; shift <= kMaxShift; ++shift) {
        const double u = units(v, shift);
        if (std::fabs(u) > kMaxUnits) return -1;
        if (std::trunc(u) == u) return shift;
    }
    return -1;
}

// The least shift that serves every score of `scores` and of `more` (the largest of their
// own), or -1 when one of them has none.
inline int common_shift(const double* scores, std::size_t count,
                        std::initializer_list<double> more) noexcept {
    int shift = 0;
    for (double v : more) {
        const int s = shift_for(v);
        if (s < 0) return -1;
        shift = s > shift ? s : shift;
    }
    for (std::size_t t = 0; t < count; ++t) {
        const int s = shift_for(scores[t]);
        if (s < 0) return -1;
        shift = s > shift ? s : shift;
    }
    return shift;
}

// v in units at `shift`, or nothing when that passes the bound (a score within it at its own
// shift may pass it at a larger one).
inline std::optional<std::int64_t> whole_units(double v, int shift) noexcept {
    const double u = units(v, shift);
    if (std::fabs(u) > kMaxUnits) return std::nullopt;
    return static_cast<std::int64_t>(u);
}

// The least and the largest of `count` scores in units at `shift` (0 and 0 for none), or
// nothing when one passes the bound.
struct UnitRange {
    std::int64_t low, high;
};
inline std::optional<UnitRange> whole_range(const double* scores, std::size_t count,
                                            int shift) noexcept {
    UnitRange range{0, 0};
    for (std::size_t t = 0; t < count; ++t) {
        const std::optional<std::int64_t> u = whole_units(scores[t], shift);
        if (!u) return std::nullopt;
        if (t == 0 || *u < range.low) range.low = *u;
        if (t == 0 || *u > range.high) range.high = *u;
    }
    return range;
}

}  // namespace vorn
