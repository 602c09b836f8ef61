// The pair scores every alignment call hands to an engine. Plain C++: the engines
// include this without Python.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <new>

#include "common/engine_input.hpp"

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

}  // namespace vorn
