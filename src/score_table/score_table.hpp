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
// instead of a 512 KiB zero fill. The row pointers are on the heap too: the value itself is
// one pointer, so that an entry's stack frame stays small. A lookup follows two pointers;
// the pairwise engines copy the scores of the bytes that occur into a compact table first.
class ScoreTable {
  public:
    static constexpr int kAlphabet = 256;

    ScoreTable() noexcept = default;
    ScoreTable(const ScoreTable&) = delete;
    ScoreTable& operator=(const ScoreTable&) = delete;

    double at(std::uint8_t row, std::uint8_t col) const noexcept {
        const double* r = rows_ ? (*rows_)[row].get() : nullptr;
        return r ? r[col] : 0.0;
    }

    // Stores one score, replacing an earlier one; false when memory runs out.
    bool set(std::uint8_t row, std::uint8_t col, double value) noexcept {
        if (!rows_) {
            rows_.reset(new (std::nothrow) Rows);
            if (!rows_) return false;
        }
        std::unique_ptr<double[]>& r = (*rows_)[row];
        if (!r) {
            r.reset(new (std::nothrow) double[kAlphabet]());
            if (!r) return false;
        }
        r[col] = value;
        return true;
    }

  private:
    using Rows = std::array<std::unique_ptr<double[]>, kAlphabet>;  // null rows score 0.0
    std::unique_ptr<Rows> rows_;  // null until the first score is written
};

}  // namespace vorn
