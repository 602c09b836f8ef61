// The pair scores and options every alignment call hands to an engine. Plain C++: the
// engines include this without Python.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>

namespace vorn {

// 256 x 256 pair scores indexed by (first byte, second byte); absent pairs score 0.0.
// Rows are materialised only when written, so a small score matrix costs a few KiB
// instead of a 512 KiB zero fill; every unwritten row reads as the shared zero row.
class ScoreTable {
  public:
    static constexpr int kAlphabet = 256;

    ScoreTable() noexcept { rows_.fill(kZeroRow); }
    ScoreTable(const ScoreTable&) = delete;
    ScoreTable& operator=(const ScoreTable&) = delete;

    double at(std::uint8_t row, std::uint8_t col) const noexcept { return rows_[row][col]; }

    // Stores one score, replacing an earlier one; false when memory runs out.
    bool set(std::uint8_t row, std::uint8_t col, double value) noexcept {
        if (!owned_[row]) {
            owned_[row].reset(new (std::nothrow) double[kAlphabet]());
            if (!owned_[row]) return false;
            rows_[row] = owned_[row].get();
        }
        owned_[row][col] = value;
        return true;
    }

  private:
    alignas(64) static constexpr double kZeroRow[kAlphabet] = {};
    std::array<const double*, kAlphabet> rows_;
    std::array<std::unique_ptr<double[]>, kAlphabet> owned_;
};

// The two numbers of a RustScoreScaler, copied once per call.
struct ScalerParams {
    double decay_exponent;
    double temperature;
};

// How the pairwise engine keeps what its traceback reads: chosen per call from the
// memory it can obtain, or forced (tests compare the two).
enum class TracebackPath : std::uint8_t {
    Automatic,   // the whole grid when it fits comfortably, checkpoints otherwise
    Full,        // one pointer byte per cell of the grid
    Checkpoint,  // scores at every k-th anti-diagonal; blocks re-filled during the traceback
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
    TracebackPath traceback = TracebackPath::Automatic;  // pairwise only
    std::int64_t checkpoint_interval = 0;  // diagonals per block; 0 picks one from the lengths
};

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

}  // namespace vorn
