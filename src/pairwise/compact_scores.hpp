// The pair scores of the bytes that occur, over compact codes: each side (the first
// strings, the second strings) numbers its distinct bytes in the order it meets them, and
// the fills look scores up at code1 * cols() + code2 in a table of rows() x cols().
// Plain C++.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "score_table/score_table.hpp"

namespace vorn::pairwise {

class CompactScores {
  public:
    CompactScores() noexcept {
        std::fill(std::begin(code1_), std::end(code1_), -1);
        std::fill(std::begin(code2_), std::end(code2_), -1);
    }

    // No byte numbered any more (only the codes given out are cleared).
    void reset() noexcept {
        for (std::uint32_t k = 0; k < sigma1_; ++k) code1_[bytes1_[k]] = -1;
        for (std::uint32_t k = 0; k < sigma2_; ++k) code2_[bytes2_[k]] = -1;
        sigma1_ = sigma2_ = 0;
    }

    // The code of byte b on the first (second) side, numbering b if it is new there.
    std::uint32_t add1(std::uint8_t b) noexcept { return add(b, code1_, bytes1_, sigma1_); }
    std::uint32_t add2(std::uint8_t b) noexcept { return add(b, code2_, bytes2_, sigma2_); }

    // The code of a byte already numbered.
    std::uint32_t code1(std::uint8_t b) const noexcept {
        return static_cast<std::uint32_t>(code1_[b]);
    }
    std::uint32_t code2(std::uint8_t b) const noexcept {
        return static_cast<std::uint32_t>(code2_[b]);
    }

    // The table's shape: a side without bytes (empty strings) still has one code, whose
    // scores are 0.0 and never read.
    std::uint32_t rows() const noexcept { return std::max<std::uint32_t>(sigma1_, 1); }
    std::uint32_t cols() const noexcept { return std::max<std::uint32_t>(sigma2_, 1); }
    std::size_t size() const noexcept { return static_cast<std::size_t>(rows()) * cols(); }

    // Writes the size() scores to out.
    void write(const ScoreTable& table, double* out) const noexcept {
        for (std::uint32_t a = 0; a < rows(); ++a) {
            for (std::uint32_t b = 0; b < cols(); ++b) {
                out[a * cols() + b] =
                    (a < sigma1_ && b < sigma2_) ? table.at(bytes1_[a], bytes2_[b]) : 0.0;
            }
        }
    }

  private:
    static std::uint32_t add(std::uint8_t b, std::int32_t* code, std::uint8_t* bytes,
                             std::uint32_t& sigma) noexcept {
        if (code[b] < 0) {
            code[b] = static_cast<std::int32_t>(sigma);
            bytes[sigma++] = b;
        }
        return static_cast<std::uint32_t>(code[b]);
    }

    std::int32_t code1_[256], code2_[256];
    std::uint8_t bytes1_[256], bytes2_[256];
    std::uint32_t sigma1_ = 0, sigma2_ = 0;
};

}  // namespace vorn::pairwise
