// What an engine is given besides the strings and the score table: the options of the
// call, the gap scores derived from them, and the rules both engines share (upper case,
// free gaps and exempt closings at the ends, the -inf of unreachable states). Plain C++.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace vorn {

// The score of an unreachable state.
inline constexpr double kNegInf = -std::numeric_limits<double>::infinity();

// The two numbers of a RustScoreScaler, copied once per call.
struct ScalerParams {
    double decay_exponent;
    double temperature;
};

struct AlignmentOptions {
    double gap_open = -5.0;
    double gap_extend = -1.0;
    bool seq1_left_free = false;
    bool seq1_right_free = false;
    bool seq2_left_free = false;
    bool seq2_right_free = false;
    bool seq3_left_free = false;  // three-way only
    bool seq3_right_free = false;
    bool enable_gap_close_penalty = true;
    std::optional<ScalerParams> scaler;  // pairwise only
};

// The two strings of one pair of a batch.
using SeqPair = std::pair<std::string, std::string>;

// The gap scores both engines use: with the close penalty the opening score is split
// between a gap's first column and the column where it ends.
struct GapScores {
    double open_eff;  // first column of a gap
    double extend;    // every further column
    double close;     // added where a gap ends
};

inline GapScores derive_gap_scores(const AlignmentOptions& o) noexcept {
    if (o.enable_gap_close_penalty) {
        const double half = (o.gap_open - o.gap_extend) * 0.5;
        return {o.gap_extend + half, o.gap_extend, half};
    }
    return {o.gap_open, o.gap_extend, 0.0};
}

// a-z become A-Z; every other byte (including '-' and bytes >= 0x80) is unchanged.
inline constexpr std::uint8_t upper_ascii(std::uint8_t b) noexcept {
    return (b >= 'a' && b <= 'z') ? static_cast<std::uint8_t>(b - 0x20) : b;
}

// out becomes an upper-cased copy of text: the engines align these copies and build the
// result strings from them.
inline void assign_upper(std::string& out, std::string_view text) {
    out.assign(text);
    for (char& ch : out) ch = static_cast<char>(upper_ascii(static_cast<std::uint8_t>(ch)));
}

// The number of cells of a grid over strings of these lengths, (len + 1) multiplied,
// saturating at the largest value instead of wrapping.
inline constexpr std::uint64_t grid_cells(std::initializer_list<std::uint64_t> lengths) noexcept {
    std::uint64_t cells = 1;
    for (std::uint64_t len : lengths) {
        if (len == ~std::uint64_t{0} || __builtin_mul_overflow(cells, len + 1, &cells))
            return ~std::uint64_t{0};
    }
    return cells;
}

// The end rules, per string and coordinate x (0..len) along it. A gap column at x that
// lies before the string's first character (x == 0) with its left end free, or after its
// last (x == len) with its right end free, scores nothing: the gap is free there.
inline constexpr bool gap_is_free(std::int64_t x, std::int64_t len, bool left_free,
                                  bool right_free) noexcept {
    return (x == 0 && left_free) || (x == len && right_free);
}

// A gap that runs to the end of the alignment in a string whose right end is not free pays its
// closing there: `scale` times `close` (scale 1.0 without a scaler) is added to the end state's
// value. A state no path reaches stays at -inf, and a zero closing adds nothing (not even 0.0
// times an infinite scale).
inline double close_at_end(double value, bool right_free, double close, double scale) noexcept {
    return (!right_free && close != 0.0 && value > kNegInf) ? value + scale * close : value;
}

// A gap that ends at x == 1 with the left end free ran along the free left end, so the
// closing score of the gap is not added there: that closing is exempt.
inline constexpr bool closing_is_exempt(std::int64_t x, bool left_free) noexcept {
    return x == 1 && left_free;
}

}  // namespace vorn
