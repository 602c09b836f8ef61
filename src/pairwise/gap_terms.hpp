// The gap terms at one coordinate of a string, free columns and exempt closings folded in:
// the one place where the end rules meet the gap scores, for the single-pair fill (per index)
// and the grouped one (per lane). Plain C++.
#pragma once

#include <cstdint>

#include "common/engine_input.hpp"

namespace vorn::pairwise {

// For gaps in a string of length `len`, at its coordinate x (0..len; -1 and len + 1 are
// padding that only meets unreachable cells): the opening and extension of a gap column there
// (0 where the column is free) and the closing of a gap that ends there (0 where the closing
// is exempt).
struct GapTerm {
    double open, extend, close;
};

inline GapTerm gap_term(std::int64_t x, std::int64_t len, bool left_free, bool right_free,
                        const GapScores& gaps) noexcept {
    const bool free = gap_is_free(x, len, left_free, right_free);
    return {free ? 0.0 : gaps.open_eff, free ? 0.0 : gaps.extend,
            closing_is_exempt(x, left_free) ? 0.0 : gaps.close};
}

}  // namespace vorn::pairwise
